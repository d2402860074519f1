#!/bin/sh
# make windows: the Windows (x86-64) build, cross-compiled on Debian and tested under Wine.
#
#  1. installs what is missing and builds the Windows libraries, or takes them from the cache
#     (scripts/install-win64-deps.sh, and libcurl: scripts/install-win64-curl.sh);
#  2. makes the Wine prefix ($BUILD_WIN64/wine unless WINEPREFIX is set) and keeps one Wine
#     process running in it to the end, so that each program started under Wine starts quickly;
#  3. cross-builds into $BUILD_WIN64 (build-win64);
#  4. runs the whole test suite there (ctest: the unit tests and the one-hour soak) under Wine;
#  5. plays docs/rally-script.txt headless with seeds 1 and 7 in the Linux build ($BUILD, built
#     here if needed) and in the Windows build: the state and the picture must be the same bytes;
#     then a game with a friend through the Linux rankings server on 127.0.0.1, hosted by the
#     Linux program and joined by the Windows one: both must end in the same state;
#  6. writes quillmarsh-rall-VERSION-win64.zip and quillmarsh-rall-VERSION-setup.exe into
#     $BUILD_WIN64/dist;
#  7. checks the installer under Wine on a virtual X server (scripts/windows-install-check.sh).
#
# Each step prints how long it took. JOBS sets the parallelism (default 2).
set -eu

repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
win=${BUILD_WIN64:-build-win64}
native=${BUILD:-build}
jobs=${JOBS:-2}
generator=""
command -v ninja >/dev/null 2>&1 && generator="-G Ninja"
launcher=""
command -v ccache >/dev/null 2>&1 && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"

say() { printf 'windows: %s\n' "$*" >&2; }
fail() {
  say "FAILED: $*"
  exit 1
}

now() { date +%s.%N; }
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%7.1f s", b - a }'; }
started=$(now)
step_started=$started
# step NAME: reports how long the step before it took, and starts the next one.
step_name=""
step() {
  t=$(now)
  [ -z "$step_name" ] || say "$(printf '%-28s' "$step_name") $(seconds "$step_started" "$t")"
  step_name="$1"
  step_started=$t
}

# --- 1. The libraries ------------------------------------------------------------------------------
step "dependencies"
deps=$(scripts/install-win64-deps.sh) || fail "the Windows libraries could not be built"
[ -d "$deps" ] || fail "scripts/install-win64-deps.sh gave no prefix"
curl=$(scripts/install-win64-curl.sh) || fail "libcurl for Windows could not be built"
[ -d "$curl" ] || fail "scripts/install-win64-curl.sh gave no prefix"

# --- 2. Wine ---------------------------------------------------------------------------------------
step "wine prefix"
mkdir -p "$win"
WINEPREFIX=${WINEPREFIX:-$repo/$win/wine}
WINEDEBUG=${WINEDEBUG:--all}
WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}  # no Mono or Gecko installer dialogs
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
[ -x "$wine" ] || fail "wine64 is missing"
if ! "$wine" wineboot -i </dev/null >/dev/null 2>&1; then
  # The first start of a prefix has failed once on a busy machine: once more, from a new server.
  "$wineserver" -k 2>/dev/null || true
  "$wine" wineboot -i </dev/null >/dev/null 2>&1 || fail "wineboot failed in $WINEPREFIX"
