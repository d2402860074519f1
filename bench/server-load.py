#!/usr/bin/env python3
"""The rankings server under load, run by hand (not a test): N clients on 127.0.0.1, each asking
for a seed, recording a won game on it (server_record_game, the headless twin) and submitting it,
then reading the rankings, for a bounded time; with SQLite, then with PostgreSQL (a private
cluster of tests/server/pg-cluster.sh, skipped without PostgreSQL). Prints verified runs per
second, the latencies of submissions (p50, p99) and of rankings reads, the 503s, and whether
every run answered 201 is ranked afterwards. The recordings are made on the same machine as the
server: on a small one they take a share of its cores.
   bench/server-load.py SERVER RECORD_GAME [--seconds 60] [--clients 8] [--threads N] [--store sqlite|postgres|both]
e.g. bench/server-load.py build/src/server/quillmarsh-rall-server build/tests/server_record_game"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "server"))
import serverkit  # noqa: E402


def percentile(values, p):
    if not values:
        return float("nan")
    values = sorted(values)
    return values[min(len(values) - 1, int(round(p / 100.0 * (len(values) - 1))))]


def run_load(opts, top, name, extra_args):
    args = ["--data-dir", os.path.join(top, name), "--posts-per-minute", "100000"] + extra_args
    if opts.threads:
        args += ["--threads", str(opts.threads)]
    server = serverkit.Server(opts.server, args)
    submits, reads, accepted = [], [], {}
    counts = {"busy": 0, "refused": 0, "failed": 0}
    lock = threading.Lock()
    deadline = time.monotonic() + opts.seconds

    def client(n):
        work = os.path.join(top, "%s-client%d" % (name, n))
        os.makedirs(work)
        path = os.path.join(work, "game.txt")
        for i in range(100000):  # bounded by the deadline long before
            if time.monotonic() >= deadline:
                return
            status, _, body = server.request("POST", "/api/seeds", b"")
            if status != 201:
                with lock:
                    counts["failed"] += 1
                continue
            issued = json.loads(body)
            text = serverkit.record_game(opts.record, issued["seed"], path, "%c%c%d" % (65 + n, 65 + i % 26, i % 10))
            body = json.dumps({"token": issued["token"], "recording": text}).encode()
            started = time.monotonic()
            for _ in range(100):  # a busy server keeps the token for the retry
                status, _, answer = server.request("POST", "/api/runs", body)
                if status != 503:
                    break
                with lock:
                    counts["busy"] += 1
                time.sleep(0.1)
            took = time.monotonic() - started
            started = time.monotonic()
            read, _, _ = server.request("GET", "/api/rankings?mode=2&limit=100")
            read_took = time.monotonic() - started
            with lock:
                if status == 201:
                    accepted[json.loads(answer)["id"]] = True
                    submits.append(took)
                else:
                    counts["refused" if status else "failed"] += 1
                if read == 200:
                    reads.append(read_took)

    began = time.monotonic()
    threads = [threading.Thread(target=client, args=(n,), daemon=True) for n in range(opts.clients)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=opts.seconds + 120)
    elapsed = time.monotonic() - began
    ranked = {r["id"] for r in serverkit.all_ranked(server)}
    lost = [i for i in accepted if i not in ranked]
    code = server.stop()
    load = os.getloadavg()
    print("%-8s %d clients, %.0f s: %d verified (%.2f/s); submit p50 %.0f ms p99 %.0f ms; rankings read p50 %.1f ms "
          "p99 %.1f ms; 503s %d, refused %d, failed %d; lost %d of %d; exit %d; load average %.2f %.2f %.2f" %
          (name, opts.clients, elapsed, len(accepted), len(accepted) / elapsed, 1000 * percentile(submits, 50),
           1000 * percentile(submits, 99), 1000 * percentile(reads, 50), 1000 * percentile(reads, 99),
           counts["busy"], counts["refused"], counts["failed"], len(lost), len(accepted), code, *load))
    sys.stdout.flush()
    return not lost and counts["refused"] == 0 and code == 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("server")
    parser.add_argument("record")
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--clients", type=int, default=8)
    parser.add_argument("--threads", type=int, default=0, help="the server's verifying threads (its default)")
    parser.add_argument("--store", choices=["sqlite", "postgres", "both"], default="both")
    opts = parser.parse_args()
    if not 0 < opts.seconds <= 600 or not 0 < opts.clients <= 64:
        sys.exit("--seconds up to 600, --clients up to 64")
    ok = True
    with tempfile.TemporaryDirectory() as top:
        print("load average before: %.2f %.2f %.2f on %d cores" % (*os.getloadavg(), os.cpu_count()))
        if opts.store in ("sqlite", "both"):
            ok = run_load(opts, top, "sqlite", []) and ok
        if opts.store in ("postgres", "both"):
            state = os.path.join(top, "pg.state")
            cluster = os.path.join(serverkit.HERE, "pg-cluster.sh")
            subprocess.run(["sh", cluster, "start", state], check=True, timeout=120)
            try:
                url = serverkit.pg_database(state, "load")
                if url is None:
                    print("postgres skipped: PostgreSQL is not installed")
                else:
                    ok = run_load(opts, top, "postgres", ["--database", url]) and ok
            finally:
                subprocess.run(["sh", cluster, "stop", state], timeout=120)
    sys.exit(0 if ok else 1)


if __name__ == "__main__":
    main()
