#!/usr/bin/env bash
# Installs the Debian packages the station needs to build, test and run.
# Idempotent: asks apt only for what is missing. Runs as root or through sudo.
set -euo pipefail

packages=(
  # build
  g++ cmake ninja-build pkg-config
  # toolkit
  qt6-base-dev libgl-dev fonts-liberation
  # Qt's SQLite driver: the production record (and SQLite's own API, which
  # its export reads through)
  libqt6sql6-sqlite libsqlite3-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # fuzzing (clang with the libFuzzer runtime)
  clang libclang-rt-14-dev
  # interop oracles and the device data the simulated library is generated from
  srecord mspdebug msp430mcu
  # the generators of device.cfg and the example firmware
  python3
  # a real window under a virtual display, and screenshots of it
  xvfb xauth xdotool imagemagick
  # the production line: Qt's PostgreSQL driver, libpq to read connection
  # strings, and the server the line's tests start for themselves
  libqt6sql6-psql libpq-dev postgresql-15
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "need root or sudo to install: ${missing[*]}" >&2; exit 1; }
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
