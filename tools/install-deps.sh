#!/usr/bin/env bash
# Installs the Debian packages the station needs. Idempotent: asks apt only
# for what is missing. Runs as root or through sudo.
#   tools/install-deps.sh        everything: build, run, test, benchmark, fuzz
#   tools/install-deps.sh run    only what building and running the station need
set -euo pipefail

run=(
  # build
  g++ cmake ninja-build pkg-config
  # toolkit
  qt6-base-dev libgl-dev fonts-liberation
  # Qt's SQL drivers: SQLite for the production record (and SQLite's own
  # API, which its export reads through), PostgreSQL and libpq (which reads
  # connection strings) for a production line
  libqt6sql6-sqlite libsqlite3-dev libqt6sql6-psql libpq-dev
  # the programmer library reads ELF firmware through elfutils' libelf
  libelf-dev
  # real programmers (port texts "mspdebug:...")
  mspdebug
)
all=(
  "${run[@]}"
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # fuzzing (clang with the libFuzzer runtime)
  clang libclang-rt-14-dev
  # interop oracles and the device data the simulated library is generated from
  srecord msp430mcu
  # the generators of device.cfg and the example firmware
  python3
  # a real window under a virtual display, and screenshots of it
  xvfb xauth xdotool imagemagick
  # a fixed clock for the manual's pictures (tools/screenshots.sh)
  faketime
  # the server the line's tests start for themselves
  postgresql-15
)

case "${1:-all}" in
  run) packages=("${run[@]}") ;;
  all) packages=("${all[@]}") ;;
  *) echo "usage: $0 [run|all]" >&2; exit 2 ;;
esac

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
