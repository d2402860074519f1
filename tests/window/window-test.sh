#!/bin/sh
# The game's window under a virtual X server, driven with xdotool.
#
#   window-test.sh CASE GAME_EXE CADENCE_PROBE_EXE
#
# Cases: no-display, esc, fullscreen, screenshot, fit, focus-loss, pause, terminate, play, replay, cadence. Exit 0 passed,
# 1 failed, 77 skipped (xvfb-run is not installed).
set -u

case_name="$1"
exe="$2"
probe="$3"

# ---- Without a display: one line that says so and points to --headless, exit code 1.
if [ "$case_name" = "no-display" ]; then
  tmp="$(mktemp -d)"
  code=0
  env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER "$exe" >"$tmp/out" 2>"$tmp/err" || code=$?
  lines="$(wc -l <"$tmp/err")"
  err="$(cat "$tmp/err")"
  out="$(cat "$tmp/out")"
  rm -rf "$tmp"
  echo "exit code $code, stderr: $err"
  [ "$code" -eq 1 ] || { echo "FAIL: exit code $code, wanted 1"; exit 1; }
  [ "$lines" -eq 1 ] || { echo "FAIL: $lines lines on stderr, wanted one"; exit 1; }
  case "$err" in *display*--headless*) ;; *) echo "FAIL: the line names no display and no --headless"; exit 1 ;; esac
  [ -z "$out" ] || { echo "FAIL: something on stdout: $out"; exit 1; }
  echo "PASS"
  exit 0
fi

# ---- Everything else runs inside a private X server.
if [ -z "${QR_IN_XVFB:-}" ]; then
  command -v xvfb-run >/dev/null 2>&1 || { echo "SKIP: xvfb-run is not installed"; exit 77; }
  screen=1280x1024x24
  [ "$case_name" = fit ] && screen=1280x980x24
  QR_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 $screen -nolisten tcp" sh "$0" "$@"
fi
command -v xdotool >/dev/null 2>&1 || { echo "FAIL: xdotool is not installed (scripts/install-deps.sh)"; exit 1; }
# In a sanitizer build: the X, D-Bus and GL libraries keep some memory to the end of the
# process, and the driver they unload hides where it came from. The game's own code is checked
# for leaks by the headless tests.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"

