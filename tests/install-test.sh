#!/bin/sh
# Installs the build into a temporary prefix and checks the four artefacts: the program, its
# desktop entry, the icon at every size, and the manual page.
set -eu
build="$1"
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "install: $*" >&2; exit 1; }
[ -x "$prefix/bin/quillmarsh-rall" ] || fail "no executable"
"$prefix/bin/quillmarsh-rall" --version | grep -q "quillmarsh-rall" || fail "the installed program does not run"
desktop="$prefix/share/applications/quillmarsh-rall.desktop"
[ -f "$desktop" ] || fail "no desktop entry"
grep -q '^Exec=quillmarsh-rall$' "$desktop" || fail "desktop entry does not start the game"
grep -q '^Icon=quillmarsh-rall$' "$desktop" || fail "desktop entry names no icon"
for size in 16 24 32 48 64 128 256; do
  icon="$prefix/share/icons/hicolor/${size}x${size}/apps/quillmarsh-rall.png"
  [ -f "$icon" ] || fail "no ${size}x${size} icon"
  # The PNG header holds the width and height as big-endian words at bytes 16 and 20.
  dims=$(od -An -tu1 -j16 -N8 "$icon" | tr -s ' ' | sed 's/^ //')
  expect="0 0 $((size / 256)) $((size % 256)) 0 0 $((size / 256)) $((size % 256))"
  [ "$dims" = "$expect" ] || fail "${size}x${size} icon has the wrong size ($dims)"
done
man="$prefix/share/man/man6/quillmarsh-rall.6"
[ -f "$man" ] || fail "no manual page"
grep -q '^\.TH QUILLMARSH-RALL 6' "$man" || fail "manual page is not in section 6"
echo "install: all artefacts present"
