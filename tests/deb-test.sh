#!/bin/bash
# The Debian package of the game, built and checked as a player's machine would take it
# (make deb-test; as root or with sudo, since it installs the package):
#   tests/deb-test.sh [OUTDIR]   (default build-deb: the packages stay there, as make deb leaves them)
#  1. the versions of CMakeLists.txt, debian/changelog and the metainfo's newest release agree;
#  2. with QR_DEB_REPRODUCIBLE=1 (make deb-reproducible): two builds in different folders with the
#     same SOURCE_DATE_EPOCH give the same bytes (left out of make deb-test, for CI's time);
#  3. lintian finds no error and no warning, the desktop entry and the metainfo validate;
#  4. a player's high scores and kept games (in a home of the test's own) stay byte for byte as
#     they were through the install of an older build, the upgrade to this one, a remove and a
#     purge; the installed game finds them, runs headless and draws the committed pictures;
#     remove and purge leave no file of the package behind.
#  5. the rankings server's package: its unit passes systemd-analyze verify; installed with apt, it
#     has its system user, answers /api/health when run as that user on the database folder of the
#     unit and stops on SIGTERM; remove keeps the database and the settings, purge deletes both.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
out=${1:-build-deb}
pkg=quillmarsh-rall
server=quillmarsh-rall-server
server_user=_quillmarsh-rall
state=/var/lib/quillmarsh-rall
started=$(date +%s)

fail() { echo "deb-test: $*" >&2; exit 1; }
step() { echo "deb-test: $*"; }

if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
for p in "$pkg" "$server"; do
  if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "installed"; then
    fail "$p is installed on this machine already: purge it first (apt-get purge $p)"
  fi
done
# The server's purge deletes this folder: one that is there already is not the test's to delete.
[ ! -e "$state" ] || fail "$state exists on this machine already: it is not the test's to delete"

tmp=$(mktemp -d)
server_pid=""
cleanup() {
  # A failed run leaves no package and no server behind.
  if [ -n "$server_pid" ]; then $sudo kill -TERM "$server_pid" 2>/dev/null || true; fi
  for p in "$server" "$pkg"; do
    if dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "installed"; then
      $sudo env DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq "$p" >/dev/null 2>&1 || true
    fi
  done
  rm -rf "$tmp"
}
trap cleanup EXIT

