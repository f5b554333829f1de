#!/usr/bin/env bash
# Installs into a temporary prefix and starts the installed launcher: the player's directory is
# prepared, missing pictures are put there, and the player's own files are left as they were.
# Also validates the desktop entry and the AppStream metainfo, and checks that the service unit
# names the program where this installation put it.
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d)
pid=
trap 'if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; fi; rm -rf "$work"' EXIT

desktop-file-validate "$source/app/org.zimble.Zimble.desktop"
appstreamcli validate --no-net "$source/app/org.zimble.Zimble.metainfo.xml" >/dev/null

cmake --install "$build" --prefix "$work/prefix" >/dev/null
for f in games/zimble bin/zimble-scored libexec/zimble/zimble share/zimble/tessa1.jpg \
         share/applications/org.zimble.Zimble.desktop share/metainfo/org.zimble.Zimble.metainfo.xml \
         share/icons/hicolor/scalable/apps/org.zimble.Zimble.svg share/icons/hicolor/256x256/apps/org.zimble.Zimble.png \
         lib/systemd/system/zimble-scored.service share/man/man6/zimble.6.gz share/man/man1/zimble-scored.1.gz \
         share/doc/zimble/copyright share/doc/zimble-scored/copyright; do
  [ -e "$work/prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
grep -qxF "ExecStart=$work/prefix/bin/zimble-scored --listen 127.0.0.1:8417 --db /var/lib/zimble-scored/scores.sqlite" \
  "$work/prefix/lib/systemd/system/zimble-scored.service" || { echo "the unit does not start $work/prefix/bin/zimble-scored"; exit 1; }

# The command line works with no display and no home, and prepares nothing.
nodisplay() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u HOME XDG_DATA_HOME="$work/cli" "$@"; }
nodisplay "$work/prefix/games/zimble" --help >"$work/out" 2>"$work/err" || { echo "--help failed"; cat "$work/err"; exit 1; }
grep -q '^Usage: zimble \[options\]' "$work/out" && [ ! -s "$work/err" ] || { echo "--help printed no usage"; exit 1; }
[ "$(nodisplay "$work/prefix/games/zimble" --version)" = "zimble $(sed -n 's/^project(Zimble VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")" ] \
  || { echo "--version is not the project version"; exit 1; }
for wrong in --bogus -platform stray; do
  status=0
  nodisplay "$work/prefix/games/zimble" "$wrong" >"$work/out" 2>"$work/err" || status=$?
  [ "$status" = 2 ] || { echo "$wrong: status $status, not 2"; exit 1; }
  [ ! -s "$work/out" ] && head -n1 "$work/err" | grep -q "^zimble: .*'${wrong##*-}'" && sed -n 2p "$work/err" | grep -q '^Usage: zimble' \
    || { echo "$wrong: no error and usage on standard error"; cat "$work/err"; exit 1; }
done
[ ! -e "$work/cli" ] || { echo "the command line prepared a game directory"; exit 1; }

# A player who already has a score file and a picture of their own.
data="$work/data/zimble"
mkdir -p "$data"
printf 'my scores, not to be touched' > "$data/Scores.dat"
printf 'my own picture' > "$data/tessa2.jpg"
cp "$data/Scores.dat" "$work/scores.before"

XDG_DATA_HOME="$work/data" QT_QPA_PLATFORM=offscreen "$work/prefix/games/zimble" &
pid=$!
for _ in $(seq 100); do
  [ "$(readlink -f "/proc/$pid/exe" 2>/dev/null)" = "$(readlink -f "$work/prefix/libexec/zimble/zimble")" ] && break
  sleep 0.05
done
sleep 1
kill -0 "$pid" || { echo "the game did not keep running"; exit 1; }
[ "$(readlink -f "/proc/$pid/cwd")" = "$(readlink -f "$data")" ] || { echo "the game runs in the wrong directory"; exit 1; }
kill "$pid"
wait "$pid" 2>/dev/null || true

cmp "$data/Scores.dat" "$work/scores.before"
[ "$(cat "$data/tessa2.jpg")" = "my own picture" ]
cmp "$data/tessa1.jpg" "$work/prefix/share/zimble/tessa1.jpg"
cmp "$data/tessa3.jpg" "$work/prefix/share/zimble/tessa3.jpg"
echo "install and launch: ok"
