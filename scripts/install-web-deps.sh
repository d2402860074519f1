#!/bin/sh
# Installs what the web page needs, when it is missing: Debian's Emscripten to build it, and
# Chromium with node and npm to test it in a real browser (the tests' npm packages come from
# web/tests/package-lock.json with npm ci).
set -eu

missing=""
for p in emscripten chromium python3; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
# Any node of version 18 or later will do; without one, Debian's.
if ! command -v node >/dev/null 2>&1; then missing="$missing nodejs"; fi
if ! command -v npm >/dev/null 2>&1; then missing="$missing npm"; fi
[ -z "$missing" ] && exit 0

echo "Installing:$missing"
if [ "$(id -u)" -eq 0 ]; then
  sudo=""
elif command -v sudo >/dev/null 2>&1; then
  sudo="sudo"
else
  echo "These packages are missing and there is no sudo to install them:$missing" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
# shellcheck disable=SC2086
$sudo apt-get install -y -qq --no-install-recommends $missing
