# Shared by the scripts: installs what is missing and builds.
# shellcheck shell=bash

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD_DIR="${ZIMBLE_BUILD_DIR:-$ROOT/build}"

# Debian packages needed to build, test and run the game and the score service.
PACKAGES=(
  cmake g++ make pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev
  libqt6sql6-sqlite libqt6sql6-psql qt6-qpa-plugins
  libgl-dev libglib2.0-dev libbenchmark-dev libsystemd-dev libsqlite3-dev zlib1g-dev
  fonts-dejavu-core fonts-liberation2
  desktop-file-utils appstream dpkg-dev file
)
# Only for the tests: a PostgreSQL server for the two-instance service test, curl, Chromium and
# the sqlite3 shell for the page layout test, nginx for the reverse-proxy test, lintian for the
# packages, h11 as a strict HTTP client for the conformance test, and the accessibility bus,
# pyatspi, D-Bus and Xvfb for reading the windows as a screen reader does.
TEST_PACKAGES=(postgresql curl chromium sqlite3 nginx-light lintian python3-h11 at-spi2-core python3-pyatspi dbus xvfb xauth)

as_root() {
  if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

ensure_packages() {
  local missing=()
  local p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  if [ "${#missing[@]}" -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  fi
}

build() {
  local type="${1:-Release}"
  cmake -S "$ROOT" -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE="$type" >/dev/null
  cmake --build "$BUILD_DIR" -j"$(nproc)"
}
