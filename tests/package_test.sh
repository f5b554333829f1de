#!/usr/bin/env bash
# Builds the two Debian packages and checks them: what each holds and depends on, lintian (when
# installed), the service unit against the service package's files (and systemd-analyze verify
# when present), and the game started offscreen from its unpacked package until its start window
# is drawn.
set -euo pipefail
build=$1
work=$(mktemp -d)
pid=
trap 'if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi; rm -rf "$work"' EXIT
fail() { echo "$*" >&2; exit 1; }

# Every installed file belongs to one of the two packages: none is left without a component.
cmake --install "$build" --prefix "$work/unspecified" --component Unspecified >/dev/null
[ -z "$(find "$work/unspecified" -type f 2>/dev/null)" ] \
  || fail "installed but in neither package: $(cd "$work/unspecified" && find . -type f)"

(cd "$build" && cpack -G DEB -B "$work/out" >/dev/null)
game=$(ls "$work"/out/zimble_*.deb)
service=$(ls "$work"/out/zimble-scored_*.deb)
files() { dpkg-deb --contents "$1" | awk '{print $6}' | grep -v '/$' | sort; }
files "$game" >"$work/game.files"
files "$service" >"$work/service.files"

# What each package holds, and nothing in both (dpkg would refuse to install the second).
for f in ./usr/games/zimble ./usr/libexec/zimble/zimble ./usr/share/zimble/tessa1.jpg \
         ./usr/share/zimble/tessa2.jpg ./usr/share/zimble/tessa3.jpg \
         ./usr/share/applications/org.zimble.Zimble.desktop ./usr/share/metainfo/org.zimble.Zimble.metainfo.xml \
         ./usr/share/icons/hicolor/48x48/apps/org.zimble.Zimble.png ./usr/share/icons/hicolor/scalable/apps/org.zimble.Zimble.svg \
         ./usr/share/man/man6/zimble.6.gz ./usr/share/doc/zimble/copyright ./usr/share/doc/zimble/changelog.gz; do
  grep -qxF "$f" "$work/game.files" || fail "missing from the game's package: $f"
done
for f in ./usr/bin/zimble-scored ./usr/lib/systemd/system/zimble-scored.service ./usr/share/man/man1/zimble-scored.1.gz \
         ./usr/share/doc/zimble-scored/copyright ./usr/share/doc/zimble-scored/changelog.gz; do
  grep -qxF "$f" "$work/service.files" || fail "missing from the service's package: $f"
done
both=$(comm -12 "$work/game.files" "$work/service.files")
[ -z "$both" ] || fail "in both packages: $both"

# Fields: a player's install pulls in no HTTP server or SQL library, the service no widgets or GIO.
field() { dpkg-deb --field "$1" "$2"; }
[ "$(field "$game" Package)" = zimble ] && [ "$(field "$service" Package)" = zimble-scored ]
[ "$(field "$game" Section)" = games ] || fail "the game's package is not in section games"
game_depends=$(field "$game" Depends)
service_depends=$(field "$service" Depends)
grep -q 'libqt6widgets6' <<<"$game_depends" || fail "the game does not depend on Qt Widgets: $game_depends"
grep -qE 'libqt6httpserver|libqt6sql|libqt6websockets' <<<"$game_depends" && fail "the game depends on server libraries: $game_depends"
grep -q 'libqt6sql6 ' <<<"$service_depends" && grep -q 'libqt6network6' <<<"$service_depends" && grep -q 'libqt6sql6-sqlite' <<<"$service_depends" \
  || fail "the service lacks its libraries: $service_depends"
grep -qE 'libqt6widgets|libqt6gui|libglib2' <<<"$service_depends" && fail "the service depends on desktop libraries: $service_depends"
# libsystemd (for telling systemd it is ready) is the service's alone.
grep -q 'libsystemd0' <<<"$service_depends" || fail "the service does not depend on libsystemd0: $service_depends"
grep -q 'libsystemd0' <<<"$game_depends" && fail "the game depends on libsystemd0: $game_depends"
for deb in "$game" "$service"; do
  long=$(field "$deb" Description | awk 'length > 80')
  [ -z "$long" ] || fail "description lines over 80 columns in $(basename "$deb"): $long"
