#!/usr/bin/env python3
"""The rankings server killed while it works: clients submit won games until the server is
SIGKILLed in the middle; started again on the same database, it ranks every run it had answered
201, answers new submissions, and the database is whole (SQLite: PRAGMA integrity_check;
PostgreSQL: each table counted against the rankings). With --postgres, on a database of the
tests' PostgreSQL cluster (exit 77 without one). On 127.0.0.1 only.
   crash-test.py SERVER RECORD_GAME [--postgres STATE]"""
import os
import signal
import sqlite3
import sys
import tempfile
import threading
import time

import serverkit

server_exe, record_game = sys.argv[1], sys.argv[2]
url = None
if len(sys.argv) == 5 and sys.argv[3] == "--postgres":
    url = serverkit.pg_database(sys.argv[4], "crash%d" % os.getpid())
    if url is None:
        print("server crash: skipped, no PostgreSQL cluster (are PostgreSQL's server programs installed?)")
        sys.exit(serverkit.SKIP)

CLIENTS = 4
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what, file=sys.stderr)


with tempfile.TemporaryDirectory() as top:
    data = os.path.join(top, "data")
    args = ["--data-dir", data, "--threads", "2", "--posts-per-minute", "100000"]
    if url:
        args += ["--database", url]
    server = serverkit.Server(server_exe, args)
    accepted = {}  # id -> initials, every run answered 201
    lock = threading.Lock()
    stop = threading.Event()

    def client(n):
        work = os.path.join(top, "client%d" % n)
        os.makedirs(work)
        for i in range(200):  # bounded; the kill ends it long before
            if stop.is_set():
                return
            initials = "%c%c%d" % (chr(65 + n), chr(65 + i % 26), i % 10)
            try:
                status, run, _ = serverkit.submit_won_game(server, record_game, work, initials)
            except Exception:  # the recorder or the connection, at the kill
                return
            if status == 201:
                with lock:
                    accepted[run["id"]] = run["initials"]
            elif status is None:
                return  # the server is gone

    clients = [threading.Thread(target=client, args=(n,), daemon=True) for n in range(CLIENTS)]
    for t in clients:
        t.start()
    # Killed once a few runs are in and more are on their way.
    deadline = time.time() + 60
    while time.time() < deadline:
        with lock:
            if len(accepted) >= 6:
                break
        time.sleep(0.05)
    server.proc.send_signal(signal.SIGKILL)
    server.proc.wait(timeout=10)
    stop.set()
    for t in clients:
        t.join(timeout=60)
    check(len(accepted) >= 6, "runs were accepted before the kill (%d)" % len(accepted))

    server = serverkit.Server(server_exe, args)
    try:
        ranked = {r["id"]: r["initials"] for r in serverkit.all_ranked(server)}
        missing = {i: n for i, n in accepted.items() if ranked.get(i) != n}
        check(not missing, "every run answered 201 is ranked after the kill (missing: %s)" % missing)
        for run_id in list(accepted)[:3]:
            status, _, body = server.request("GET", "/api/runs/%d/recording" % run_id)
            check(status == 200 and body.startswith(b"#"), "the recording of run %d is whole" % run_id)
        status, run, _ = serverkit.submit_won_game(server, record_game, top, "NEW")
        check(status == 201, "a new run is accepted after the restart (%s)" % status)
        after = serverkit.all_ranked(server)
        check(len(after) == len(ranked) + 1, "the new run is ranked")
    finally:
        check(server.stop() == 0, "SIGTERM ends the restarted server cleanly")

    if url:
        runs = serverkit.psql(url, "SELECT count(*) FROM runs")
        unused = serverkit.psql(url, "SELECT count(*) FROM runs JOIN tokens USING (token) WHERE used_at IS NULL")
        check(runs == [str(len(after))], "the runs table holds the ranked runs (%s, %d)" % (runs, len(after)))
        check(unused == ["0"], "every ranked run spent its token")
    else:
        db = sqlite3.connect(os.path.join(data, "rankings.sqlite3"))
        check(db.execute("PRAGMA integrity_check").fetchall() == [("ok",)], "PRAGMA integrity_check says ok")
        check(db.execute("PRAGMA foreign_key_check").fetchall() == [], "no run without its token")
        check(db.execute("SELECT count(*) FROM runs").fetchone()[0] == len(after), "the runs table holds the ranked")
        db.close()

    print("server crash: %d runs accepted before the kill, %d ranked after it" % (len(accepted), len(ranked)))

if failures:
    sys.exit("%d failure(s)" % len(failures))
print("server crash: all checks passed")
