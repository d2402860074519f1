#!/usr/bin/env python3
"""A game with a friend between two headless twins through the server's relay on 127.0.0.1: the
same game on both sides from coins to the entry, the same picture and the same recording, which
plays that game again; the same over a slow network; a spectator who comes late; a side that
vanishes, and a third player at a full room; the server behind a TLS proxy (https://), whose
certificate the game checks.

    netplay-test.py SERVER_EXE GAME_EXE
"""
import asyncio
import json
import os
import re
import ssl
import subprocess
import sys
import tempfile
import threading
import time

import serverkit

server_exe, game_exe = sys.argv[1], sys.argv[2]
failures = []
# QR_NETPLAY_SHORT=1 (the sanitizer build, whose games are slow): the first game is played for a
# minute of game time rather than to the entry of initials; the rest is the same.
short = os.environ.get("QR_NETPLAY_SHORT") == "1"
first_run_ms = 60000 if short else 400000


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
                             str(run_ms), "--state", os.path.join(top, name + ".json"), "--screenshot",
                             os.path.join(top, name + ".png"), "--record",
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
                           "--run-ms", str(run_ms), "--state", os.path.join(top, name + ".json"), "--screenshot",
                           os.path.join(top, name + ".png"), "--record",
                           os.path.join(top, name + "-rec.txt"), "--data-dir", os.path.join(top, name)],
                          stderr=subprocess.PIPE, text=True, timeout=timeout)


def read(path):
    with open(path) as f:
        return f.read()


def body(recording):
    return recording[recording.index("# seed "):]


class TlsProxy:
    """https://127.0.0.1:PORT/ in front of the server, with a certificate of its own for 127.0.0.1
    (cert: the file that a client must trust)."""

    def __init__(self, top, target_port):
        self.cert = os.path.join(top, "proxy.pem")
        key = os.path.join(top, "proxy.key")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj",
                        "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", key, "-out", self.cert],
                       check=True, capture_output=True, timeout=60)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(self.cert, key)
        self.loop = asyncio.new_event_loop()
        started = threading.Event()

        async def pipe(reader, writer):
            try:
                while data := await reader.read(65536):
                    writer.write(data)
                    await writer.drain()
            except (ConnectionError, ssl.SSLError):
                pass
            finally:
                writer.close()

        async def serve(reader, writer):
            try:
                up_reader, up_writer = await asyncio.open_connection("127.0.0.1", target_port)
            except OSError:
                writer.close()
                return
            await asyncio.gather(pipe(reader, up_writer), pipe(up_reader, writer))

        async def main():
            self.server = await asyncio.start_server(serve, "127.0.0.1", 0, ssl=context)
            self.base = "https://127.0.0.1:%d/" % self.server.sockets[0].getsockname()[1]
            started.set()
            try:
                await self.server.serve_forever()
            except asyncio.CancelledError:
                pass  # stopped

        self.thread = threading.Thread(target=lambda: self.loop.run_until_complete(main()), daemon=True)
        self.thread.start()
        if not started.wait(20):
            raise RuntimeError("the TLS proxy did not start")

    def stop(self):
        self.loop.call_soon_threadsafe(self.server.close)