done

# lintian: no error and no warning.
if command -v lintian >/dev/null; then
  lintian --no-cfg --fail-on error,warning "$game" "$service" || fail "lintian found faults"
else
  echo "lintian is not installed: not run"
fi

root="$work/root"
dpkg -x "$game" "$root"
dpkg -x "$service" "$root"

# Programs stripped; manual pages in their sections.
for f in usr/libexec/zimble/zimble usr/bin/zimble-scored; do
  file -L "$root/$f" | grep -q ', stripped' || fail "not stripped: $f"
done
zcat "$root/usr/share/man/man6/zimble.6.gz" | grep -q '^\.TH ZIMBLE 6 ' || fail "zimble.6 is not a section 6 page"
zcat "$root/usr/share/man/man1/zimble-scored.1.gz" | grep -q '^\.TH ZIMBLE-SCORED 1 ' || fail "zimble-scored.1 is not a section 1 page"

# The unit runs the program the package installs, and names a manual page the package has.
unit="$root/usr/lib/systemd/system/zimble-scored.service"
exec_start=$(sed -n 's/^ExecStart=\([^ ]*\).*/\1/p' "$unit")
grep -qxF ".$exec_start" "$work/service.files" || fail "the unit starts $exec_start, which the package does not install"
[ -x "$root$exec_start" ] || fail "$exec_start is not executable in the package"
grep -qx 'Documentation=man:zimble-scored(1)' "$unit" || fail "the unit names another manual page"
grep -qx 'Type=notify' "$unit" || fail "the unit does not wait for the service to say it is ready"
if command -v systemd-analyze >/dev/null && [ -d /lib/systemd/system ]; then
  # Verified inside the unpacked package, with systemd's own units beside it.
  mkdir -p "$root/lib/systemd"
  cp -a /lib/systemd/system "$root/lib/systemd/"
  man=no
  command -v man >/dev/null && man=yes
  out=$(MANPATH="$root/usr/share/man" systemd-analyze verify --man="$man" --root="$root" \
          /usr/lib/systemd/system/zimble-scored.service 2>&1) || fail "systemd-analyze verify: $out"
  [ -z "$out" ] || fail "systemd-analyze verify: $out"
else
  echo "systemd-analyze is not installed: unit not verified"
fi

# The installed game, started offscreen from the unpacked package: it runs the package's program
# in the player's directory, and its start window is drawn. Qt's painting log says when.
data="$work/data"
log="$work/game.log"
XDG_DATA_HOME="$data" HOME="$work" QT_QPA_PLATFORM=offscreen QT_LOGGING_RULES='qt.widgets.painting=true' \
  timeout 60 "$root/usr/games/zimble" >"$log" 2>&1 &
pid=$!
shown=no
for _ in $(seq 300); do
  if grep -q 'Drawing .* of [A-Za-z:]*StartWindow(' "$log"; then shown=yes; break; fi
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
[ "$shown" = yes ] || { tail -20 "$log" >&2; fail "the installed game did not show its start window"; }
game_pid=$(pgrep -P "$pid" | head -1)
[ "$(readlink -f "/proc/$game_pid/exe")" = "$(readlink -f "$root/usr/libexec/zimble/zimble")" ] \
  || fail "the launcher did not start the package's game"
[ "$(readlink -f "/proc/$game_pid/cwd")" = "$(readlink -f "$data/zimble")" ] || fail "the game runs in the wrong directory"
cmp "$data/zimble/tessa1.jpg" "$root/usr/share/zimble/tessa1.jpg"
kill "$pid"
wait "$pid" 2>/dev/null || true
pid=

echo "packages: ok ($(basename "$game"), $(basename "$service"))"
