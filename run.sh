#!/usr/bin/env bash
# Installs what building and running need, builds a release and launches the
# station on the simulated programmer (realistic link timing, so the bar
# moves as it would). The tests and benchmarks are built only where their
# packages are installed (./test.sh installs them).
#   ./run.sh              on the desktop
#   xvfb-run ./run.sh     on a machine without a display
set -euo pipefail
cd "$(dirname "$0")"
# Said before anything is installed or built.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run.sh: no display to show the station on (DISPLAY is not set)." >&2
  echo "Start it under a virtual display instead:  xvfb-run ./run.sh  (Debian package xvfb)" >&2
  exit 1
fi
./tools/install-deps.sh run
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
tests=OFF bench=OFF
installed libgtest-dev && installed libgmock-dev && tests=ON
installed libbenchmark-dev && bench=ON
cmake --preset release -DCORV_BUILD_TESTS=$tests -DCORV_BUILD_BENCH=$bench >/dev/null
cmake --build --preset release
exec ./build/release/bin/Corvantis