with tempfile.TemporaryDirectory() as top:
    # Coins and the start from the host, which holds player 1's up; the guest types X and Enter
    # now and then, so that whoever wins has XXX entered when the entry comes.
    host_script = write(os.path.join(top, "host.txt"), ["1000 tap Q", "1300 tap Q", "2000 tap 2", "2500 down A"])
    guest_script = write(os.path.join(top, "guest.txt"),
                         ["%d tap %s" % (t, "Enter" if (t // 300) % 4 == 0 else "X") for t in range(20000, 400000, 300)])
    fast = serverkit.Server(server_exe, ["--data-dir", os.path.join(top, "data"), "--relay-rate", "100000"])
    try:
        host, code = host_game(top, fast, "host", host_script, first_run_ms)
        guest = join(top, fast, code, "guest", guest_script, first_run_ms)
        host.wait(timeout=60)
        check(guest.returncode == 0 and host.returncode == 0, "both sides ran (%s, %s)" % (host.returncode, guest.stderr))
        state = read(os.path.join(top, "host.json"))
        check(state == read(os.path.join(top, "guest.json")), "both sides end in the same state")
        with open(os.path.join(top, "host.png"), "rb") as h, open(os.path.join(top, "guest.png"), "rb") as g:
            check(h.read() == g.read(), "both sides end on the same picture")
        check(short or '"initials": "XXX"' in state, "the guest's initials entered the game's table")
        recording = read(os.path.join(top, "host-rec.txt"))
        check(body(recording) == body(read(os.path.join(top, "guest-rec.txt"))), "both keep the same recording")
        check(short or os.path.exists(os.path.join(top, "host", "QuillmarshRall.dat")), "the host saved its table")
        guest_dir = os.path.join(top, "guest")
        check(not os.path.exists(guest_dir) or os.listdir(guest_dir) == [], "the guest wrote nothing of its own")
        replay = subprocess.run([game_exe, "--headless", "--script", os.path.join(top, "host-rec.txt"), "--run-ms",
                                 str(first_run_ms), "--state", os.path.join(top, "replay.json")], timeout=60)
        check(replay.returncode == 0 and read(os.path.join(top, "replay.json")) == state,
              "the recording plays the game again")

        # A spectator that comes while the game goes catches up on it from the relay's log and
        # ends where the players ended; one of a room that is not is refused.
        host, code = host_game(top, fast, "watched-host", host_script, 200000)
        guest = subprocess.Popen([game_exe, "--headless", "--join", code, "--server", fast.base, "--script",
                                  guest_script, "--run-ms", "200000", "--state", os.path.join(top, "watched-guest.json"),
                                  "--data-dir", os.path.join(top, "watched-guest")], stderr=subprocess.PIPE, text=True)
        time.sleep(1)
        check(host.poll() is None, "the game still goes when the spectator comes")
        spectator = subprocess.run([game_exe, "--headless", "--spectate", code, "--server", fast.base, "--run-ms",
                                    "200000", "--state", os.path.join(top, "spectator.json")],
                                   stderr=subprocess.PIPE, text=True, timeout=60)
        host.wait(timeout=60)
        guest.communicate(timeout=60)
        state = read(os.path.join(top, "watched-host.json"))
        check(state == read(os.path.join(top, "watched-guest.json")), "the watched players end alike")
        check(spectator.returncode == 0 and read(os.path.join(top, "spectator.json")) == state,
              "the spectator ends in the players' state: " + spectator.stderr[-300:])
        nobody = subprocess.run([game_exe, "--headless", "--spectate", "ZZZZZZ", "--server", fast.base],
                                stderr=subprocess.PIPE, text=True, timeout=30)
        check(nobody.returncode == 1 and "there is no room ZZZZZZ" in nobody.stderr,
              "a spectator of no room is refused: " + nobody.stderr)

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

    # The server behind a TLS proxy: played over https:// when its certificate is trusted, and
    # refused with the reason when it is not.
    plain = serverkit.Server(server_exe, ["--data-dir", os.path.join(top, "data"), "--relay-rate", "100000"])
    proxy = TlsProxy(top, plain.port)
    try:
        os.environ["SSL_CERT_FILE"] = proxy.cert
        host, code = host_game(top, proxy, "tls-host", host_script, 3000)
        guest = join(top, proxy, code, "tls-guest", guest_script, 3000)
        host.wait(timeout=60)
        check(guest.returncode == 0 and host.returncode == 0 and
              read(os.path.join(top, "tls-host.json")) == read(os.path.join(top, "tls-guest.json")),
              "a game over TLS: " + guest.stderr[-300:])
        misnamed = type("Named", (), {"base": proxy.base.replace("127.0.0.1", "localhost")})
        wrong = join(top, misnamed, "ABCDEF", "tls-misnamed", guest_script, 1000, timeout=30)
        check(wrong.returncode == 1 and "certificate verify failed" in wrong.stderr,
              "a certificate for another name is refused: " + wrong.stderr[-300:])
        del os.environ["SSL_CERT_FILE"]
        untrusted = join(top, proxy, "ABCDEF", "tls-untrusted", guest_script, 1000, timeout=30)
        check(untrusted.returncode == 1 and "certificate verify failed" in untrusted.stderr,
              "a certificate nobody trusts is refused: " + untrusted.stderr[-300:])
    finally:
        os.environ.pop("SSL_CERT_FILE", None)
        proxy.stop()
        plain.stop()

if failures:
    sys.exit("%d failure(s)" % len(failures))
print("netplay: all checks passed")