# 1. One version everywhere.
version=$(sed -n 's/^project([A-Za-z]* VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no version in CMakeLists.txt's project()"
changelog_version=$(dpkg-parsechangelog -S Version)
[ "$changelog_version" = "$version" ] || fail "debian/changelog is at $changelog_version, CMakeLists.txt at $version"
metainfo=data/example.quillmarshrall.QuillmarshRall.metainfo.xml
release=$(grep -o '<release version="[^"]*"' "$metainfo" | head -n 1 | cut -d'"' -f2)
[ "$release" = "$version" ] || fail "the newest release in $metainfo is $release, not $version"
step "version $version in CMakeLists.txt, debian/changelog and the metainfo"

# 2. Reproducible: the same time for both builds, and the second one in another folder.
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -S Timestamp)
export SOURCE_DATE_EPOCH
debian/build-copy.sh "$out"
arch=$(dpkg --print-architecture)
deb="$(cd "$out" && pwd)/${pkg}_${version}_${arch}.deb"
[ -f "$deb" ] || fail "no $deb"
server_deb="$(cd "$out" && pwd)/${server}_${version}_${arch}.deb"
[ -f "$server_deb" ] || fail "no $server_deb"
if [ "${QR_DEB_REPRODUCIBLE:-0}" = 1 ]; then
  debian/build-copy.sh "$out/again"
  for f in "$out"/*.deb "$out"/*.ddeb; do
    [ -f "$f" ] || continue
    second="$out/again/$(basename "$f")"
    [ -f "$second" ] || fail "the second build made no $(basename "$f")"
    a=$(sha256sum <"$f" | cut -d' ' -f1)
    b=$(sha256sum <"$second" | cut -d' ' -f1)
    echo "  $a  $f"
    echo "  $b  $second"
    [ "$a" = "$b" ] || fail "$(basename "$f") differs between two builds (diffoscope $f $second)"
  done
  step "two builds gave the same bytes (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH)"
fi

# 3. What Debian's tools say, and what is in the package.
lintian --fail-on error,warning --display-info "$out/${pkg}_${version}_${arch}.changes" ||
  fail "lintian finds errors or warnings"
step "lintian: no error, no warning"
dpkg-deb -x "$deb" "$tmp/tree"
desktop="$tmp/tree/usr/share/applications/$pkg.desktop"
desktop-file-validate "$desktop" || fail "the desktop entry does not validate"
grep -qx "Exec=/usr/games/$pkg" "$desktop" || fail "the desktop entry does not start /usr/games/$pkg"
appstreamcli validate --no-net "$tmp/tree/usr/share/metainfo/$(basename "$metainfo")" ||
  fail "the metainfo does not validate"
for f in usr/games/$pkg usr/share/man/man6/$pkg.6.gz usr/share/doc/$pkg/README.md.gz \
  usr/share/doc/$pkg/copyright usr/share/icons/hicolor/256x256/apps/$pkg.png; do
  [ -f "$tmp/tree/$f" ] || fail "the package has no /$f"
done
# Everything under /usr, and no maintainer script that could reach into a home.
outside=$(dpkg-deb -c "$deb" | awk '{print $6}' | grep -v -e '^\./$' -e '^\./usr/' || true)
[ -z "$outside" ] || fail "the package installs outside /usr: $outside"
dpkg-deb -e "$deb" "$tmp/control"
for script in preinst postinst prerm postrm; do
  if [ -f "$tmp/control/$script" ] && grep -q -e HOME -e '\.local' -e '/home' "$tmp/control/$script"; then
    fail "the $script script speaks of a home folder"
  fi
done
step "the desktop entry and the metainfo validate; every file lies under /usr"

# The server's package: its files, its settings as a conffile, and a unit like the one
# cmake --install writes (the same sandbox, the same folders; the user is the package's own).
dpkg-deb -x "$server_deb" "$tmp/server-tree"
for f in usr/bin/$server lib/systemd/system/$server.service etc/default/$server \
  usr/lib/sysusers.d/$server.conf usr/share/man/man8/$server.8.gz usr/share/doc/$server/copyright; do
  [ -f "$tmp/server-tree/$f" ] || fail "the server's package has no /$f"
done
[ -z "$(dpkg-deb -c "$server_deb" | awk '{print $6}' | grep -e '^\./usr/games' -e '^\./var/')" ] ||
  fail "the server's package puts files in /usr/games or /var"
dpkg-deb -e "$server_deb" "$tmp/server-control"
grep -qx "/etc/default/$server" "$tmp/server-control/conffiles" ||
  fail "/etc/default/$server is not a conffile"
unit="$tmp/server-tree/lib/systemd/system/$server.service"
for line in "ExecStart=/usr/bin/$server" "User=$server_user" "StateDirectory=quillmarsh-rall" \
  "EnvironmentFile=-/etc/default/$server" NoNewPrivileges=yes PrivateTmp=yes ProtectSystem=strict; do
  grep -qx -- "$line" "$unit" || fail "the server's unit lacks $line"
done
sandbox() { grep -E '^(Environment|EnvironmentFile|StateDirectory|StateDirectoryMode|NoNewPrivileges|Private|Protect|Restrict|Lock|Memory|SystemCall|Capability|UMask|Kill|Timeout|Restart)' "$1" |
  grep -v '^ProtectHome=' | sort; }
diff <(sandbox "$unit") <(sandbox data/$server.service) >&2 ||
  fail "the package's unit and data/$server.service differ (above)"
step "the server's package holds its program, unit, settings (a conffile), sysusers entry and man page"

# 4. A player's files, made before anything is installed: a high-score table (one line of 120
# characters, each shifted up by 1 to 4 by its position, and CR LF) and a kept game.
home="$tmp/home"
data="$home/.local/share/$pkg"
mkdir -p "$data/replays"
perl -e '
  my $plain = "";
  for my $i (1 .. 5) { $plain .= sprintf("DEB%06dPKG%06d%06d", 1000 - 100 * $i, 5 - $i, 1); }
  my $stored = join "", map { chr(ord(substr($plain, $_ - 1, 1)) + ($_ % 4) + 1) } 1 .. length $plain;
  print $stored, "\r\n";' >"$data/QuillmarshRall.dat"
printf '# format 2\n# seed 7\n1000 tap Q\n' >"$data/replays/1p-1.txt"
scores() { (cd "$home" && find . -type f -print0 | sort -z | xargs -0 sha256sum); }
scores >"$tmp/scores.before"
# The real player's table on this machine, if any, is only read.
real="${XDG_DATA_HOME:-${HOME:-/nonexistent}/.local/share}/$pkg"
real_before=$( (cd "$real" 2>/dev/null && find . -type f -print0 | sort -z | xargs -0 -r sha256sum) || true)
unchanged() {
  scores | cmp -s - "$tmp/scores.before" || fail "the player's files changed $1"
  real_now=$( (cd "$real" 2>/dev/null && find . -type f -print0 | sort -z | xargs -0 -r sha256sum) || true)
  [ "$real_now" = "$real_before" ] || fail "the files in $real changed $1"
}
# apt and dpkg see the test's home: a maintainer script that touched a home would touch this one.
apt() { $sudo env HOME="$home" DEBIAN_FRONTEND=noninteractive apt-get -y -q "$@" 2>&1 | grep -v '^N: Download is performed unsandboxed' | sed 's/^/  apt: /'; }
installed_version() { dpkg-query -W -f='${Version}' "$pkg" 2>/dev/null; }
game() { env -u XDG_DATA_HOME HOME="$home" /usr/games/$pkg "$@"; }
# With no key pressed the attract mode shows the high scores at 13 seconds: the table must be
# the player's (a headless run reads files only from the folder --data-dir names).
plays() {
  game --version | grep -q "$1" || fail "the installed game is not version $1"
  : >"$tmp/empty.txt"
  game --headless --script "$tmp/empty.txt" --run-ms 13000 --state "$tmp/attract.json" --data-dir "$data"
  grep -q '"DEB"' "$tmp/attract.json" || fail "the installed game does not show the player's table"
}

# An older build: the build's tree packed again under a lower version in its changelog (-nc: what
# is built stays, dh goes straight to the packages; the packages of this version are made already).
(cd "$out/src" && sed -i "1s/([^)]*)/(${version}~previous)/" debian/changelog &&
  DEB_BUILD_OPTIONS="nocheck" dpkg-buildpackage -b -us -uc -nc -Pnocheck >../previous.log 2>&1) ||
  fail "the older build failed: $out/previous.log"
previous="$(cd "$out" && pwd)/${pkg}_${version}~previous_${arch}.deb"
apt install "$previous"
[ "$(installed_version)" = "${version}~previous" ] || fail "the older build did not install"
plays "$version"
unchanged "by installing the older build"
apt install "$deb"
[ "$(installed_version)" = "$version" ] || fail "the upgrade to $version did not install it"
unchanged "by the upgrade"
step "installed ${version}~previous, upgraded to $version: the player's files stayed as they were"

plays "$version"
game --headless --script docs/rally-script.txt --run-ms 9000 --screenshot "$tmp/rally.png" --state "$tmp/rally.json"
grep -q '"numPlayers": *2' "$tmp/rally.json" || fail "the scripted two-player game did not start"
# The pictures of every screen, as committed, from a home without a table.
mkdir "$tmp/fresh-home"
HOME="$tmp/fresh-home" sh scripts/screens.sh --check /usr/games/$pkg
unchanged "by playing"
step "the installed game runs headless and draws every screen as committed"

dpkg-query -L "$pkg" >"$tmp/files"
apt remove "$pkg"
while IFS= read -r f; do
  if [ -f "$f" ] || [ -L "$f" ]; then fail "remove left /$f"; fi
done <"$tmp/files"
unchanged "by remove"
# The package has no configuration files, so remove forgets it altogether: purge is tried on the
# package installed again.
apt install "$deb"
apt purge "$pkg"
[ -z "$(installed_version)" ] || dpkg-query -W -f='${Status}' "$pkg" | grep -q not-installed ||
  fail "purge left the package known to dpkg"
while IFS= read -r f; do
  [ -e "$f" ] || continue
  [ -d "$f" ] || fail "purge left $f"
  # A folder stays only when another package owns it too or something else is in it.
  [ -n "$(ls -A "$f")" ] || dpkg-query -S "$f" >/dev/null 2>&1 || fail "purge left the empty folder $f"
done <"$tmp/files"
unchanged "by purge"
step "remove and purge left no file of the package and the player's files as they were"

# 5. The rankings server's package, installed with the game as a machine would take both.
apt install "$deb" "$server_deb"
dpkg-query -W -f='${Status}' "$server" | grep -q "ok installed" || fail "$server did not install"
id "$server_user" >/dev/null 2>&1 || fail "the package made no user $server_user"
installed_unit=/lib/systemd/system/$server.service
[ -f "$installed_unit" ] || fail "no $installed_unit"
# systemd-analyze verify needs no running systemd; where it cannot run at all it says why and
# the check is skipped, loudly. Any word it has about the unit fails the test.
if command -v systemd-analyze >/dev/null; then
  if analysis=$(systemd-analyze verify "$installed_unit" 2>&1) && [ -z "$analysis" ]; then
    step "systemd-analyze verify: nothing to say about $installed_unit"
  elif ! grep -q "$server" <<<"$analysis" &&
    grep -qiE 'failed to (initiali[sz]e|set ?up|allocate|create)|not permitted|permission denied' <<<"$analysis"; then
    step "SKIPPED: systemd-analyze verify cannot run here: $analysis"
  else
    echo "$analysis" >&2
    fail "systemd-analyze verify finds fault with $installed_unit"
  fi
else
  step "SKIPPED: no systemd-analyze on this machine, the unit is not verified"
fi
# Run as the unit would: as its user, in the folder systemd makes for StateDirectory=, with the
# settings of /etc/default (all commented out as installed).
$sudo install -d -o "$server_user" -g "$server_user" -m 0700 "$state"
port=$((20000 + RANDOM % 20000))
# setpriv execs, so that the signal and the exit status are the server's own (runuser would
# stand between them).
$sudo setpriv --reuid="$server_user" --regid="$server_user" --clear-groups env -i STATE_DIRECTORY="$state" \
  sh -c "set -a; . /etc/default/$server; exec /usr/bin/$server --listen 127.0.0.1:$port" \
  >"$tmp/server.log" 2>&1 &
server_pid=$!
health=""
for _ in $(seq 1 100); do
  health=$(curl -fsS --max-time 2 "http://127.0.0.1:$port/api/health" 2>/dev/null) && break
  kill -0 "$server_pid" 2>/dev/null || { cat "$tmp/server.log" >&2; fail "the installed server stopped at start"; }
  sleep 0.1
done
grep -q '"ok": *true' <<<"$health" || { cat "$tmp/server.log" >&2; fail "/api/health did not answer ok: $health"; }
$sudo kill -TERM "$server_pid"
for _ in $(seq 1 100); do kill -0 "$server_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$server_pid" 2>/dev/null && fail "the server did not stop within 10 s of SIGTERM"
rc=0
wait "$server_pid" || rc=$?
server_pid=""
[ "$rc" -eq 0 ] || { cat "$tmp/server.log" >&2; fail "the server stopped by SIGTERM exited with $rc"; }
database="$state/rankings.sqlite3"
[ "$($sudo stat -c %U "$database" 2>/dev/null)" = "$server_user" ] ||
  fail "the server left no $database of its user's"
step "the installed server ran as $server_user, answered $health on /api/health and stopped on SIGTERM"

dpkg-query -L "$server" >"$tmp/server-files"
apt remove "$server"
$sudo test -f "$database" || fail "remove deleted the database"
[ -f "/etc/default/$server" ] || fail "remove deleted the settings (a conffile stays until purge)"
[ ! -e "/usr/bin/$server" ] || fail "remove left /usr/bin/$server"
apt purge "$server" "$pkg"
[ ! -e "$state" ] || fail "purge left $state"
[ ! -e "/etc/default/$server" ] || fail "purge left /etc/default/$server"
[ ! -e "/etc/systemd/system/multi-user.target.wants/$server.service" ] || fail "purge left the unit enabled"
while IFS= read -r f; do
  [ -e "$f" ] || continue
  [ -d "$f" ] || fail "purge left $f"
  [ -n "$(ls -A "$f")" ] || dpkg-query -S "$f" >/dev/null 2>&1 || fail "purge left the empty folder $f"
done <"$tmp/server-files"
unchanged "by the server's package"
step "remove kept the server's database and settings, purge deleted them (the system user stays)"
step "done in $(($(date +%s) - started)) s"
