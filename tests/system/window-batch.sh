#!/usr/bin/env bash
# An operator's session on a real (virtual) display: start the station, run
# one batch from the keyboard, screenshot the window, leave through Exit.
# Then the settings hold the advanced serial number and the unit holds it.
#   window-batch.sh BIN_DIR SOURCE_DIR SCREENSHOT_DIR SCRATCH_DIR
set -uo pipefail
bin=$1 src=$2 shots=$3 scratch=$4
. "$(dirname "$0")/xsession.sh"

title="MSP430 VELK Serializing Shell"
rm -rf "$scratch"
mkdir -p "$scratch/config/Quillfern" "$scratch/sim" "$shots"
export XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data" VELK430_SIM_DIR="$scratch/sim" VELK430_SIM_TIMING=fast
conf="$XDG_CONFIG_HOME/Quillfern/Corvantis.conf"
cat >"$conf" <<EOF
[Options]
CommPort=COM1
Baud=57600
DeviceName=MSP430F112
FileName=$src/examples/blink-f112.txt
VCC=3.3
BlowFuse=0
EraseFlash=1
SerialNumber=500
SerialAddress=1080
SerialType=2
Count=0
CountUp=1
EOF
# The programmed unit stays on the socket, to be read back afterwards.
"$bin/velk430-sim" feed manual >/dev/null || fail "velk430-sim feed manual"

start_x "$scratch"
"$bin/Corvantis" >"$scratch/program.log" 2>&1 &
PROGRAM_PID=$!
win=$(wait_window "$title" 30) || exit 1

# The focus starts on Run Batch: Space presses it.
timeout 10 xdotool windowfocus --sync "$win" || fail "could not focus the console"
xdotool key space
# Count is written after a good unit; the unit file when the port is let go.
batch_done() { [ "$(ini_value "$conf" Count)" = 1 ] && [ -f "$VELK430_SIM_DIR/unit" ]; }
wait_for 30 batch_done || fail "no finished batch within 30 s (Count=$(ini_value "$conf" Count))"

# Screenshot once the window has stopped changing.
prev="$scratch/prev.ppm" cur="$scratch/cur.ppm"
import -window "$win" "ppm:$prev"
for _ in $(seq 30); do
  sleep 0.1
  import -window "$win" "ppm:$cur"
  cmp -s "$prev" "$cur" && break
  mv "$cur" "$prev"
done
convert "$cur" "$shots/console-pass.png" || fail "no screenshot"
# The status picture (dialog units 208,52 28x28) shows the green tick.
eval "$(xdotool getwindowgeometry --shell "$win" | grep -E '^(WIDTH|HEIGHT)=')"
crop="$((28 * WIDTH / 256))x$((28 * HEIGHT / 202))+$((208 * WIDTH / 256))+$((52 * HEIGHT / 202))"
green=$(convert "$cur" -crop "$crop" +repage -format '%[fx:mean.g-mean.r > 0.05]' info:)
[ "$green" = 1 ] || fail "the status picture does not show the tick"

# Exit (dialog units 199,7 50x14 of 256x202).
click_dlu "$win" 256 202 199 7 50 14
wait_exit 30
[ "$EXIT_CODE" = 0 ] || { cat "$scratch/program.log" >&2; fail "the program ended with $EXIT_CODE"; }

[ "$(ini_value "$conf" SerialNumber)" = 501 ] || fail "SerialNumber is '$(ini_value "$conf" SerialNumber)', not 501"
[ "$(ini_value "$conf" Count)" = 1 ] || fail "Count is '$(ini_value "$conf" Count)', not 1"
dump=$("$bin/velk430-sim" dump 0x1080 2)
[ "$dump" = "01080: F4 01" ] || fail "serial bytes on the unit: '$dump', not 500 as a WORD"
dump=$("$bin/velk430-sim" dump 0xF000 4)
[ "$dump" = "0F000: 31 40 00 03" ] || fail "firmware on the unit: '$dump'"
echo "PASS: one batch, serial 500 written, next 501; screenshot $shots/console-pass.png"
