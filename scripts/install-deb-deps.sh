#!/bin/sh
# Installs what building and checking the Debian packages needs (make deb, make deb-test), when it
# is missing; the game's own build dependencies come from scripts/install-deps.sh.
set -eu
exec "$(dirname "$0")/install-deps.sh" debhelper dpkg-dev fakeroot lintian appstream desktop-file-utils
