#!/usr/bin/env python3
"""The rankings server as a client meets it, on 127.0.0.1 only: a won game submitted and ranked,
then hostile requests (empty, junk, too large, malformed JSON and UTF-8, path tricks, a client
sending one byte a second) after which the server still answers and has stored nothing of them;
SIGTERM ends it cleanly. With --postgres, on a database of the tests' PostgreSQL cluster (the
state file of tests/server/pg-cluster.sh; skipped, exit 77, without one).
   api-test.py SERVER RECORD_GAME [--postgres STATE]"""
import json
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.error
import urllib.request

import serverkit

server_exe, record_game = sys.argv[1], sys.argv[2]
database = []
if len(sys.argv) == 5 and sys.argv[3] == "--postgres":
    url = serverkit.pg_database(sys.argv[4], "api%d" % os.getpid())
    if url is None:
        print("server api: skipped, no PostgreSQL cluster (are PostgreSQL's server programs installed?)")
        sys.exit(serverkit.SKIP)
    database = ["--database", url]
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what, file=sys.stderr)


def request(method, path, body=None, content_type="application/json"):
    req = urllib.request.Request(base + path, data=body, method=method)
    if body is not None:
        req.add_header("Content-Type", content_type)
    try:
        with urllib.request.urlopen(req, timeout=30) as r:
            return r.status, r.headers, r.read()
    except urllib.error.HTTPError as e:
        return e.code, e.headers, e.read()


