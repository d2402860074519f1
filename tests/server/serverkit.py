"""What the server's scripts share (api-test.py, crash-test.py, bench/server-load.py): the program
started on 127.0.0.1 with a port of its own, requests with bounded waits, a won game recorded on a
seed, and a database of the tests' private PostgreSQL cluster (pg-cluster.sh)."""
import json
import os
import re
import subprocess
import threading
import time
import urllib.error
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
SKIP = 77  # ctest's SKIP_RETURN_CODE for these scripts


class Server:
    """quillmarsh-rall-server on 127.0.0.1:0; its stderr lines are kept in .log."""

    def __init__(self, exe, args, start_timeout=30):
        self.proc = subprocess.Popen([exe, "--listen", "127.0.0.1:0"] + args, stderr=subprocess.PIPE, text=True)
        self.log = []
        self.port = None
        deadline = time.time() + start_timeout
        while self.port is None and time.time() < deadline:
            line = self.proc.stderr.readline()
            if not line:
                break
            self.log.append(line)
            m = re.search(r"listening on 127\.0\.0\.1:(\d+)", line)
            if m:
                self.port = int(m.group(1))
        if self.port is None:
            self.proc.kill()
            self.proc.wait(timeout=10)
            raise RuntimeError("the server did not start: " + "".join(self.log))
        threading.Thread(target=lambda: self.log.extend(iter(self.proc.stderr.readline, "")), daemon=True).start()
        self.base = "http://127.0.0.1:%d" % self.port

    def request(self, method, path, body=None, content_type="application/json", timeout=60):
        """(status, headers, body); status None when the connection failed."""
        req = urllib.request.Request(self.base + path, data=body, method=method)
        if body is not None:
            req.add_header("Content-Type", content_type)
        try:
            with urllib.request.urlopen(req, timeout=timeout) as r:
                return r.status, r.headers, r.read()
        except urllib.error.HTTPError as e:
            return e.code, e.headers, e.read()
        except (urllib.error.URLError, ConnectionError, TimeoutError, OSError):
            return None, None, b""

    def stop(self, timeout=15):
        """SIGTERM, then SIGKILL after timeout; the exit code."""
        if self.proc.poll() is None:
            self.proc.terminate()
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            return self.proc.wait(timeout=10)


def record_game(record_exe, seed, path, initials="ABC", coin_ms=1000):
    """The recording of a won two-player game on that seed (server_record_game), as text."""
    subprocess.run([record_exe, str(seed), path, initials, str(coin_ms)], check=True, timeout=120)
    with open(path, encoding="utf-8") as f:
        return f.read()


def submit_won_game(server, record_exe, workdir, initials="ABC"):
    """A seed asked for, a won game recorded on it and submitted: (status, run or error, submit seconds)."""
    status, _, body = server.request("POST", "/api/seeds", b"")
    if status != 201:
        return status, None, 0.0
    issued = json.loads(body)
    text = record_game(record_exe, issued["seed"], os.path.join(workdir, "game-%d.txt" % threading.get_ident()),
                       initials)
    started = time.monotonic()
    status, _, body = server.request("POST", "/api/runs",
                                     json.dumps({"token": issued["token"], "recording": text}).encode())
    took = time.monotonic() - started
    try:
        answer = json.loads(body) if body else None
    except ValueError:
        answer = None
    return status, answer, took


def all_ranked(server, mode=2):
    """Every run of that mode, every page read."""
    runs = []
    while True:
        status, _, body = server.request("GET", "/api/rankings?mode=%d&offset=%d&limit=100" % (mode, len(runs)))
        if status != 200:
            raise RuntimeError("the rankings answered %s" % status)
        page = json.loads(body)["runs"]
        runs += page
        if len(page) < 100:
            return runs


def pg_database(state, name):
    """The URL of a fresh database on the cluster whose state file is given, or None (no cluster)."""
    if not state or not os.path.exists(state):
        return None
    out = subprocess.run(["sh", os.path.join(HERE, "pg-cluster.sh"), "url", state, name], check=True, timeout=60,
                         capture_output=True, text=True)
    return out.stdout.strip()


def psql(url, sql):
    """One query's rows (psql -tA), run as the cluster's owner as pg-cluster.sh does."""
    cmd = ["psql", "-X", "-tA", "-d", url, "-c", sql]
    if os.getuid() == 0:
        cmd = ["runuser", "-u", "nobody", "--"] + cmd
    return subprocess.run(cmd, check=True, timeout=60, capture_output=True, text=True).stdout.split()
