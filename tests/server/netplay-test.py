#!/usr/bin/env python3
"""A game with a friend between two headless twins through the server's relay on 127.0.0.1: the
same game on both sides from coins to the entry, the same recording, which plays that game again;
the same over a slow network; a side that vanishes, and a third player at a full room.

    netplay-test.py SERVER_EXE GAME_EXE
"""
import json
import os
import re
import subprocess
import sys
import tempfile
import time

import serverkit

server_exe, game_exe = sys.argv[1], sys.argv[2]
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL: " + what)


def write(path, lines):
    with open(path, "w") as f:
        f.write("".join(line + "\n" for line in lines))
    return path


def host_game(top, server, name, script, run_ms, extra=()):
    """The host started headless: its process and the room's code, said on stderr."""
    log = open(os.path.join(top, name + ".log"), "w+")
    proc = subprocess.Popen([game_exe, "--headless", "--host-game", server.base, "--script", script, "--run-ms",
                             str(run_ms), "--state", os.path.join(top, name + ".json"), "--record",
                             os.path.join(top, name + "-rec.txt"), "--data-dir", os.path.join(top, name)] + list(extra),
                            stderr=log)
    for _ in range(100):
        log.seek(0)
        m = re.search(r"room ([A-Z2-9]{6}):", log.read())
        if m:
            return proc, m.group(1)
        time.sleep(0.1)
    proc.kill()
    raise RuntimeError("the host said no room")


def join(top, server, code, name, script, run_ms, timeout=60):
    return subprocess.run([game_exe, "--headless", "--join", code, "--server", server.base, "--script", script,
                           "--run-ms", str(run_ms), "--state", os.path.join(top, name + ".json"), "--record",
                           os.path.join(top, name + "-rec.txt"), "--data-dir", os.path.join(top, name)],
                          stderr=subprocess.PIPE, text=True, timeout=timeout)


def read(path):
    with open(path) as f:
        return f.read()


def body(recording):
    return recording[recording.index("# seed "):]


with tempfile.TemporaryDirectory() as top:
    # Coins and the start from the host, which holds player 1's up; the guest types X and Enter
    # now and then, so that whoever wins has XXX entered when the entry comes.
    host_script = write(os.path.join(top, "host.txt"), ["1000 tap Q", "1300 tap Q", "2000 tap 2", "2500 down A"])
    guest_script = write(os.path.join(top, "guest.txt"),
                         ["%d tap %s" % (t, "Enter" if (t // 300) % 4 == 0 else "X") for t in range(20000, 400000, 300)])
    fast = serverkit.Server(server_exe, ["--data-dir", os.path.join(top, "data"), "--relay-rate", "100000"])
    try:
        host, code = host_game(top, fast, "host", host_script, 400000)
        guest = join(top, fast, code, "guest", guest_script, 400000)
        host.wait(timeout=60)
        check(guest.returncode == 0 and host.returncode == 0, "both sides ran (%s, %s)" % (host.returncode, guest.stderr))
        state = read(os.path.join(top, "host.json"))
        check(state == read(os.path.join(top, "guest.json")), "both sides end in the same state")
        check('"initials": "XXX"' in state, "the guest's initials entered the game's table")
        recording = read(os.path.join(top, "host-rec.txt"))
        check(body(recording) == body(read(os.path.join(top, "guest-rec.txt"))), "both keep the same recording")
        check(os.path.exists(os.path.join(top, "host", "QuillmarshRall.dat")), "the host saved its table")
        guest_dir = os.path.join(top, "guest")
        check(not os.path.exists(guest_dir) or os.listdir(guest_dir) == [], "the guest wrote nothing of its own")
        replay = subprocess.run([game_exe, "--headless", "--script", os.path.join(top, "host-rec.txt"), "--run-ms",
                                 "400000", "--state", os.path.join(top, "replay.json")], timeout=60)
        check(replay.returncode == 0 and read(os.path.join(top, "replay.json")) == state,
              "the recording plays the game again")

        # A third player at a full room is refused; a guest that vanishes ends the host's game.
        host, code = host_game(top, fast, "host2", write(os.path.join(top, "none.txt"), []), 10**9)
        guest = subprocess.Popen([game_exe, "--headless", "--join", code, "--server", fast.base, "--run-ms", str(10**9),
                                  "--data-dir", os.path.join(top, "guest2")], stderr=subprocess.PIPE, text=True)
        time.sleep(1)
        third = join(top, fast, code, "third", os.path.join(top, "none.txt"), 1000, timeout=20)
        check(third.returncode == 1 and "has its two players" in third.stderr, "a third player is refused: " + third.stderr)
        guest.kill()
        guest.wait()
        host.wait(timeout=20)
        said = read(os.path.join(top, "host2.log"))
        check("ended: the other player left" in said or "ended: the connection" in said,
              "the host's game ends when the guest vanishes: " + said[-300:])
    finally:
        fast.stop()

    # 25 ms each way: the delay covers the round trip.
    slow = serverkit.Server(server_exe, ["--data-dir", os.path.join(top, "data"), "--relay-rate", "100000",
                                         "--relay-delay", "25"])
    try:
        host, code = host_game(top, slow, "slow-host", host_script, 3000)
        guest = join(top, slow, code, "slow-guest", guest_script, 3000)
        host.wait(timeout=60)
        check(read(os.path.join(top, "slow-host.json")) == read(os.path.join(top, "slow-guest.json")),
              "a slow network plays the same game on both sides")
        m = re.search(r"input delay (\d+)", guest.stderr)
        check(m is not None and int(m.group(1)) >= 3, "the delay covers a 50 ms round trip: " + guest.stderr[-200:])
    finally:
        slow.stop()

if failures:
    sys.exit("%d failure(s)" % len(failures))
print("netplay: all checks passed")
