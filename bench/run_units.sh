#!/usr/bin/env bash
# corvantis-run --units N (default 100) on the simulated library in fast
# timing, production record on, against N presses of the console's Run
# Batch (console_runbatch's press time), in one run and one scratch folder.
#   bench/run_units.sh BIN_DIR [N]
set -euo pipefail
bin=$(readlink -f "$1") n=${2:-100}
scratch=$(mktemp -d "${TMPDIR:-/tmp}/corv-run-units.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
export VELK430_SIM_DIR=$scratch/sim VELK430_SIM_TIMING=fast XDG_CONFIG_HOME=$scratch/config XDG_DATA_HOME=$scratch/data
mkdir -p "$XDG_CONFIG_HOME/Quillfern"
"$bin/velk430-sim" swap --device MSP430F149 >/dev/null
"$bin/velk430-sim" feed auto >/dev/null
src=$(cd "$(dirname "$0")/.." && pwd)
# The console benchmark's procedure: erase info, 60 KB, WORD serial, fuse.
printf '[Options]\nBaud=115200\nDeviceName=MSP430F149\nFileName=%s\nBlowFuse=1\nEraseFlash=1\nSerialType=2\nSerialAddress=1080\n' \
  "$src/examples/fill-f149.txt" >"$XDG_CONFIG_HOME/Quillfern/Corvantis.conf"
start=$(date +%s.%N)
"$bin/corvantis-run" --units "$n" >"$scratch/run.txt"
end=$(date +%s.%N)
grep -c passed "$scratch/run.txt" | sed 's/^/units passed: /'
echo "corvantis-run --units $n: $(echo "($end - $start) * 1000" | bc) ms"
"$bin/console_runbatch" --benchmark_format=console 2>/dev/null | grep BM_RunBatchPress
