#!/bin/sh
# Installs the Debian packages that building, testing and playing need, when they are missing.
#   scripts/install-deps.sh [PACKAGE...]   the given packages instead (the other install scripts)
set -eu

packages="build-essential cmake ninja-build pkg-config git
libsdl2-dev libsdl2-ttf-dev libfreetype-dev libharfbuzz-dev libpng-dev nlohmann-json3-dev libcurl4-openssl-dev
libboost-dev libssl-dev openssl libsqlite3-dev libpqxx-dev postgresql
libgtest-dev libgmock-dev libbenchmark-dev
clang clang-format libclang-rt-14-dev
xvfb xauth xdotool openbox zip"

[ $# -gt 0 ] && packages="$*"

missing=""
for p in $packages; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
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