tmp="$(mktemp -d)"
game=""
game2=""
wm=""
cleanup() {
  for p in $game $game2 $wm; do kill "$p" 2>/dev/null || true; done
  rm -rf "$tmp"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  for f in "$tmp"/*.out "$tmp"/*.err; do
    [ -s "$f" ] && { echo "--- $f"; cat "$f"; }
  done
  exit 1
}

# start NAME ARGS...: starts the game in the background; its pid goes into the variable NAME.
start() {
  name="$1"
  shift
  "$exe" --data-dir "$tmp/data" "$@" >"$tmp/$name.out" 2>"$tmp/$name.err" &
  eval "$name=$!"
}

# The newest visible game window (the one started last).
window() {
  timeout 10 xdotool search --sync --onlyvisible --name '^Quillmarsh Rall$' 2>/dev/null | tail -n 1
}

# running PID: the process has not ended (a child that has ended stays a zombie until waited).
running() {
  [ -r "/proc/$1/stat" ] || return 1
  state="$(sed 's/.*) //' "/proc/$1/stat" | cut -c1)"
  [ "$state" != "Z" ]
}

# ends PID SECONDS: waits up to SECONDS for the process to end; its exit code goes into $code.
ends() {
  i=0
  while running "$1"; do
    i=$((i + 1))
    [ "$i" -gt $(($2 * 20)) ] && return 1
    sleep 0.05
  done
  code=0
  wait "$1" || code=$?
  return 0
}

geometry() {
  xdotool getwindowgeometry "$1" | sed -n 's/.*Geometry: //p'
}

# until_geometry WIN WxH: waits up to 3 s for the window to take that size.
until_geometry() {
  i=0
  while [ "$(geometry "$1")" != "$2" ]; do
    i=$((i + 1))
    [ "$i" -gt 60 ] && return 1
    sleep 0.05
  done
}

no_errors() {
  if grep -q . "$tmp/$1.err"; then fail "$1 wrote on stderr"; fi
}

# esc_ends NAME: Esc in the attract mode ends the program, with exit code 0, within 5 s.
esc_ends() {
  pid="$(eval echo "\$$1")"
  xdotool key Escape
  ends "$pid" 5 || fail "$1 still runs 5 s after Esc"
  [ "$code" -eq 0 ] || fail "$1 ended with exit code $code"
  eval "$1="
}

case "$case_name" in
esc)
  start game --scale 2
  win="$(window)"
  [ -n "$win" ] || fail "no window"
  [ "$(xdotool getwindowname "$win")" = "Quillmarsh Rall" ] || fail "caption '$(xdotool getwindowname "$win")'"
  [ "$(geometry "$win")" = "638x478" ] || fail "size $(geometry "$win") at --scale 2"
  xdotool windowfocus --sync "$win"
  sleep 1
  running "$game" || fail "the game ended by itself"
  esc_ends game
  no_errors game
  ;;

fullscreen)
  # A window manager makes fullscreen real; without one the switch is only asked for.
  if command -v openbox >/dev/null 2>&1; then
    openbox --sm-disable >"$tmp/wm.out" 2>"$tmp/wm.err" &
    wm=$!
    sleep 1
  else
    echo "note: no window manager (openbox): the window's size is not checked"
  fi
  start game --scale 2
  win="$(window)"
  [ -n "$win" ] || fail "no window"
  xdotool windowfocus --sync "$win"
  sleep 1
  for keys in F11 alt+Return; do
    xdotool key "$keys"
    [ -z "$wm" ] || until_geometry "$win" 1280x1024 || fail "$keys: not fullscreen but $(geometry "$win")"
    sleep 0.5
    xdotool key "$keys"
    [ -z "$wm" ] || until_geometry "$win" 638x478 || fail "$keys: not back to 638x478 but $(geometry "$win")"
    # Past the moment in which a focus loss would be forgiven.
    sleep 1.5
    running "$game" || fail "$keys ended the program"
  done
  esc_ends game
  no_errors game
  ;;

screenshot)
  # At 8x a screenshot takes a while to pack: the paths come when the files are complete, and
  # one taken just before Esc is finished before the program ends.
  start game --scale 8
  win="$(window)"
  [ -n "$win" ] || fail "no window"
  xdotool windowfocus --sync "$win"
  sleep 1
  xdotool key F12
  sleep 0.2
  xdotool key F12
  i=0
  while [ "$(grep -c '\.png$' "$tmp/game.out")" -lt 2 ]; do
    i=$((i + 1))
    [ "$i" -gt 100 ] && fail "F12 printed no two paths"
    sleep 0.05
  done
  running "$game" || fail "F12 ended the program"
  xdotool key F12 Escape
  ends "$game" 5 || fail "still running 5 s after F12 and Esc"
  [ "$code" -eq 0 ] || fail "ended with exit code $code"
  game=""
  no_errors game
  sed -n 1p "$tmp/game.out" | grep -q '^Keys: Q coin, 1/2 start, A/Z' || fail "the keys are not shown first"
  grep '\.png$' "$tmp/game.out" >"$tmp/paths"
  [ "$(wc -l <"$tmp/paths")" -eq 3 ] || fail "$(wc -l <"$tmp/paths") paths printed, wanted 3"
  [ "$(sort -u "$tmp/paths" | wc -l)" -eq 3 ] || fail "two screenshots went to one file"
  while read -r f; do
    echo "saved $f"
    case "$f" in
    "$tmp/data/quillmarsh-rall-"[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]-[0-9][0-9][0-9][0-9][0-9][0-9]*.png) ;;
    *) fail "unexpected path $f" ;;
    esac
    [ -s "$f" ] || fail "$f is missing"
    # The PNG signature, then the header chunk: width and height, 4 bytes each, big-endian.
    [ "$(od -An -tx1 -N8 "$f" | tr -d ' \n')" = "89504e470d0a1a0a" ] || fail "$f is not a PNG"
    size="$(od -An -tu1 -j16 -N8 "$f" | awk '{print ($1*16777216+$2*65536+$3*256+$4) "x" ($5*16777216+$6*65536+$7*256+$8)}')"
    [ "$size" = "2552x1912" ] || fail "$f is $size, wanted 2552x1912 (the playfield at 8x)"
    # Complete: the end chunk comes last.
    [ "$(tail -c 8 "$f" | od -An -tx1 | tr -d ' \n')" = "49454e44ae426082" ] || fail "$f is cut short"
  done <"$tmp/paths"
  [ -z "${QR_KEEP_SCREENSHOT:-}" ] || cp "$(sed -n 1p "$tmp/paths")" "$QR_KEEP_SCREENSHOT"
  ;;

fit)
  # 4x (1276 x 956) fits the 1280 x 980 screen, but not with the title bar: the game starts at 3x.
  # However small the player makes it, the window keeps one pixel a unit.
  command -v openbox >/dev/null 2>&1 || { echo "SKIP: no window manager (openbox)"; exit 77; }
  openbox --sm-disable >"$tmp/wm.out" 2>"$tmp/wm.err" &
  wm=$!
  sleep 1
  start game
  win="$(window)"
  [ -n "$win" ] || fail "no window"
  until_geometry "$win" 957x717 || fail "size $(geometry "$win") on a 1280x980 screen with a title bar"
  frame="$(xdotool getwindowgeometry "$win" | sed -n 's/.*Position: \([0-9-]*\),\([0-9-]*\).*/\1 \2/p')"
  set -- $frame
  [ "$2" -gt 0 ] && [ $(($2 + 717)) -le 980 ] || fail "window at $frame runs off the screen"
  xdotool windowsize "$win" 100 100
  sleep 0.5
  [ "$(geometry "$win")" = "319x239" ] || fail "made smaller than 319x239: $(geometry "$win")"
  xdotool windowfocus --sync "$win"
  esc_ends game
  no_errors game
  ;;

focus-loss)
  # Another window taking the focus ends the first game, as losing the focus does.
  start game --scale 1
  win="$(window)"
  [ -n "$win" ] || fail "no window"
  xdotool windowfocus --sync "$win"
  sleep 1.5
  running "$game" || fail "the game ended by itself"
  start game2 --scale 1
  ends "$game" 5 || fail "the first game still runs 5 s after another window took the focus"
  [ "$code" -eq 0 ] || fail "the first game ended with exit code $code"
  game=""
  no_errors game
  sleep 0.5
  running "$game2" || fail "the second game ended too"
  win2="$(window)"
  xdotool windowfocus --sync "$win2"
  esc_ends game2
  ;;

