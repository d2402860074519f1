#!/bin/bash
# Builds the Debian packages in a clean copy of the tree (make deb; tests/deb-test.sh):
#   debian/build-copy.sh OUTDIR
# The copy holds what a commit of everything would hold: the tracked files as they are in the
# working tree (uncommitted edits included, deleted files left out) and the new files git does
# not ignore, so that a package builds before its debian/ files are committed. Build folders,
# node_modules and the rest of .gitignore stay out, and so does .git. The copy goes to
# OUTDIR/src, which dpkg-buildpackage -b leaves the packages beside, in OUTDIR.
# The changelog's version must be the one CMakeLists.txt declares. SOURCE_DATE_EPOCH, when set,
# is the time of every file in the packages; otherwise dpkg-buildpackage takes the changelog's.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd -P)
[ $# -eq 1 ] || { echo "usage: $0 OUTDIR" >&2; exit 2; }
out=$1
jobs=${DEB_JOBS:-2}

cmake_version=$(sed -n 's/^project([A-Za-z]* VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
changelog_version=$(dpkg-parsechangelog -l "$top/debian/changelog" -S Version)
if [ "$changelog_version" != "$cmake_version" ]; then
  echo "debian/changelog is at $changelog_version but CMakeLists.txt declares $cmake_version:" \
    "add a changelog entry for $cmake_version" >&2
  exit 1
fi

out=$(realpath -m "$out")
case "$out/" in "$top/"build-deb/* | /tmp/*) ;; *)
  echo "$0: OUTDIR must lie in build-deb/ or /tmp (it is emptied first): $out" >&2
  exit 2 ;;
esac
mkdir -p "$out"
rm -rf "$out/src"
rm -f "$out"/*.deb "$out"/*.ddeb "$out"/*.changes "$out"/*.buildinfo
mkdir "$out/src"
cd "$top"
git ls-files -z --cached --others --exclude-standard |
  while IFS= read -r -d '' f; do
    if [ -e "$f" ] || [ -L "$f" ]; then printf '%s\0' "$f"; fi
  done |
  tar --null --files-from=- -cf - | tar -xf - -C "$out/src"

cd "$out/src"
echo "Building the packages in $out/src ($(dpkg-parsechangelog -S Version))"
# The tests are not run here: make test runs every one of them.
export DEB_BUILD_OPTIONS="nocheck parallel=$jobs"
if ! dpkg-buildpackage -b -us -uc -Pnocheck >"$out/build.log" 2>&1; then
  tail -n 40 "$out/build.log" >&2
  echo "The package build failed; its whole log: $out/build.log" >&2
  exit 1
fi
ls "$out"/*.deb
