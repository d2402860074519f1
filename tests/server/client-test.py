#!/usr/bin/env python3
"""The game as a client of the rankings server, on 127.0.0.1 only: a ranked game played headless
with --online and kept with its token, --submit while the server is down (the file kept), then
accepted and ranked, then again (nothing sent); a forged game refused with the server's reason;
and servers that answer junk, too much, an HTML error or a refusal, each told in one line.
   client-test.py SERVER GAME"""
import http.server
import json
import os
import re
import socket
import subprocess
import sys
import tempfile
import threading

import serverkit

server_exe, game = sys.argv[1], sys.argv[2]
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what, file=sys.stderr)


def run(*args):
    p = subprocess.run([game] + list(args), capture_output=True, text=True, timeout=120)
    return p.returncode, p.stdout, p.stderr


def one_line(text):
    return text.count("\n") == 1 and "Traceback" not in text


# Two coins, a two-player game, player 2 holding Up; whenever the game asks for initials, K, L, M
# and Enter come within the next 300 ms (they play no part in a rally). A long game of two
# players may last several minutes.
script = "100 tap Q\n700 tap Q\n1300 tap 2\n1400 down Up\n"
for t in range(3000, 1200000, 300):
    script += "".join("%d tap %s\n" % (t + 50 * i, c) for i, c in enumerate("KLM")) + "%d tap Enter\n" % (t + 150)


def play_ranked(base, data):
    """A ranked game headless: its kept file's path, or None."""
    code, out, err = run("--headless", "--online", base, "--script", script_file, "--data-dir", data,
                         "--run-ms", "1200000")
    check(code == 0 and one_line(out), "the ranked game is played and its file named (%s %r %r)" % (code, out, err))
    path = out.strip()
    return path if os.path.isfile(path) else None


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Hostile(http.server.BaseHTTPRequestHandler):
    """Answers by the first part of the path: junk, huge, html, refuse, badseed."""

    def log_message(self, *args):
        pass

    def do_POST(self):
        self.rfile.read(int(self.headers.get("Content-Length") or 0))
        kind = self.path.split("/")[1]
        status, body, ctype = {
            "junk": (201, b"\x00\xffnot json{", "application/json"),
            "huge": (201, b"{\"token\": \"" + b"a" * (4 << 20) + b"\"}", "application/json"),
            "html": (500, b"<html><body>Internal Server Error</body></html>", "text/html"),
            "refuse": (403, json.dumps({"error": "no seeds \x1b[31mtoday"}).encode(), "application/json"),
            "badseed": (201, json.dumps({"token": "zz", "seed": -1, "expires": 0}).encode(), "application/json"),
        }.get(kind, (404, b"", "text/plain"))
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        try:
            self.wfile.write(body)
        except OSError:
            pass


with tempfile.TemporaryDirectory() as tmp:
    script_file = os.path.join(tmp, "won.txt")
    with open(script_file, "w") as f:
        f.write(script)
    data = os.path.join(tmp, "data")
    server = serverkit.Server(server_exe, ["--data-dir", os.path.join(tmp, "db")])
    try:
        path = play_ranked(server.base, data)
        check(path is not None and os.path.dirname(path) == os.path.join(data, "ranked"), "kept as ranked/SEED.txt")
        with open(path, "rb") as f:
            kept = f.read()
        check(re.search(rb"^# ranked-token [0-9a-f]+\n", kept, re.M) is not None, "the file holds its token")

        # The server down: told in one line, exit 1, the file as it was.
        code, out, err = run("--submit", path, "--server", "http://127.0.0.1:%d" % free_port())
        check(code == 1 and out == "" and one_line(err) and "cannot reach" in err, "server down: %s %r" % (code, err))
        with open(path, "rb") as f:
            check(f.read() == kept, "server down: the file is kept as it was")

        code, out, err = run("--submit", path, "--server", server.base)
        m = re.match(r"ranked: place \d+ of the two-player games, \d+:\d+, player [12], initials (\w{3}) \(run (\d+)\)\n$",
                     out)
        check(code == 0 and m is not None, "submitted and ranked: %s %r %r" % (code, out, err))
        ranked = serverkit.all_ranked(server)
        if m:
            check([(r["id"], r["initials"]) for r in ranked] == [(int(m.group(2)), m.group(1))], "in the rankings")

        # Sent already: refused here, nothing sent.
        code, out, err = run("--submit", path, "--server", server.base)
        check(code == 1 and "sent already" in err and one_line(err), "not sent twice: %s %r" % (code, err))
        check(serverkit.all_ranked(server) == ranked, "nothing more ranked")
        code, _, err = run("--headless", "--script", path)
        check(code == 0, "a sent file still plays: %s %r" % (code, err))

        # A forged game (another seed in its header): the server's own reason, the file kept.
        path2 = play_ranked(server.base, data)
        with open(path2) as f:
            text = f.read()
        forged = re.sub(r"^# seed (\d+)$", lambda s: "# seed %d" % (int(s.group(1)) + 1), text, flags=re.M)
        with open(path2, "w") as f:
            f.write(forged)
        code, out, err = run("--submit", path2, "--server", server.base)
        check(code == 1 and "the server refused the game: " in err and one_line(err) and "is kept" in err,
              "forged: %s %r" % (code, err))
        check(os.path.exists(path2) and serverkit.all_ranked(server) == ranked, "forged: kept, nothing ranked")
    finally:
        check(server.stop() == 0, "the server ends cleanly")

    # Files that are not kept ranked games, and the usage.
    for args, what in ((["--submit", tmp, "--server", "http://127.0.0.1:1"], "a directory"),
                       (["--submit", script_file, "--server", "http://127.0.0.1:1"], "a script"),
                       (["--submit", os.path.join(tmp, "none"), "--server", "http://127.0.0.1:1"], "a missing file"),
                       (["--submit", script_file], "no server"),
                       (["--online", "ftp://127.0.0.1/", "--headless"], "not http"),
                       (["--online", "http://127.0.0.1:1", "--seed", "3"], "--online with --seed")):
        code, out, err = run(*args)
        check(code == 2 and one_line(err), "%s: exit 2 in one line (%s %r)" % (what, code, err))

    # Servers that answer what no rankings server would.
    hostile = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Hostile)
    threading.Thread(target=hostile.serve_forever, daemon=True).start()
    base = "http://127.0.0.1:%d/" % hostile.server_address[1]
    for kind, said in (("junk", "something other than a seed"), ("huge", "larger than"), ("html", "HTTP 500"),
                       ("refuse", "no seeds \\x1B[31mtoday"), ("badseed", "something other than a seed")):
        code, out, err = run("--headless", "--online", base + kind, "--script", script_file, "--data-dir", data)
        check(code == 1 and one_line(err) and said in err and out == "", "%s: %s %r" % (kind, code, err))
    with open(path2, "w") as f:
        f.write(text)
    code, out, err = run("--submit", path2, "--server", base + "huge")
    check(code == 1 and "larger than" in err and os.path.exists(path2), "huge answer to a submission: %r" % err)
    hostile.shutdown()

if failures:
    sys.exit("%d failure(s)" % len(failures))
print("server client: all checks passed")