pause)
  # With --pause-when-unfocused another window taking the focus mid-rally pauses the game instead
  # of ending it: its clock stands still, the key held then goes up when it goes on, and neither
  # F12 nor the key that goes on (Q, a coin) reaches the game. The recording plays again, headless
  # and in the window, to the state the game ended in.
  start game --scale 1 --pause-when-unfocused --record "$tmp/game.rec" --state "$tmp/played.json"
  win="$(window)"
  [ -n "$win" ] || fail "no window"
  xdotool windowfocus --sync "$win"
  sleep 1
  xdotool key q
  sleep 0.3
  xdotool key q
  sleep 0.5
  xdotool key 2
  sleep 4
  xdotool keydown a
  sleep 0.3
  # The second game takes the focus (and ends when it loses it: it has not the option).
  start game2 --scale 1
  sleep 3
  running "$game" || fail "losing the focus ended the game"
  xdotool keyup a
  xdotool windowfocus --sync "$win"
  ends "$game2" 5 || fail "the second game did not end on losing the focus"
  game2=""
  sleep 0.6
  xdotool key F12
  i=0
  until grep -q '\.png$' "$tmp/game.out"; do
    i=$((i + 1))
    [ "$i" -gt 100 ] && fail "F12 saved nothing while paused"
    sleep 0.05
  done
  [ -z "${QR_KEEP_SCREENSHOT:-}" ] || cp "$(grep '\.png$' "$tmp/game.out")" "$QR_KEEP_SCREENSHOT"
  xdotool key q
  sleep 0.3
  for _ in 1 2 3 4 5; do
    xdotool keydown Up
    sleep 0.2
    xdotool keyup Up
    sleep 0.2
  done
  for _ in 1 2 3 4 5; do
    running "$game" || break
    xdotool key Escape
    sleep 0.5
  done
  ends "$game" 5 || fail "Esc did not end the program"
  [ "$code" -eq 0 ] || fail "ended with exit code $code"
  game=""
  no_errors game
  # The paddle key held at the pause goes up when the game goes on, at about the same game time
  # (the pause took over 3 s of the wall clock); after it, no coin, and the game went on.
  down="$(grep ' down A$' "$tmp/game.rec" | tail -n 1 | cut -d' ' -f1)"
  up="$(grep ' up A$' "$tmp/game.rec" | tail -n 1 | cut -d' ' -f1)"
  [ -n "$down" ] && [ -n "$up" ] || fail "the held key is not recorded down and up"
  echo "A held from game time $down to $up"
  [ $((up - down)) -lt 1500 ] || fail "the game's clock ran during the pause ($down to $up)"
  awk -v t="$down" '$1 > t && $3 == "Q"' "$tmp/game.rec" | grep -q . && fail "the key that went on reached the game"
  awk -v t="$up" '$1 >= t && $3 == "Up"' "$tmp/game.rec" | grep -q . || fail "the game did not go on"
  "$exe" --headless --script "$tmp/game.rec" --state "$tmp/headless.json" >"$tmp/headless.out" 2>"$tmp/headless.err" ||
    fail "the headless replay failed"
  cmp "$tmp/played.json" "$tmp/headless.json" || fail "the headless replay ends in another state"
  start game2 --scale 1 --replay "$tmp/game.rec" --state "$tmp/replayed.json"
  ends "$game2" 60 || fail "the replay did not end with the recording"
  game2=""
  cmp "$tmp/played.json" "$tmp/replayed.json" || fail "the replay in the window ends in another state"

  # A signal (as closing the window) ends a paused game at once.
  start game --scale 1 --pause-when-unfocused
  win="$(window)"
  xdotool windowfocus --sync "$win"
  sleep 1.5
  start game2 --scale 1
  sleep 1.5
  running "$game" || fail "losing the focus ended the game"
  kill -TERM "$game"
  ends "$game" 3 || fail "still running 3 s after SIGTERM while paused"
  [ "$code" -eq 0 ] || fail "ended with exit code $code after SIGTERM while paused"
  game=""
  xdotool windowfocus --sync "$(window)"
  esc_ends game2
  ;;

