#!/usr/bin/env bash
# One Run All of corvantis-run --ports on 1, 2, 4 and 8 sockets: the
# simulated programmers COM1..COM8 in realistic timing, then as many
# mspdebug:sim sockets (one mspdebug process each). The realistic F149
# batch: erase info, 60 KB, WORD serial at 1080, the fuse (the fuse is left
# out on mspdebug, which cannot blow one), 115200 baud, record on.
# Wall time of the whole command (start-up included), units per hour, and
# the time against one socket's.
#   bench/gang_throughput.sh BIN_DIR [ROUNDS]   (ROUNDS Run Alls each, default 1)
set -euo pipefail
bin=$(readlink -f "$1") rounds=${2:-1}
src=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d /tmp/corv-gang-bench.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
unset VELK430_SIM_TIMING

run() {  # kind sockets -> seconds for one Run All
  local kind=$1 n=$2 dir="$scratch/$1-$2" ports="" fuse=1
  export VELK430_SIM_DIR=$dir/sim XDG_CONFIG_HOME=$dir/config XDG_DATA_HOME=$dir/data
  mkdir -p "$XDG_CONFIG_HOME/Quillfern"
  "$bin/velk430-sim" timing realistic >/dev/null
  for i in $(seq 1 "$n"); do
    if [ "$kind" = sim ]; then
      "$bin/velk430-sim" --port "COM$i" swap --device MSP430F149 >/dev/null
      "$bin/velk430-sim" --port "COM$i" feed auto >/dev/null
      ports+="${ports:+,}COM$i"
    else
      ports+="${ports:+,}mspdebug:sim" fuse=0
    fi
  done
  printf '[Options]\nBaud=115200\nDeviceName=MSP430F149\nFileName=%s\nBlowFuse=%s\nEraseFlash=1\nSerialType=2\nSerialAddress=1080\n' \
    "$src/examples/fill-f149.txt" "$fuse" >"$XDG_CONFIG_HOME/Quillfern/Corvantis.conf"
  local start end
  start=$(date +%s.%N)
  "$bin/corvantis-run" --ports "$ports" --units "$rounds" >"$dir/run.txt"
  end=$(date +%s.%N)
  [ "$(grep -c passed "$dir/run.txt")" -eq $((n * rounds)) ] || { cat "$dir/run.txt" >&2; exit 1; }
  echo "($end - $start) / $rounds" | bc -l
}

for kind in sim mspdebug; do
  echo "| sockets ($kind) | one Run All (s) | units per hour | against one socket |"
  echo "|---|---|---|---|"
  one=
  for n in 1 2 4 8; do
    t=$(run "$kind" "$n")
    one=${one:-$t}
    printf '| %d | %.2f | %.0f | %.3f |\n' "$n" "$t" "$(echo "$n * 3600 / $t" | bc -l)" "$(echo "$t / $one" | bc -l)"
  done
  echo
done
