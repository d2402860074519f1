#!/bin/sh
# Measures the window's input latency under a private Xvfb: inserts two coins, starts a
# two-player game and presses the paddle keys (A and Up, each held 20-60 ms) at random moments,
# 1000 presses in all, then leaves with Esc and prints what --stats says: how many key events
# there were and the median, 99th percentile and maximum time from each event to the end of the
# presentation of the first frame the game drew after it took the event.
#
#   scripts/measure-latency.sh [EXE [GAME OPTIONS...]]     e.g. scripts/measure-latency.sh build/quillmarsh-rall --scale 2
#
# QR_LATENCY_PRESSES sets the number of presses (default 1000).
set -eu

exe="${1:-build/quillmarsh-rall}"
[ $# -gt 0 ] && shift
presses="${QR_LATENCY_PRESSES:-1000}"
case "$presses" in '' | *[!0-9]*) echo "measure-latency: QR_LATENCY_PRESSES wants a whole number" >&2; exit 2 ;; esac
me=measure-latency
. "$(dirname "$0")/lib/window-game.sh"
start_two_player_game --no-gamepad "$@"
sleep 2.5

# One xdotool run with its own sleeps: the presses come at moments that owe nothing to the
# game's 10 ms passes or the display's refresh.
awk -v n="$presses" -v seed="$$" 'BEGIN {
  srand(seed)
  for (i = 0; i < n; i++) {
    key = (rand() < 0.5) ? "a" : "Up"
    printf "keydown %s sleep %.3f keyup %s sleep %.3f\n", key, 0.02 + 0.04 * rand(), key, 0.01 + 0.04 * rand()
  }
}' >"$tmp/presses"
xdotool - <"$tmp/presses" >/dev/null 2>&1 || true
sleep 0.5

leave_game
print_stats "Input latency:"
