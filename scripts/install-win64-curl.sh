#!/bin/sh
# Builds libcurl for the Windows (x86-64) build from Debian's curl source package, cross-compiled
# with MinGW-w64 and cmake/mingw-w64-x86_64.cmake: a static library that speaks HTTP and HTTPS
# only, over Schannel (Windows' own TLS, which checks certificates against Windows' own store),
# with nothing optional (no zlib, brotli, zstd, nghttp2, IDN, PSL, SSH or LDAP). It is the game's
# only library that the other libraries (scripts/install-win64-deps.sh) do not need, and has a
# cache of its own, so that changing one rebuilds only that one.
#
# The library goes to $XDG_CACHE_HOME/quillmarsh-rall/win64-curl/KEY (~/.cache/... by default),
# KEY being a hash of this script, the toolchain file, the source package version and the
# compiler; a prefix that is already there is used as it is. Progress goes to standard error; the
# one line on standard output, the last one, is the prefix, to be added to CMAKE_PREFIX_PATH:
#
#   cmake ... -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#             -DCMAKE_PREFIX_PATH="$(scripts/install-win64-deps.sh);$(scripts/install-win64-curl.sh)"
#
# Run it after scripts/install-win64-deps.sh, which installs the cross compiler. JOBS (default 2)
# sets the build's parallelism.
set -eu

say() { printf '%s\n' "$*" >&2; }
fail() {
  say "install-win64-curl: $*"
  exit 1
}

repo=$(cd "$(dirname "$0")/.." && pwd)
script="$repo/scripts/install-win64-curl.sh"
toolchain="$repo/cmake/mingw-w64-x86_64.cmake"
[ -f "$toolchain" ] || fail "missing toolchain file $toolchain"
jobs=${JOBS:-2}
case "$jobs" in '' | *[!0-9]* | 0) fail "JOBS must be a positive number, not '$jobs'" ;; esac
command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 ||
  fail "no MinGW-w64 cross compiler (scripts/install-win64-deps.sh installs it)"

# The same suite as the other libraries: curl 7.88.1.
suite=bookworm

# --- A private apt set-up that knows the suite's source packages ----------------------------------
cache="${XDG_CACHE_HOME:-$HOME/.cache}/quillmarsh-rall/win64-curl"
apt="$cache/apt"
mkdir -p "$apt/sources" "$apt/lists/partial" "$apt/cache/archives/partial" "$cache/src" ||
  fail "cannot create the cache directory $cache"

system_sources=/etc/apt/sources.list.d/debian.sources
[ -r "$system_sources" ] || fail "cannot read $system_sources to find the Debian archive"
awk 'NF == 0 { if (seen) exit; next } /^#/ { next } { seen = 1; print }' "$system_sources" |
  sed -e 's/^Types:.*/Types: deb-src/' -e "s/^Suites:.*/Suites: $suite/" \
    >"$apt/sources/debian-src.sources.new"
grep -q '^URIs:' "$apt/sources/debian-src.sources.new" ||
  fail "no URIs line in the first stanza of $system_sources"
mv "$apt/sources/debian-src.sources.new" "$apt/sources/debian-src.sources"

set -- -o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$apt/sources" \
  -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache"
[ "$(id -u)" -eq 0 ] && set -- "$@" -o APT::Sandbox::User=root

if ! apt-get "$@" -qq --error-on=any update >"$apt/update.log" 2>&1; then
  if ls "$apt/lists/"*Sources* >/dev/null 2>&1; then
    say "install-win64-curl: apt-get update failed (see $apt/update.log); using the lists fetched before"
  else
    cat "$apt/update.log" >&2
    fail "apt-get update of the $suite sources failed"
  fi
fi

# --- Version and key ----------------------------------------------------------------------------
version=""
for candidate in $(apt-cache "$@" showsrc --only-source curl 2>/dev/null | awk '$1 == "Version:" { print $2 }'); do
  if [ -z "$version" ] || dpkg --compare-versions "$candidate" gt "$version"; then version=$candidate; fi
done
[ -n "$version" ] || fail "no source package curl in $suite"

compiler=$(dpkg-query -W -f='${Package}=${Version} ' gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev)
key=$( (
  cat "$script" "$toolchain"
  echo "curl=$version $compiler"
) | sha256sum | cut -c1-16)
prefix="$cache/$key"
if [ -d "$prefix" ]; then
  say "Windows libcurl is ready: curl=$version"
  echo "$prefix"
  exit 0
fi

# --- Build --------------------------------------------------------------------------------------
work=$(mktemp -d "$cache/build-$key.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM HUP
stage="$work/stage"
dest="$stage$prefix"
logs="$cache/logs/$key"
mkdir -p "$logs"
log="$logs/curl.log"
started=$(date +%s)

say "Fetching the source package curl=$version"
(cd "$cache/src" && apt-get "$@" -qq source --download-only --only-source "curl=$version") >"$logs/fetch.log" 2>&1 || {
  tail -n 20 "$logs/fetch.log" >&2
  fail "apt-get source failed (log: $logs/fetch.log)"
}
dsc="$cache/src/curl_${version#*:}.dsc"
[ -f "$dsc" ] || fail "missing $dsc after apt-get source"
(cd "$work" && dpkg-source --no-check -x "$dsc" curl-src) >"$log" 2>&1 || fail "cannot unpack $dsc (log: $log)"

run() {
  if ! nice "$@" >>"$log" 2>&1; then
    tail -n 30 "$log" >&2
    fail "failed: $* (log: $log)"
  fi
}

say "Building libcurl in $work (log: $log)"
# HTTP_ONLY leaves out every protocol but HTTP and HTTPS; the CA bundle and path are Windows'
# own store, which Schannel reads.
run cmake -S "$work/curl-src" -B "$work/curl-build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF \
  -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_USE_MBEDTLS=OFF -DCURL_USE_BEARSSL=OFF \
  -DCURL_USE_WOLFSSL=OFF -DCURL_USE_NSS=OFF -DCURL_USE_GSSAPI=OFF -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBSSH=OFF \
  -DCURL_ZLIB=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF -DUSE_NGTCP2=OFF -DUSE_QUICHE=OFF \
  -DUSE_MSH3=OFF -DUSE_LIBIDN2=OFF -DUSE_WIN32_IDN=OFF -DUSE_LIBRTMP=OFF -DENABLE_ARES=OFF \
  -DCURL_DISABLE_LDAP=ON -DCURL_DISABLE_LDAPS=ON -DHTTP_ONLY=ON -DENABLE_UNIX_SOCKETS=OFF \
  -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none -DCURL_DISABLE_ALTSVC=ON -DCURL_DISABLE_COOKIES=ON \
  -DCURL_DISABLE_NTLM=ON -DCURL_DISABLE_PROXY=OFF -DPICKY_COMPILER=OFF
run cmake --build "$work/curl-build" -j "$jobs"
run env DESTDIR="$stage" cmake --install "$work/curl-build"

# Installed CMake files and scripts that recorded the staging path must name the prefix.
grep -rlIF "$stage" "$dest" 2>/dev/null | while read -r f; do
  sed -i "s|$stage||g" "$f"
done
mkdir -p "$dest/share/licenses/curl"
cp "$work/curl-src/COPYING" "$dest/share/licenses/curl/COPYING"
echo "curl=$version" >"$dest/debian-source-versions.txt"

if ! mv -T "$dest" "$prefix" 2>/dev/null; then
  [ -d "$prefix" ] || fail "cannot move the library to $prefix"
fi
say "Windows libcurl built in $(($(date +%s) - started)) s: $prefix ($(du -sh "$prefix" | cut -f1))"
echo "$prefix"
