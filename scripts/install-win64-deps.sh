#!/bin/sh
# Builds the libraries of the Windows (x86-64) build from Debian's source packages, cross-compiled
# with MinGW-w64 and cmake/mingw-w64-x86_64.cmake: zlib, SDL2 (static only), libpng, GoogleTest
# (with GoogleMock) and the nlohmann-json headers. Installs the Debian packages the cross build
# needs first, when they are missing.
#
# The libraries go to $XDG_CACHE_HOME/quillmarsh-rall/win64-deps/KEY (~/.cache/... by default),
# KEY being a hash of this script, the toolchain file and the source package versions; a prefix
# that is already there is used as it is. Progress goes to standard error; the one line on
# standard output, the last one, is the prefix:
#
#   cmake ... -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#             -DCMAKE_PREFIX_PATH="$(scripts/install-win64-deps.sh)"
#
# JOBS (default 2) sets the build's parallelism.
set -eu

say() { printf '%s\n' "$*" >&2; }
fail() {
  say "install-win64-deps: $*"
  exit 1
}

repo=$(cd "$(dirname "$0")/.." && pwd)
script="$repo/scripts/install-win64-deps.sh"
toolchain="$repo/cmake/mingw-w64-x86_64.cmake"
[ -f "$toolchain" ] || fail "missing toolchain file $toolchain"
jobs=${JOBS:-2}
case "$jobs" in '' | *[!0-9]* | 0) fail "JOBS must be a positive number, not '$jobs'" ;; esac

# The source packages come from this suite whatever the machine runs: it has SDL2 2.26.5.
suite=bookworm
sources="zlib libsdl2 libpng1.6 googletest nlohmann-json3"

# --- Debian packages of the cross build ---------------------------------------------------------
packages="g++-mingw-w64-x86-64-posix wine64 nsis dpkg-dev cmake ninja-build xvfb xauth"
missing=""
for p in $packages; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
if [ -n "$missing" ]; then
  say "Installing:$missing"
  if [ "$(id -u)" -eq 0 ]; then
    sudo=""
  elif command -v sudo >/dev/null 2>&1; then
    sudo="sudo"
  else
    fail "these packages are missing and there is no sudo to install them:$missing"
  fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq >&2
  # shellcheck disable=SC2086
  $sudo apt-get install -y -qq --no-install-recommends $missing >&2
fi

# --- A private apt set-up that knows the suite's source packages ----------------------------------
# It lives in the cache and leaves the system's apt configuration, lists and cache alone.
cache="${XDG_CACHE_HOME:-$HOME/.cache}/quillmarsh-rall/win64-deps"
apt="$cache/apt"
mkdir -p "$apt/sources" "$apt/lists/partial" "$apt/cache/archives/partial" "$cache/src" ||
  fail "cannot create the cache directory $cache"

system_sources=/etc/apt/sources.list.d/debian.sources
[ -r "$system_sources" ] || fail "cannot read $system_sources to find the Debian archive"
# The first stanza names the main archive; keep its address and keyring, ask for sources.
awk 'NF == 0 { if (seen) exit; next } /^#/ { next } { seen = 1; print }' "$system_sources" |
  sed -e 's/^Types:.*/Types: deb-src/' -e "s/^Suites:.*/Suites: $suite/" \
    >"$apt/sources/debian-src.sources.new"
grep -q '^URIs:' "$apt/sources/debian-src.sources.new" ||
  fail "no URIs line in the first stanza of $system_sources"
mv "$apt/sources/debian-src.sources.new" "$apt/sources/debian-src.sources"

set -- -o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$apt/sources" \
  -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache"
# As root apt hands downloads to the _apt user, who cannot write under root's home.
[ "$(id -u)" -eq 0 ] && set -- "$@" -o APT::Sandbox::User=root

if ! apt-get "$@" -qq --error-on=any update >"$apt/update.log" 2>&1; then
  if ls "$apt/lists/"*Sources* >/dev/null 2>&1; then
    say "install-win64-deps: apt-get update failed (see $apt/update.log); using the lists fetched before"
  else
    cat "$apt/update.log" >&2
    fail "apt-get update of the $suite sources failed"
  fi
fi

# --- Versions and key ---------------------------------------------------------------------------
# newest: prints the highest of the Debian versions read, one a line.
newest() {
  best=""
  while read -r candidate; do
    if [ -z "$best" ] || dpkg --compare-versions "$candidate" gt "$best"; then best=$candidate; fi
  done
  echo "$best"
}

versions=""
for s in $sources; do
  v=$(apt-cache "$@" showsrc --only-source "$s" 2>/dev/null | awk '$1 == "Version:" { print $2 }' |
    newest)
  [ -n "$v" ] || fail "no source package $s in $suite"
  versions="$versions $s=$v"
done
case "$versions" in
  *" libsdl2=2.26.5+"*) ;;
  *) fail "expected SDL2 2.26.5 in $suite, found:$versions" ;;
esac

