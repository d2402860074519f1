# Sourced by the measuring scripts: the game in its own window under a private Xvfb, with two
# coins inserted and a two-player game started. The caller sets `me` (its name for messages)
# and `exe`; afterwards $tmp is a scratch directory (removed at exit), $game_pid the game and
# $tmp/out, $tmp/err its output.
#   start_two_player_game [GAME OPTIONS...]

[ -x "$exe" ] || { echo "$me: no executable at $exe" >&2; exit 2; }
for tool in Xvfb xdotool awk; do
  command -v "$tool" >/dev/null 2>&1 || { echo "$me: $tool is missing (scripts/install-deps.sh installs it)" >&2; exit 2; }
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

start_two_player_game() {
  # A display number nobody uses.
  n=90
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >"$tmp/xvfb.log" 2>&1 &
  xvfb_pid=$!
  export DISPLAY=":$n"
  tries=0
  until xdotool getmouselocation >/dev/null 2>&1; do
    tries=$((tries + 1))
    [ "$tries" -gt 50 ] && { echo "$me: Xvfb did not start" >&2; cat "$tmp/xvfb.log" >&2; exit 1; }
    sleep 0.1
  done

  "$exe" --stats --data-dir "$tmp/data" "$@" >"$tmp/out" 2>"$tmp/err" &
  game_pid=$!
  win="$(timeout 10 xdotool search --sync --name "Quillmarsh Rall" | head -n 1)"
  [ -n "$win" ] || { echo "$me: the window did not appear" >&2; cat "$tmp/err" >&2; exit 1; }
  xdotool windowfocus --sync "$win"
  sleep 1

  # The coin key is polled every 250 ms: two taps closer than that would count once.
  xdotool key q
  sleep 0.4
  xdotool key q
  sleep 0.4
  xdotool key 2
}

# Esc leaves the game, then Esc in the attract mode ends the program; fails unless it ended well.
leave_game() {
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    kill -0 "$game_pid" 2>/dev/null || break
    xdotool key Escape 2>/dev/null || true
    sleep 0.5
  done
  code=0
  wait "$game_pid" || code=$?
  game_pid=""
  [ "$code" -eq 0 ] || { echo "$me: the game ended with exit code $code" >&2; cat "$tmp/err" >&2; exit 1; }
}

# Prints the line of --stats that starts with PREFIX, then the window's line; fails without it.
print_stats() {
  line="$(grep "^$1" "$tmp/err" || true)"
  [ -n "$line" ] || { echo "$me: no statistics from the game" >&2; cat "$tmp/err" >&2; exit 1; }
  echo "$line"
  grep "^Window:" "$tmp/err" || true
}
