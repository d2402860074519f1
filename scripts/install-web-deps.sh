#!/bin/sh
# Installs what the web page needs, when it is missing: Debian's Emscripten to build it, and
# Chromium with node and npm to test it in a real browser (the tests' npm packages come from
# web/tests/package-lock.json with npm ci).
set -eu

packages="emscripten chromium python3"
# Any node of version 18 or later will do; without one, Debian's.
if ! command -v node >/dev/null 2>&1; then packages="$packages nodejs"; fi
if ! command -v npm >/dev/null 2>&1; then packages="$packages npm"; fi
# shellcheck disable=SC2086
exec "$(dirname "$0")/install-deps.sh" $packages