def raw(data, timeout=10):
    """Sends bytes as they are and returns what comes back until the server closes."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(data)
        out = b""
        while True:
            try:
                chunk = s.recv(65536)
            except (socket.timeout, ConnectionResetError):
                break
            if not chunk:
                break
            out += chunk
            if b"\r\n\r\n" in out and b"Connection: close" not in out and len(out) > 0:
                # A kept-alive answer: enough once its body is in.
                head, _, rest = out.partition(b"\r\n\r\n")
                m = re.search(rb"Content-Length: (\d+)", head)
                if m and len(rest) >= int(m.group(1)):
                    break
        return out


def status_of(answer):
    m = re.match(rb"HTTP/1\.1 (\d+)", answer)
    return int(m.group(1)) if m else None


def rankings():
    status, _, body = request("GET", "/api/rankings?mode=2&limit=100")
    check(status == 200, "rankings answer 200")
    return json.loads(body)["runs"]


with tempfile.TemporaryDirectory() as top:
    site = os.path.join(top, "site")
    os.makedirs(site)
    with open(os.path.join(site, "index.html"), "w") as f:
        f.write("<!doctype html><title>Rall</title>")
    with open(os.path.join(site, "rall.wasm"), "wb") as f:
        f.write(b"\0asm\1\0\0\0")
    with open(os.path.join(top, "secret.txt"), "w") as f:
        f.write("secret")
    data = os.path.join(top, "data")
    proc = subprocess.Popen([server_exe, "--listen", "127.0.0.1:0", "--data-dir", data, "--site", site,
                             "--header-timeout", "2", "--body-timeout", "2", "--posts-per-minute", "1000"] + database,
                            stderr=subprocess.PIPE, text=True)
    log = []
    port = None
    deadline = time.time() + 20
    while port is None and time.time() < deadline:
        line = proc.stderr.readline()
        if not line:
            break
        log.append(line)
        m = re.search(r"listening on 127\.0\.0\.1:(\d+)", line)
        if m:
            port = int(m.group(1))
    if port is None:
        proc.kill()
        sys.exit("the server did not start: " + "".join(log))
    threading.Thread(target=lambda: log.extend(iter(proc.stderr.readline, "")), daemon=True).start()
    base = "http://127.0.0.1:%d" % port

    try:
        status, _, body = request("GET", "/api/health")
        check(status == 200 and json.loads(body) == {"ok": True}, "health")

        # A won game on the server's seed.
        status, _, body = request("POST", "/api/seeds", b"")
        check(status == 201, "a seed is issued")
        issued = json.loads(body)
        recording = os.path.join(top, "won.txt")
        subprocess.run([record_game, str(issued["seed"]), recording], check=True, timeout=60)
        with open(recording, encoding="utf-8") as f:
            text = f.read()
        submission = json.dumps({"token": issued["token"], "recording": text}).encode()
        status, _, body = request("POST", "/api/runs", submission)
        check(status == 201, "the won game is ranked (%d %s)" % (status, body[:200]))
        run = json.loads(body)
        check(run["mode"] == 2 and run["initials"] == "ABC" and run["place"] == 1, "the run as replayed")
        listed = rankings()
        check([r["id"] for r in listed] == [run["id"]], "the run is in the rankings")
        status, _, body = request("GET", "/api/runs/%d/recording" % run["id"])
        check(status == 200 and body.decode() == text, "its recording comes back whole")
        status, _, body = request("POST", "/api/runs", submission)
        check(status == 409, "the same submission twice is refused")

        # The page's files, with their types, and nothing beside them.
        status, headers, body = request("GET", "/rall.wasm")
        check(status == 200 and headers["Content-Type"] == "application/wasm", "wasm served as such")
        status, _, body = request("GET", "/")
        check(status == 200 and b"Rall" in body, "index served")
        for path in [b"/../secret.txt", b"/%2e%2e/secret.txt", b"/..%2fsecret.txt", b"/index.html%00"]:
            answer = raw(b"GET " + path + b" HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
            check(status_of(answer) in (400, 404) and b"secret" not in answer.split(b"\r\n\r\n", 1)[-1],
                  "path trick %r refused (%r)" % (path, answer[:40]))

        # Hostile bodies: empty, junk, 2 MB, malformed JSON and UTF-8, a wrong type.
        hostile = [(b"", 400), (b"junk", 400), (b"{\"token\": ", 400), (b"{\"token\": \"a\", \"recording\": \"\xff\"}", 400),
                   (b"x" * (2 * 1024 * 1024), 413)]
        for body_bytes, expected in hostile:
            try:
                status, _, body = request("POST", "/api/runs", body_bytes)
            except (ConnectionError, urllib.error.URLError):
                status = 413  # refused before the body was all sent
            check(status == expected, "hostile body %r answers %d (got %s)" % (body_bytes[:20], expected, status))
        status, _, _ = request("POST", "/api/runs", submission, "text/plain")
        check(status == 415, "a body other than JSON")
        check(status_of(raw(b"\x00\x01garbage\r\n\r\n")) in (400, None), "a request that is not HTTP")
        status, _, _ = request("GET", "/api/rankings?mode=2&limit=1000")
        check(status == 400, "limit above 100")

        # A client sending a byte a second is dropped at its deadline; others are served meanwhile.
        slow = socket.create_connection(("127.0.0.1", port), timeout=10)
        dropped = threading.Event()

        def dribble():
            try:
                for b in b"POST /api/runs HTTP/1.1\r\nHost: x\r\n":
                    slow.send(bytes([b]))
                    time.sleep(1)
            except OSError:
                dropped.set()
        t = threading.Thread(target=dribble, daemon=True)
        t.start()
        started = time.time()
        status, _, _ = request("GET", "/api/health")
        check(status == 200 and time.time() - started < 2, "served while a slow client dribbles")
        slow.settimeout(8)
        try:
            gone = slow.recv(1024) == b""
        except (ConnectionResetError, socket.timeout):
            gone = True
        check(gone and time.time() - started < 8, "the slow client is dropped at its deadline")
        slow.close()

        check(rankings() == listed, "nothing stored from the hostile requests")
        status, _, _ = request("GET", "/api/health")
        check(status == 200, "still answering")
        check(any(re.search(r"GET /api/health 200 \d+ms 127\.0\.0\.1", l) for l in log), "one log line a request")
        check(any(re.search(r"POST /api/runs 413 \d+ms", l) for l in log), "a refused body's line names its request")
    finally:
        proc.send_signal(signal.SIGTERM)
        try:
            code = proc.wait(timeout=15)
            check(code == 0, "SIGTERM ends the server cleanly (exit %s)" % code)
        except subprocess.TimeoutExpired:
            proc.kill()
            check(False, "SIGTERM ends the server")

    # SIGTERM while a verification is in flight (a game after 20 minutes of attract mode takes a
    # while to play again): it is finished and answered, and the run is there after a restart.
    late = serverkit.Server(server_exe, ["--data-dir", data] + database)
    try:
        _, _, body = late.request("POST", "/api/seeds", b"")
        issued = json.loads(body)
        text = serverkit.record_game(record_game, issued["seed"], os.path.join(top, "late.txt"), "LAT", 20 * 60000)
        answer = {}
        sending = threading.Thread(target=lambda: answer.update(r=late.request(
            "POST", "/api/runs", json.dumps({"token": issued["token"], "recording": text}).encode())))
        sending.start()
        time.sleep(0.3)
        check(late.stop() == 0, "SIGTERM during a verification ends the server cleanly")
        sending.join(timeout=30)
        check(answer.get("r", (None,))[0] == 201, "the verification in flight is answered (%s)" % (answer.get("r"),))
    finally:
        late.stop()
    again = serverkit.Server(server_exe, ["--data-dir", data] + database)
    try:
        _, _, body = again.request("GET", "/api/rankings?mode=2&limit=100")
        check(any(r["initials"] == "LAT" for r in json.loads(body)["runs"]), "the run verified at shutdown is kept")
    finally:
        again.stop()

if failures:
    sys.exit("%d failure(s)" % len(failures))
print("server api: all checks passed")
