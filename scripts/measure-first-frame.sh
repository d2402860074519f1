#!/bin/sh
# How long the window takes to show its first frame: from the start of the program (the moment
# before it is executed) to the end of the first presentation of a picture, over many starts under
# a private Xvfb. Each start is ended with SIGTERM once its frame is out. Given two executables, the
# starts alternate between them, so that both meet the same machine, and the difference between
# the two is also given start by start.
#
#   scripts/measure-first-frame.sh [-n STARTS] [--sound MODE] EXE [EXE2] [-- GAME OPTIONS...]
#
# MODE is the sound device the game finds:
#   system     whatever the environment gives (on a machine without a sound card: none, after
#              SDL has looked for one)
#   sdl-dummy  SDL's dummy driver (SDL_AUDIODRIVER=dummy): a device that plays nowhere
#   sdl-disk   SDL's disk driver writing to /dev/null (SDL_AUDIODRIVER=disk)
#   mute       the game started with --mute: no sound device is opened
# (ALSA's null device is no stand-in: it takes the sound as fast as it comes, and SDL's audio
# thread then spins on it, taking a core and more.)
#
# The time of the presentation is taken inside the game by a small library preloaded into it,
# built here with cc; it wraps SDL_UpdateWindowSurfaceRects and changes nothing else.
set -eu

me=measure-first-frame
starts=40
sound=system
exes=""
while [ $# -gt 0 ]; do
  case "$1" in
  -n) starts="$2"; shift 2 ;;
  --sound) sound="$2"; shift 2 ;;
  --) shift; break ;;
  *) exes="$exes $1"; shift ;;
  esac
done
[ -n "$exes" ] || { echo "usage: $me [-n STARTS] [--sound MODE] EXE [EXE2] [-- GAME OPTIONS...]" >&2; exit 2; }
for exe in $exes; do [ -x "$exe" ] || { echo "$me: no executable at $exe" >&2; exit 2; }; done
for tool in Xvfb xdotool cc; do
  command -v "$tool" >/dev/null 2>&1 || { echo "$me: $tool is missing" >&2; exit 2; }
done

tmp="$(mktemp -d)"
xvfb_pid=""
game_pid=""
cleanup() {
  [ -n "$game_pid" ] && kill "$game_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT INT TERM

cat >"$tmp/frame.c" <<'EOF'
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
static int shown;
int SDL_UpdateWindowSurfaceRects(void* window, const void* rects, int count) {
  static int (*real)(void*, const void*, int);
  if (!real) real = (int (*)(void*, const void*, int))dlsym(RTLD_NEXT, "SDL_UpdateWindowSurfaceRects");
  int result = real(window, rects, count);
  const char* t0 = getenv("QR_MEASURE_T0");
  const char* out = getenv("QR_MEASURE_OUT");
  if (!shown && t0 && out) {
    shown = 1;
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    FILE* f = fopen(out, "w");
    if (f) {
      fprintf(f, "%.2f\n", ((double)t.tv_sec * 1e9 + (double)t.tv_nsec - atof(t0)) / 1e6);
      fclose(f);
    }
  }
  return result;
}
EOF
cat >"$tmp/launch.c" <<'EOF'
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>
int main(int argc, char** argv) {
  (void)argc;
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  char now[32];
  snprintf(now, sizeof now, "%.0f", (double)t.tv_sec * 1e9 + (double)t.tv_nsec);
  setenv("QR_MEASURE_T0", now, 1);
  execv(argv[1], argv + 1);
  perror("exec");
  return 127;
}
EOF
cc -O2 -shared -fPIC -o "$tmp/frame.so" "$tmp/frame.c" -ldl
cc -O2 -o "$tmp/launch" "$tmp/launch.c"

mute=""
case "$sound" in
system) ;;
sdl-dummy) export SDL_AUDIODRIVER=dummy ;;
sdl-disk) export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null ;;
mute) mute=--mute ;;
*) echo "$me: unknown sound mode $sound" >&2; exit 2 ;;
esac

n=90
while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >"$tmp/xvfb.log" 2>&1 &
xvfb_pid=$!
export DISPLAY=":$n"
tries=0
until xdotool getmouselocation >/dev/null 2>&1; do
  tries=$((tries + 1))
  [ "$tries" -gt 50 ] && { echo "$me: Xvfb did not start" >&2; exit 1; }
  sleep 0.1
done

i=0
while [ "$i" -lt "$starts" ]; do
  k=0
  for exe in $exes; do
    k=$((k + 1))
    rm -f "$tmp/shown"
    QR_MEASURE_OUT="$tmp/shown" LD_PRELOAD="$tmp/frame.so" "$tmp/launch" "$exe" --data-dir "$tmp/data" $mute "$@" \
      >"$tmp/out" 2>"$tmp/err" &
    game_pid=$!
    w=0
    while [ ! -s "$tmp/shown" ] && [ "$w" -lt 500 ]; do
      sleep 0.02
      w=$((w + 1))
    done
    kill -TERM "$game_pid" 2>/dev/null || true
    wait "$game_pid" || true
    game_pid=""
    if [ -s "$tmp/shown" ]; then shown="$(cat "$tmp/shown")"; else shown=NA; echo "$me: $exe showed no frame in 10 s" >&2; fi
    [ "$shown" = NA ] || echo "$shown" >>"$tmp/times.$k"
    printf '%s ' "$shown" >>"$tmp/pairs"
  done
  echo >>"$tmp/pairs"
  i=$((i + 1))
done

k=0
for exe in $exes; do
  k=$((k + 1))
  [ -s "$tmp/times.$k" ] || { echo "$exe: no frame shown"; continue; }
  sort -n "$tmp/times.$k" | awk -v exe="$exe" -v sound="$sound" '{ t[NR] = $1 } END {
    median = NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
    p90 = t[int(NR * 0.9 + 0.999)]
    printf "%s (sound: %s): %d starts, first frame after: median %.0f ms, 90th percentile %.0f ms, max %.0f ms\n", exe, sound, NR, median, p90, t[NR]
  }'
done
# Two executables: the difference start by start (each pair ran one after the other), which a
# machine whose load drifts over the run disturbs less than the figures above.
if [ "$k" -eq 2 ]; then
  awk '$1 != "NA" && $2 != "NA" { print $2 - $1 }' "$tmp/pairs" | sort -n | awk '{ d[NR] = $1 } END {
    if (NR == 0) exit
    median = NR % 2 ? d[(NR + 1) / 2] : (d[NR / 2] + d[NR / 2 + 1]) / 2
    printf "second minus first, start by start (%d pairs): median %+.0f ms, middle half %+.0f to %+.0f ms\n", NR, median, d[int(NR / 4 + 1)], d[int(NR * 3 / 4)]
  }'
fi