fi
# The keeper: a command prompt that waits on a FIFO for input that never comes.
fifo="$repo/$win/.wine-keeper"
rm -f "$fifo"
mkfifo "$fifo"
sleep 7200 >"$fifo" &
keeper_sleep=$!
"$wine" cmd <"$fifo" >/dev/null 2>&1 &
keeper_wine=$!
cleanup() {
  kill "$keeper_sleep" 2>/dev/null || true
  "$wineserver" -k 2>/dev/null || true
  wait "$keeper_wine" 2>/dev/null || true
  rm -f "$fifo"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- 3. The cross build --------------------------------------------------------------------------
step "cross build"
# shellcheck disable=SC2086
cmake -S . -B "$win" $generator -DCMAKE_BUILD_TYPE=Release $launcher \
  -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-x86_64.cmake" -DCMAKE_PREFIX_PATH="$deps;$curl" >/dev/null ||
  fail "cmake could not configure $win"
cmake --build "$win" -j "$jobs" || fail "the cross build failed"

x86_64-w64-mingw32-objdump -p "$win/quillmarsh-rall.exe" | grep -q 'Subsystem.*(Windows GUI)' ||
  fail "quillmarsh-rall.exe is no GUI program"
imports=$(x86_64-w64-mingw32-objdump -p "$win/quillmarsh-rall.exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr '\n' ' ')
say "quillmarsh-rall.exe: a GUI program that imports $imports"
for dll in $imports; do
  [ -f "$WINEPREFIX/drive_c/windows/system32/$(echo "$dll" | tr 'A-Z' 'a-z')" ] || fail "$dll is no DLL of Windows"
done

# --- 4. The tests under Wine ------------------------------------------------------------------------
step "tests under wine"
(cd "$win" && SDL_AUDIODRIVER=dummy ctest --output-on-failure -j "$jobs") || fail "tests failed under Wine"

# Started from a console, the GUI program still prints there.
version_line=$(cd "$win" && script -qec "'$wine' cmd /c quillmarsh-rall.exe --version" /dev/null </dev/null |
  tr -d '\r' | sed 's/\x1b\[[?0-9;]*[a-zA-Z]//g' | grep -E '^quillmarsh-rall ?[0-9]') ||
  fail "quillmarsh-rall.exe --version printed nothing on the console of cmd"
say "from a console: $version_line"

# --- 5. Linux and Windows play the same game ------------------------------------------------------
step "linux build"
if [ ! -f "$native/CMakeCache.txt" ]; then
  # shellcheck disable=SC2086
  cmake -S . -B "$native" $generator -DCMAKE_BUILD_TYPE=Release $launcher >/dev/null ||
    fail "cmake could not configure $native"
fi
cmake --build "$native" -j "$jobs" --target quillmarsh-rall quillmarsh-rall-server || fail "the Linux build failed"

step "same bytes as linux"
cmp_dir="$win/compare"
rm -rf "$cmp_dir"
mkdir -p "$cmp_dir"
cp docs/rally-script.txt "$cmp_dir/script.txt"
for seed in 1 7; do
  for os in linux windows; do
    set -- --headless --seed "$seed" --script script.txt --run-ms 20000 --state "$os-$seed.json" --screenshot "$os-$seed.png"
    if [ "$os" = linux ]; then
      (cd "$cmp_dir" && "$repo/$native/quillmarsh-rall" "$@") || fail "the Linux game failed (seed $seed)"
    else
      (cd "$cmp_dir" && "$wine" "$repo/$win/quillmarsh-rall.exe" "$@") || fail "the Windows game failed (seed $seed)"
    fi
  done
  for ext in json png; do
    cmp "$cmp_dir/linux-$seed.$ext" "$cmp_dir/windows-$seed.$ext" || fail "seed $seed: the $ext files differ"
  done
  say "seed $seed: the state ($(wc -c <"$cmp_dir/linux-$seed.json") bytes) and the picture ($(wc -c <"$cmp_dir/linux-$seed.png") bytes) are the same bytes"
done

step "friend game with linux"
# Five seconds of a two-player game over WinHTTP: coins and the start from the Linux host, both
# paddles moved, and the host's window losing the focus, which ends the game on both sides at
# the same pass (an end of --run-ms would come at a pass of its own on each side). The server,
# the host and the guest are stopped within a minute whatever happens.
net_dir="$win/netplay"
rm -rf "$net_dir"
mkdir -p "$net_dir"
printf '%s\n' "500 tap Q" "800 tap Q" "1200 tap 2" "1500 down A" "4000 up A" "5000 focus-lost" >"$net_dir/host.txt"
printf '%s\n' "1800 down A" "3000 up A" "3200 down Z" "4500 up Z" >"$net_dir/guest.txt"
net_host=""
net_stop() { kill $net_host "$net_server" 2>/dev/null || true; }
net_fail() {
  net_stop
  tail -n 5 "$net_dir"/*.log >&2
  fail "$1"
}
# await PATTERN FILE: the first match of the sed pattern in the file, within ten seconds.
await() {
  for _ in $(seq 100); do
    found=$(sed -n "$1" "$2" | head -n 1)
    [ -z "$found" ] || { echo "$found"; return 0; }
    sleep 0.1
  done
  return 1
}
timeout 60 "$repo/$native/src/server/quillmarsh-rall-server" --listen 127.0.0.1:0 --data-dir "$net_dir/server" \
  --relay-rate 100000 2>"$net_dir/server.log" &
net_server=$!
net_port=$(await 's/.*listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$net_dir/server.log") ||
  net_fail "the Linux server did not start"
url="http://127.0.0.1:$net_port/"
set -- --headless --script host.txt --run-ms 20000 --state linux.json --data-dir host
(cd "$net_dir" && exec timeout 60 "$repo/$native/quillmarsh-rall" "$@" --host-game "$url" 2>host.log) &
net_host=$!
code=$(await 's/.*room \([A-Z2-9]\{6\}\):.*/\1/p' "$net_dir/host.log") || net_fail "the Linux host opened no room"
set -- --headless --script guest.txt --run-ms 20000 --state windows.json --data-dir guest
(cd "$net_dir" && timeout 60 "$wine" "$repo/$win/quillmarsh-rall.exe" "$@" --join "$code" --server "$url" 2>guest.log) ||
  net_fail "the Windows guest failed"
wait "$net_host" || net_fail "the Linux host failed"
net_host=""
net_stop
cmp "$net_dir/linux.json" "$net_dir/windows.json" || fail "the friend game ended in different states"
say "friend game: both sides end in the same state ($(wc -c <"$net_dir/linux.json") bytes); $(sed -n 's/.*the game with a friend: //p' "$net_dir/guest.log" | tr -d '\r')"

# --- 6. The zip and the installer -----------------------------------------------------------------
step "packages"
version=$("$wine" "$win/quillmarsh-rall.exe" --version | tr -d '\r' | sed -n 's/^quillmarsh-rall //p')
[ -n "$version" ] || fail "the game printed no version"
dist="$win/dist"
name="quillmarsh-rall-$version-win64"
stage="$dist/$name"
rm -rf "$dist"
mkdir -p "$stage/LICENSES"
x86_64-w64-mingw32-strip -o "$stage/quillmarsh-rall.exe" "$win/quillmarsh-rall.exe"
cp "$win/icons/quillmarsh-rall.ico" "$stage/"
crlf() { sed 's/\r*$/\r/' "$1" >"$2"; }
sed "s/@VERSION@/$version/" data/windows/README.txt >"$dist/README.txt"
crlf "$dist/README.txt" "$stage/README.txt"
rm "$dist/README.txt"
# The licences of what the program holds: the font, SDL2, libcurl, libpng, zlib, the MinGW-w64
# runtime (with winpthreads) and GCC's runtime libraries, and nlohmann/json.
sources="${XDG_CACHE_HOME:-$HOME/.cache}/quillmarsh-rall/win64-deps/src"
from_tarball() { # from_tarball TARBALL MEMBER OUT
  tar -xOf "$sources"/$1 --wildcards --no-wildcards-match-slash "$2" >"$dist/licence.tmp" 2>/dev/null && [ -s "$dist/licence.tmp" ] ||
    fail "no $2 in $sources/$1"
  crlf "$dist/licence.tmp" "$stage/LICENSES/$3"
  rm "$dist/licence.tmp"
}
crlf assets/fonts/LICENSE "$stage/LICENSES/font-DejaVu.txt"
crlf "$deps/share/licenses/SDL2/LICENSE.txt" "$stage/LICENSES/SDL2.txt"
crlf "$curl/share/licenses/curl/COPYING" "$stage/LICENSES/curl.txt"
from_tarball 'libpng1.6_*.orig.tar.*' '*/LICENSE' libpng.txt
from_tarball 'zlib_*.orig.tar.*' '*/LICENSE' zlib.txt
from_tarball 'nlohmann-json3_*.orig.tar.*' '*/LICENSE.MIT' nlohmann-json.txt
crlf /usr/share/doc/mingw-w64-common/copyright "$stage/LICENSES/mingw-w64-runtime.txt"
crlf /usr/share/doc/gcc-mingw-w64-base/copyright "$stage/LICENSES/gcc-runtime.txt"
(cd "$dist" && rm -f "$name.zip" && zip -qrX9 "$name.zip" "$name") || fail "zip failed"
makensis -V2 -DVERSION="$version" -DSTAGE="$repo/$stage" -DOUTFILE="$repo/$dist/quillmarsh-rall-$version-setup.exe" \
  data/windows/quillmarsh-rall.nsi >"$dist/makensis.log" 2>&1 || {
  cat "$dist/makensis.log" >&2
  fail "makensis failed"
}
rm "$dist/makensis.log"
for f in "$win/quillmarsh-rall.exe" "$stage/quillmarsh-rall.exe" "$dist/$name.zip" "$dist/quillmarsh-rall-$version-setup.exe"; do
  say "$(printf '%10d bytes  %s' "$(wc -c <"$f")" "$f")"
done

# --- 7. The installer under Wine, on a virtual X server ----------------------------------------------
step "installer check"
# Its Wine session must start on the virtual X server: the keeper's ends first.
cleanup
sh scripts/windows-install-check.sh "$dist/quillmarsh-rall-$version-setup.exe" || fail "the installer check failed"

step ""
say "$(printf '%-28s' "all") $(seconds "$started" "$(now)")"
say "done: $dist/$name.zip and $dist/quillmarsh-rall-$version-setup.exe"
