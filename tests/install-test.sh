#!/bin/sh
# Installs the build into a temporary prefix (not the one it was configured with, and with a
# space in it) and checks the artefacts: the program, its desktop entry, the icon at every size,
# the manual page and the documentation.
set -eu
build="$1"
top=$(mktemp -d)
trap 'rm -rf "$top"' EXIT
prefix="$top/my games"
cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "install: $*" >&2; exit 1; }
[ -x "$prefix/bin/quillmarsh-rall" ] || fail "no executable"
"$prefix/bin/quillmarsh-rall" --version | grep -q "quillmarsh-rall" || fail "the installed program does not run"
desktop="$prefix/share/applications/quillmarsh-rall.desktop"
[ -f "$desktop" ] || fail "no desktop entry"
grep -qFx "Exec=\"$prefix/bin/quillmarsh-rall\"" "$desktop" || fail "desktop entry does not start the installed game"
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
# Each form of the synopsis lists the options --help gives for its mode (--help and --version
# have a form of their own).
synopsis=$(sed -n '/^\.SH SYNOPSIS/,/^\.SH DESC/p' "$man" | tr -d '\\' | tr '\n' ' ' | sed 's/\.br/\n/g')
options() { "$prefix/bin/quillmarsh-rall" --help | sed -n "/^$1/,/^\$/p" | grep -o '^  --[a-z-]*' || true; }
for mode in Window Headless; do
  if [ $mode = Window ]; then form=$(echo "$synopsis" | head -n 1); else form=$(echo "$synopsis" | grep -e --headless || true); fi
  for option in $(options "Options of both") $(options "$mode options"); do
    case "$option" in --help | --version) continue ;; esac
    case "$form " in *" $option "*) ;; *) fail "the manual's synopsis lacks $option in its $mode form" ;; esac
  done
done
case "$synopsis" in *--help*--version*) ;; *) fail "the manual's synopsis lacks --help and --version" ;; esac
[ -f "$prefix/share/doc/quillmarsh-rall/FONT-LICENSE" ] || fail "no font licence in share/doc/quillmarsh-rall"
echo "install: all artefacts present"