# The compiler is part of the recipe too: a C++ library must be rebuilt when it changes.
compiler=$(dpkg-query -W -f='${Package}=${Version} ' g++-mingw-w64-x86-64-posix mingw-w64-x86-64-dev)
key=$( (
  cat "$script" "$toolchain"
  echo "$versions $compiler"
) | sha256sum | cut -c1-16)
prefix="$cache/$key"
if [ -d "$prefix" ]; then
  say "Windows libraries are ready:$versions"
  echo "$prefix"
  exit 0
fi

# --- Build --------------------------------------------------------------------------------------
# Everything is built into a staging tree (DESTDIR) that is renamed to the prefix once complete.
work=$(mktemp -d "$cache/build-$key.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM HUP
stage="$work/stage"
dest="$stage$prefix"
logs="$cache/logs/$key"
mkdir -p "$logs"

say "Fetching the source packages:$versions"
fetch_started=$(date +%s)
# shellcheck disable=SC2086
(cd "$cache/src" && apt-get "$@" -qq source --download-only --only-source $versions) \
  >"$logs/fetch.log" 2>&1 || {
  tail -n 20 "$logs/fetch.log" >&2
  fail "apt-get source failed (log: $logs/fetch.log)"
}
say "  fetched in $(($(date +%s) - fetch_started)) s"

# run LOG COMMAND...: runs a build step niced, its output to the package's log.
run() {
  log="$1"
  shift
  if ! nice "$@" >>"$log" 2>&1; then
    tail -n 30 "$log" >&2
    fail "failed: $* (log: $log)"
  fi
}

# unpack NAME: extracts the source package (with Debian's patches) and prints its directory.
unpack() {
  for v in $versions; do
    case "$v" in "$1="*) version=${v#*=} ;; esac
  done
  dsc="$cache/src/${1}_${version#*:}.dsc"
  [ -f "$dsc" ] || fail "missing $dsc after apt-get source"
  (cd "$work" && dpkg-source --no-check -x "$dsc" "$1-src") >"$logs/$1.log" 2>&1 ||
    fail "cannot unpack $dsc (log: $logs/$1.log)"
  echo "$work/$1-src"
}

# build NAME [CMAKE OPTIONS...]: configures, builds and installs a CMake project into the stage.
build() {
  name="$1"
  shift
  src=$(unpack "$name")
  log="$logs/$name.log"
  run "$log" cmake -S "$src" -B "$work/$name-build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_PREFIX_PATH="$dest" \
    -DCMAKE_INSTALL_PREFIX="$prefix" "$@"
  run "$log" cmake --build "$work/$name-build" -j "$jobs"
  run "$log" env DESTDIR="$stage" cmake --install "$work/$name-build"
}

# timed LABEL COMMAND...: runs the command and tells how long it took.
timed() {
  label="$1"
  shift
  started=$(date +%s)
  "$@"
  say "  $label: $(($(date +%s) - started)) s"
}

# zlib's CMake always builds a DLL next to the static library; only the static one is built
# and installed, as libz.a where FindZLIB looks for it.
build_zlib() {
  src=$(unpack zlib)
  log="$logs/zlib.log"
  run "$log" cmake -S "$src" -B "$work/zlib-build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix"
  run "$log" cmake --build "$work/zlib-build" -j "$jobs" --target zlibstatic
  mkdir -p "$dest/include" "$dest/lib"
  cp "$src/zlib.h" "$work/zlib-build/zconf.h" "$dest/include/"
  cp "$work/zlib-build/libzlibstatic.a" "$dest/lib/libz.a"
}

# Static only; Windows' own audio (WASAPI, DirectSound, winmm) and video, no test library, and
# no ccache, which SDL would otherwise pick up from the host by itself.
build_sdl2() {
  build libsdl2 -DSDL_SHARED=OFF -DSDL_STATIC=ON -DSDL_TEST=OFF -DSDL_TESTS=OFF -DSDL_CCACHE=OFF \
    -DSDL_WASAPI=ON -DSDL_DIRECTX=ON -DSDL_RENDER_D3D=ON -DSDL_DUMMYAUDIO=ON -DSDL_DUMMYVIDEO=ON
}

build_libpng() {
  build libpng1.6 -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_EXECUTABLES=OFF -DPNG_TESTS=OFF
}

build_googletest() {
  build googletest -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON
}

build_nlohmann_json() {
  build nlohmann-json3 -DJSON_BuildTests=OFF -DJSON_Install=ON
}

say "Building the Windows libraries in $work (logs: $logs)"
all_started=$(date +%s)
timed zlib build_zlib
timed SDL2 build_sdl2
timed libpng build_libpng
timed googletest build_googletest
timed nlohmann-json build_nlohmann_json

# Installed CMake files and scripts that recorded the staging path must name the prefix.
grep -rlIF "$stage" "$dest" 2>/dev/null | while read -r f; do
  sed -i "s|$stage||g" "$f"
done
# shellcheck disable=SC2086
printf '%s\n' $versions >"$dest/debian-source-versions.txt"

if ! mv -T "$dest" "$prefix" 2>/dev/null; then
  # Another run finished the same prefix first; it is as good as this one.
  [ -d "$prefix" ] || fail "cannot move the libraries to $prefix"
fi
say "Windows libraries built in $(($(date +%s) - all_started)) s: $prefix ($(du -sh "$prefix" | cut -f1))"
echo "$prefix"
