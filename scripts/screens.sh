#!/bin/sh
# Photographs the game's screens with the headless twin into docs/screens/ (seed 1).
#   scripts/screens.sh [EXE [OUTDIR]]
#   scripts/screens.sh --check EXE   photographs them again and compares them byte for byte with
#                                    the committed pictures (a test of make test)
set -eu
check=""
if [ "${1:-}" = "--check" ]; then
  check=1
  shift
fi
exe="${1:-build/quillmarsh-rall}"
out="${2:-docs/screens}"
here="$(cd "$(dirname "$0")/.." && pwd)"
[ -n "$check" ] && out="$(mktemp -d)"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"; [ -z "$check" ] || rm -rf "$out"' EXIT
mkdir -p "$out"

shot() {  # name run-ms [script lines...]
  name="$1"
  ms="$2"
  shift 2
  : >"$tmp/$name.txt"
  for line in "$@"; do echo "$line" >>"$tmp/$name.txt"; done
  "$exe" --headless --seed 1 --script "$tmp/$name.txt" --run-ms "$ms" --screenshot "$out/$name.png"
}

shot roll 3000
shot instructions 6000
shot highscores 13000
shot prompt 1800 "1000 tap Q" "1300 tap Q"
shot rally 4300 "1000 tap Q" "1300 tap Q" "2000 tap 2" "4200 down A"
shot serve 4700 "1000 tap Q" "1300 tap Q" "2000 tap 2" "4200 down A" "4500 up A"
shot initials 41500 "1000 tap Q" "1300 tap Q" "2000 tap 2" "2100 down Up" "41000 tap A" "41100 tap B"
shot gameover 39000 "1000 tap Q" "1300 tap Q" "2000 tap 2" "2100 down Up"
if [ -n "$check" ]; then
  status=0
  for f in "$here"/docs/screens/*.png; do
    name="$(basename "$f")"
    if ! cmp -s "$f" "$out/$name"; then
      echo "docs/screens/$name differs from what the game draws now" >&2
      status=1
    fi
  done
  [ "$status" -eq 0 ] && echo "docs/screens: every picture is as committed"
  exit "$status"
fi
echo "screens written to $out"
