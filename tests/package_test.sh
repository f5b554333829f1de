#!/usr/bin/env bash
# Builds the Debian package and checks what it holds.
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$build" && cpack -G DEB -B "$work" >/dev/null)
deb=$(ls "$work"/*.deb)
contents=$(dpkg-deb --contents "$deb")
for f in ./usr/bin/zimble ./usr/bin/zimble-scored ./usr/libexec/zimble/zimble ./usr/share/zimble/tessa1.jpg \
         ./usr/share/zimble/tessa2.jpg ./usr/share/zimble/tessa3.jpg \
         ./usr/share/applications/org.zimble.Zimble.desktop ./usr/share/metainfo/org.zimble.Zimble.metainfo.xml \
         ./usr/share/icons/hicolor/48x48/apps/org.zimble.Zimble.png ./usr/share/icons/hicolor/scalable/apps/org.zimble.Zimble.svg \
         ./usr/lib/systemd/system/zimble-scored.service; do
  grep -qF " $f" <<<"$contents" || { echo "missing from the package: $f"; exit 1; }
done
[ "$(dpkg-deb --field "$deb" Section)" = "games" ]
dpkg-deb --field "$deb" Depends | grep -q libqt6widgets6
echo "package: ok ($(basename "$deb"))"
