#!/usr/bin/env bash
# Regenerates docs/gang.png: the gang window after a Run All on four
# simulated sockets whose third unit fails to verify, drawn offscreen by the
# gang window's test (its own scratch folders), in fast timing.
#   tools/screenshot-gang.sh [BIN_DIR]   (default build/dev/bin, built first)
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-}
if [ -z "$bin" ]; then
  (cd "$src" && cmake --preset dev >/dev/null && cmake --build --preset dev --target corv_gang_tests >/dev/null)
  bin=$src/build/dev/bin
fi
scratch=$(mktemp -d /tmp/corv-gang-shot.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
cd "$bin"
QT_QPA_PLATFORM=offscreen VELK430_SIM_TIMING=fast XDG_CONFIG_HOME=$scratch/config XDG_DATA_HOME=$scratch/data \
  CORV_GANG_SCREENSHOT=$src/docs/gang.png \
  ./corv_gang_tests --gtest_filter=GangTest.TheWindowShowsEachSocketsOwnResult >"$scratch/log" ||
  { cat "$scratch/log" >&2; exit 1; }
echo "wrote $src/docs/gang.png"