terminate)
  # SIGTERM (as SIGINT, Ctrl+C in the terminal) and SIGHUP (the terminal closed) close the
  # window: the program ends as on a focus loss, with exit code 0 and its statistics printed.
  for sig in TERM HUP; do
    start game --scale 1 --stats
    win="$(window)"
    [ -n "$win" ] || fail "no window"
    sleep 1
    kill -"$sig" "$game"
    ends "$game" 5 || fail "still running 5 s after SIG$sig"
    [ "$code" -eq 0 ] || fail "ended with exit code $code after SIG$sig"
    game=""
    grep -q '^DemoLoop: [1-9][0-9]* passes' "$tmp/game.err" || fail "no statistics after SIG$sig"
  done
  ;;

play)
  # Two coins, a two-player game, Esc to leave it and Esc to end: the keys reach the game as
  # key state (polled) through the window thread.
  start game --scale 1 --stats
  win="$(window)"
  [ -n "$win" ] || fail "no window"
  xdotool windowfocus --sync "$win"
  sleep 1
  xdotool key q
  sleep 0.4
  xdotool key q
  sleep 0.4
  xdotool key 2
  sleep 2
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    running "$game" || break
    xdotool key Escape
    sleep 0.4
  done
  ends "$game" 5 || fail "Esc did not end the program"
  [ "$code" -eq 0 ] || fail "ended with exit code $code"
  game=""
  cat "$tmp/game.err"
  grep -q '^StartPrompt: [1-9][0-9]* passes' "$tmp/game.err" || fail "the coins gave no start prompt"
  grep -q '^MainLoop: [1-9][0-9]* passes' "$tmp/game.err" || fail "key 2 started no game"
  ;;

