#!/usr/bin/env bash
# Memcheck on a whole station session, offscreen: start-up, one batch through
# libVELK430.so (erase, WORD serial, fuse), Exit. Fails on any memcheck error,
# a definite leak among them, and when the session itself fails.
#   valgrind-session.sh BIN_DIR SOURCE_DIR SCRATCH_DIR
set -euo pipefail
bin="$1" src="$2" scratch="$3"
rm -rf "$scratch"
mkdir -p "$scratch/config/Quillfern" "$scratch/sim"
export XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data" VELK430_SIM_DIR="$scratch/sim" VELK430_SIM_TIMING=fast
export QT_QPA_PLATFORM=offscreen
# Memcheck cannot follow the code PCRE2 compiles at run time.
export QT_ENABLE_REGEXP_JIT=0
cat > "$scratch/config/Quillfern/Corvantis.conf" <<CONF
[Options]
CommPort=COM1
Baud=115200
DeviceName=MSP430F112
FileName=$src/examples/blink-f112.txt
VCC=3.3
BlowFuse=1
EraseFlash=1
SerialNumber=7
SerialAddress=1000
SerialType=2
Count=0
CountUp=1
CONF
cd "$bin"
valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite \
  --errors-for-leak-kinds=definite --error-exitcode=99 --num-callers=40 \
  --suppressions="$src/tests/drills/valgrind.supp" \
  ./corv_drill_station 1
grep -q '^SerialNumber=8$' "$scratch/config/Quillfern/Corvantis.conf" || {
  echo "the session did not save the advanced serial number" >&2
  exit 1
}
