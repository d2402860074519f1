#!/bin/sh
# Starts the game in its window, or says how to run it when there is no display.
set -eu
exe="$1"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: the game needs a desktop session; without one, run '$exe --headless --help'."
  exit 1
fi
exec "$exe"