replay)
  # A game played in the window with --record (two coins, a two-player game with both paddles
  # moving, initials typed, Esc) is played again headless and with --replay in the window: the
  # same state at the end and the same picture.
  start game --scale 1 --record "$tmp/game.rec" --state "$tmp/played.json" --screenshot "$tmp/played.png"
  win="$(window)"
  [ -n "$win" ] || fail "no window"
  xdotool windowfocus --sync "$win"
  sleep 1
  xdotool key q
  sleep 0.3
  xdotool key q
  sleep 0.5
  xdotool key 2
  sleep 2.5
  # Both players move all the time, for twelve seconds.
  i=0
  while [ "$i" -lt 24 ]; do
    xdotool keydown a keydown Down
    sleep 0.25
    xdotool keyup a keyup Down keydown z keydown Up
    sleep 0.25
    xdotool keyup z keyup Up
    i=$((i + 1))
  done
  xdotool type --delay 150 abc
  xdotool key Return
  sleep 1.5
  for _ in 1 2 3 4 5; do
    running "$game" || break
    xdotool key Escape
    sleep 0.5
  done
  ends "$game" 5 || fail "Esc did not end the program"
  game=""
  grep -q ' tap \| down ' "$tmp/game.rec" || fail "nothing recorded"
  "$exe" --headless --script "$tmp/game.rec" --state "$tmp/headless.json" --screenshot "$tmp/headless.png" \
    >"$tmp/headless.out" 2>"$tmp/headless.err" || fail "the headless replay failed"
  cmp "$tmp/played.json" "$tmp/headless.json" || fail "the headless replay ends in another state"
  cmp "$tmp/played.png" "$tmp/headless.png" || fail "the headless replay ends on another picture"
  start game2 --scale 1 --replay "$tmp/game.rec" --state "$tmp/replayed.json" --screenshot "$tmp/replayed.png"
  sleep 2
  xdotool search --name '^Quillmarsh Rall - Replay$' >/dev/null || fail "the caption does not say that a replay plays"
  ends "$game2" 90 || fail "the replay did not end with the recording"
  game2=""
  cmp "$tmp/played.json" "$tmp/replayed.json" || fail "the replay in the window ends in another state"
  cmp "$tmp/played.png" "$tmp/replayed.png" || fail "the replay in the window ends on another picture"
  grep -o '"enteredInitials": "[^"]*"' "$tmp/played.json"
  grep -c ' ' "$tmp/game.rec" | sed 's/^/lines recorded: /'
  ;;

cadence)
  # Refresh and Sleep(10) in a loop: ideally 100 passes a second.
  "$probe" --seconds 3 --min 98 --scale 3 >"$tmp/probe.out" 2>"$tmp/probe.err" || fail "cadence probe"
  cat "$tmp/probe.out"
  ;;

*)
  echo "unknown case $case_name"
  exit 2
  ;;
esac
echo "PASS"
exit 0
