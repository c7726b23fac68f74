#!/usr/bin/env bash
# Installs what is missing, builds a release and launches the station on the
# simulated programmer (realistic link timing, so the bar moves as it would).
#   ./run.sh              on the desktop
#   xvfb-run ./run.sh     on a machine without a display
set -euo pipefail
cd "$(dirname "$0")"
./tools/install-deps.sh
# Say so before the build (xvfb-run is installed by now).
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run.sh: no display to show the station on (DISPLAY is not set)." >&2
  echo "Start it under a virtual display instead:  xvfb-run ./run.sh" >&2
  exit 1
fi
cmake --preset release >/dev/null
cmake --build --preset release
exec ./build/release/bin/Corvantis
