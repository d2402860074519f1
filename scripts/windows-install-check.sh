#!/bin/sh
# The Windows installer, checked under Wine on a virtual X server with a window manager (as on a
# desktop; without one, Wine waits 2 s for a window manager to confirm that a closed window is
# gone):
#
#   windows-install-check.sh SETUP_EXE
#
# The silent installer (/S) installs the game for the user with its Start-menu entry; the
# installed game opens its window; Q Q 2 starts a two-player game, in which a held paddle key
# moves the paddle (screenshots with F12 before and after, in %APPDATA%\QuillmarshRall); Esc
# abandons the game and Esc again ends the program within 1 s; the silent uninstaller removes
# the game and its entry and leaves the player's high scores. Uses WINEPREFIX as it is; no other
# Wine process may be running in it (a session started without the X server cannot open windows).
# Prints what it measured; exit 0 passed, 1 failed.
set -u

[ $# -eq 1 ] || {
  echo "usage: $0 SETUP_EXE" >&2
  exit 2
}
if [ -z "${QR_IN_XVFB:-}" ]; then
  command -v xvfb-run >/dev/null 2>&1 || {
    echo "FAIL: xvfb-run is not installed" >&2
    exit 1
  }
  setup=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
  QR_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp" sh "$0" "$setup"
fi
setup="$1"
: "${WINEPREFIX:?WINEPREFIX is not set}"
export WINEDEBUG="${WINEDEBUG:--all}" SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-dummy}"
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
for tool in xdotool openbox; do
  command -v "$tool" >/dev/null 2>&1 || {
    echo "FAIL: $tool is not installed" >&2
    exit 1
  }
done

tmp=$(mktemp -d)
wm=""
game=""
cleanup() {
  for p in $game $wm; do kill "$p" 2>/dev/null || true; done
  "$wineserver" -k 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  for f in "$tmp"/*.out "$tmp"/*.err; do
    [ -s "$f" ] && {
      echo "--- $f"
      cat "$f"
    }
  done
  exit 1
}
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.2f", b - a }'; }
# running PID: the process has not ended (and is no zombie).
running() {
  [ -r "/proc/$1/stat" ] || return 1
  [ "$(sed 's/.*) //' "/proc/$1/stat" | cut -c1)" != "Z" ]
}

openbox --sm-disable >"$tmp/wm.out" 2>"$tmp/wm.err" &
wm=$!
"$wine" wineboot -i </dev/null >/dev/null 2>&1 || fail "wineboot"

user_dir="$WINEPREFIX/drive_c/users/$(id -un)"
instdir="$user_dir/AppData/Local/Programs/Quillmarsh Rall"
entry="$user_dir/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Quillmarsh Rall.lnk"
data="$user_dir/AppData/Roaming/QuillmarshRall"
rm -rf "$instdir" "$entry" "$data"

# --- Install ------------------------------------------------------------------------------------
t=$(now)
"$wine" "$setup" /S >"$tmp/setup.out" 2>"$tmp/setup.err" || fail "the installer failed"
[ -f "$instdir/quillmarsh-rall.exe" ] || fail "no $instdir/quillmarsh-rall.exe"
[ -f "$instdir/uninstall.exe" ] || fail "no uninstaller"
[ -f "$instdir/LICENSES/SDL2.txt" ] || fail "no licences"
[ -f "$entry" ] || fail "no Start-menu entry"
"$wine" reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\QuillmarshRall' /v DisplayVersion \
  >"$tmp/reg.out" 2>&1 || fail "the uninstaller is not registered"
echo "installed silently in $(since "$t") s: $(ls "$instdir" | tr '\n' ' ')"

# --- Play ---------------------------------------------------------------------------------------
"$wine" "$instdir/quillmarsh-rall.exe" >"$tmp/game.out" 2>"$tmp/game.err" &
game=$!
t=$(now)
win=$(timeout 20 xdotool search --sync --onlyvisible --name '^Quillmarsh Rall$' 2>/dev/null | tail -n 1)
[ -n "$win" ] || fail "no window within 20 s"
echo "window open after $(since "$t") s"
xdotool windowfocus --sync "$win"
sleep 1
running "$game" || fail "the game ended by itself"
# shot N: F12, then waits for the Nth path on standard output; its file name goes to shotN.
shot() {
  xdotool key F12
  i=0
  while [ "$(grep -c '\.png' "$tmp/game.out")" -lt "$1" ]; do
    i=$((i + 1))
    [ "$i" -gt 50 ] && fail "F12 printed no path"
    sleep 0.1
  done
  eval "shot$1=\$(grep '\.png' \"\$tmp/game.out\" | sed -n '$1p' | tr -d '\r' | sed 's/.*[\\\\/]//')"
}
xdotool key q
sleep 0.3
xdotool key q
sleep 0.3
xdotool key 2
# Get Ready: the ball waits 2 s, the paddles move already.
sleep 0.4
shot 1
sleep 0.3
shot 2
xdotool keydown a
sleep 0.4
xdotool keyup a
shot 3
for n in 1 2 3; do
  eval "f=\$data/\$shot$n"
  [ -s "$f" ] || fail "no screenshot $f"
done
cmp -s "$data/$shot1" "$data/$shot2" || fail "the picture changed with no key held ($shot1, $shot2)"
cmp -s "$data/$shot2" "$data/$shot3" && fail "the paddle key changed nothing ($shot2, $shot3)"
echo "screenshots in %APPDATA%\\QuillmarshRall: still without a key, changed by the paddle key"
xdotool key Escape # abandons the game
sleep 3
running "$game" || fail "Esc in the game ended the program"
t=$(now)
xdotool key Escape
i=0
while running "$game"; do
  i=$((i + 1))
  [ "$i" -gt 100 ] && fail "still running 5 s after Esc"
  sleep 0.05
done
took=$(since "$t")
wait "$game"
code=$?
game=""
[ "$code" -eq 0 ] || fail "the game ended with exit code $code"
awk -v s="$took" 'BEGIN { exit !(s < 1.0) }' || fail "Esc took $took s to end the program"
echo "Esc ended the program in $took s"

# --- Uninstall ----------------------------------------------------------------------------------
# The uninstaller copies itself away and returns at once; the folder goes when it is done.
t=$(now)
"$wine" "$instdir/uninstall.exe" /S >"$tmp/uninstall.out" 2>"$tmp/uninstall.err" || fail "the uninstaller failed"
i=0
while [ -e "$instdir" ]; do
  i=$((i + 1))
  [ "$i" -gt 300 ] && fail "$instdir is still there 30 s after the uninstaller: $(ls -R "$instdir")"
  sleep 0.1
done
[ ! -e "$entry" ] || fail "the Start-menu entry is still there"
"$wine" reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\QuillmarshRall' >/dev/null 2>&1 &&
  fail "the uninstaller is still registered"
[ -s "$data/$shot1" ] || fail "the uninstaller removed the player's files"
echo "uninstalled silently in $(since "$t") s; the player's files stay"
echo "PASS"
