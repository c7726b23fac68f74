#!/usr/bin/env bash
# Makes the manual's pictures again from the real program on the simulated
# programmer, under a private Xvfb, with fixed settings, units and clock
# (faketime), so that one tree always gives the same pictures:
#   docs/console.png         the main window after a good unit
#   docs/port.png            the Port dialog
#   docs/production-log.png  the Production Log over a morning's units
# then runs tools/screenshot-gang.sh BIN_DIR DOCS_DIR where that file exists.
#   tools/screenshots.sh [BIN_DIR]      default: build/release/bin (./run.sh builds it)
# Needs Xvfb, xdotool, imagemagick and faketime (tools/install-deps.sh).
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$root/build/release/bin}" && pwd) || exit 1
docs=$root/docs
for tool in Xvfb xdotool import convert; do
  command -v "$tool" >/dev/null || { echo "screenshots.sh: $tool is missing (tools/install-deps.sh)" >&2; exit 1; }
done
faketime=$(ls /usr/lib/*/faketime/libfaketimeMT.so.1 2>/dev/null | head -1)
[ -n "$faketime" ] || { echo "screenshots.sh: libfaketime is missing (tools/install-deps.sh)" >&2; exit 1; }
. "$root/tests/system/xsession.sh"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/corv-screenshots.XXXXXX")
trap 'cleanup; [ -n "${KEEP:-}" ] || rm -rf "$scratch"' EXIT

# Everything the station keeps lives in the scratch folder; the firmware is
# named relative to it, so the window shows the same path on every machine.
mkdir -p "$scratch/config/Quillfern" "$scratch/data" "$scratch/sim" "$scratch/firmware"
export XDG_CONFIG_HOME="$scratch/config" XDG_DATA_HOME="$scratch/data" VELK430_SIM_DIR="$scratch/sim"
export VELK430_SIM_TIMING=fast TZ=UTC LC_ALL=C.UTF-8 FAKETIME_DONT_FAKE_MONOTONIC=1
unset FAKETIME
cp "$root/examples/fill-f149.txt" "$scratch/firmware/sensor-f149.txt"
cd "$scratch" || exit 1
cat >"$XDG_CONFIG_HOME/Quillfern/Corvantis.conf" <<EOF
[Options]
CommPort=COM1
Baud=115200
DeviceName=MSP430F149
FileName=firmware/sensor-f149.txt
VCC=3.3
BlowFuse=0
EraseFlash=1
SerialNumber=1000
SerialAddress=1080
SerialType=2
Count=0
CountUp=1
EOF

sim() { "$bin/velk430-sim" "$@" >/dev/null || fail "velk430-sim $*"; }
# at TIME COMMAND...: runs COMMAND with the clock standing at that morning's TIME.
at() { LD_PRELOAD=$faketime FAKETIME="2026-12-07 $1" "${@:2}"; }
run() { at "$1" "$bin/corvantis-run" "${@:2}" >"$scratch/run.log" 2>&1; }
ran() { run "$@" || fail "corvantis-run at $1: $(cat "$scratch/run.log")"; }
not_passed() { run "$@" && fail "corvantis-run at $1 should not pass: $(cat "$scratch/run.log")"; }

# A morning's units: passes, a unit that fails verification, a fuse check,
# a batch the setup check refuses.
sim swap --device MSP430F149
sim feed auto
ran 08:02:11 --units 1
ran 08:03:40 --units 1
sim fail VerifyFile -22 1
not_passed 08:05:02 --units 1
ran 08:06:27 --units 1
ran 08:07:15 --check-fuse
not_passed 08:09:30 --units 1 --serial-address F000
ran 08:10:52 --units 1

# shot WINDOW FILE: the window once it has stopped changing.
shot() {
  local prev="$scratch/prev.ppm" cur="$scratch/cur.ppm"
  import -window "$1" "ppm:$prev" || fail "no picture of window $1"
  for _ in $(seq 30); do
    sleep 0.2
    import -window "$1" "ppm:$cur"
    cmp -s "$prev" "$cur" && break
    mv "$cur" "$prev"
  done
  # No time stamps in the file: the same picture makes the same bytes.
  convert "$cur" -strip -define png:exclude-chunks=date,time "$2" || fail "cannot write $2"
  echo "wrote $2"
}

closed() { [ -z "$(find_window "$1")" ]; }

start_x "$scratch"
LD_PRELOAD=$faketime FAKETIME="2026-12-07 08:31:05" "$bin/Corvantis" >"$scratch/program.log" 2>&1 &
PROGRAM_PID=$!
win=$(wait_window "MSP430 VELK Serializing Shell" 30) || exit 1
timeout 10 xdotool windowfocus --sync "$win" || fail "could not focus the station"
conf="$XDG_CONFIG_HOME/Quillfern/Corvantis.conf"
count=$(($(ini_value "$conf" Count) + 1))
xdotool key space   # the focus starts on Run Batch
count_is() { [ "$(ini_value "$conf" Count)" = "$1" ]; }
wait_for 30 count_is "$count" || fail "no good unit from the window"
shot "$win" "$docs/console.png"

# Port ... (dialog units 199,29 50x14 of 256x202), then Cancel by Esc.
click_dlu "$win" 256 202 199 29 50 14
port=$(wait_window "Port Selection" 10) || exit 1
shot "$port" "$docs/port.png"
xdotool key Escape
wait_for 10 closed "Port Selection" || fail "the Port dialog stays open"

# The system menu on the window's background, then its Production Log
# entry (P); once more if the menu was not up yet when P came.
eval "$(xdotool getwindowgeometry --shell "$win" | grep -E '^(WIDTH|HEIGHT)=')"
log_open() { [ -n "$(find_window "Production Log")" ]; }
for _ in 1 2 3; do
  xdotool mousemove --window "$win" $((222 * WIDTH / 256)) $((150 * HEIGHT / 202)) click 3
  sleep 0.5
  xdotool key p
  wait_for 5 log_open && break
  xdotool key Escape
done
log=$(wait_window "Production Log" 5) || exit 1
shot "$log" "$docs/production-log.png"
xdotool key Escape
wait_for 10 closed "Production Log" || fail "the Production Log stays open"

click_dlu "$win" 256 202 199 7 50 14   # Exit
wait_exit 30
[ "$EXIT_CODE" = 0 ] || { cat "$scratch/program.log" >&2; fail "the station ended with $EXIT_CODE"; }

# The gang window comes from the gang programming tools, where they are.
if [ -f "$root/tools/screenshot-gang.sh" ]; then
  bash "$root/tools/screenshot-gang.sh" "$bin" "$docs" || fail "tools/screenshot-gang.sh failed"
fi
