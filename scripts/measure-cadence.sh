#!/bin/sh
# Measures the window's rally cadence and CPU use under a private Xvfb: inserts two coins,
# starts a two-player game, lets it run with both players moving their paddles, then leaves with
# Esc and prints the rally loop's passes per second (from --stats) and the share of one core the
# game used while the rally ran.
#
#   scripts/measure-cadence.sh [EXE [GAME OPTIONS...]]     e.g. scripts/measure-cadence.sh build/quillmarsh-rall --scale 3
#
# QR_MEASURE_SECONDS sets how long the game runs (default 20).
set -eu

exe="${1:-build/quillmarsh-rall}"
[ $# -gt 0 ] && shift
seconds="${QR_MEASURE_SECONDS:-20}"
me=measure-cadence
. "$(dirname "$0")/lib/window-game.sh"
start_two_player_game "$@"
sleep 0.5

ticks_per_s="$(getconf CLK_TCK)"
cpu_ticks() { awk '{print $14 + $15}' "/proc/$game_pid/stat"; }
t0="$(date +%s.%N)"
c0="$(cpu_ticks)"
# Both players keep moving: up for a while, then down (a moving server serves at once).
end=$(($(date +%s) + seconds))
(
  while [ "$(date +%s)" -lt "$end" ]; do
    xdotool keydown a keydown Up; sleep 0.3; xdotool keyup a keyup Up
    xdotool keydown z keydown Down; sleep 0.3; xdotool keyup z keyup Down
  done
) &
mover=$!
sleep "$seconds"
c1="$(cpu_ticks)"
wait "$mover" 2>/dev/null || true
t1="$(date +%s.%N)"

leave_game
print_stats "MainLoop:"
awk -v c0="$c0" -v c1="$c1" -v t0="$t0" -v t1="$t1" -v hz="$ticks_per_s" -v s="$seconds" 'BEGIN {
  printf "CPU: %.2f s in %.2f s of the game = %.1f %% of one core\n", (c1 - c0) / hz, t1 - t0, 100 * (c1 - c0) / hz / (t1 - t0)
}'
