#!/usr/bin/env bash
# Builds the Debian package, unpacks it into a scratch root (dpkg -x) and
# starts the station from there through its launcher, as a user would.
#   package.sh BUILD_DIR SCRATCH_DIR [CPACK]
set -uo pipefail
build=$1 scratch=$2 cpack=${3:-cpack}
. "$(dirname "$0")/xsession.sh"

rm -rf "$scratch"
mkdir -p "$scratch/config/Quillfern" "$scratch/sim"
"$cpack" --config "$build/CPackConfig.cmake" -B "$scratch/pkg" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log" >&2; fail "cpack"; }
debs=("$scratch"/pkg/*.deb)
[ ${#debs[@]} = 1 ] && [ -f "${debs[0]}" ] || fail "expected one .deb, found: ${debs[*]}"
deb=${debs[0]}
[ "$(dpkg-deb -f "$deb" Package)" = corvantis ] || fail "package name"
depends=$(dpkg-deb -f "$deb" Depends)
[[ $depends == *libqt6widgets6* ]] || fail "no Qt 6 dependency: $depends"
[[ $depends == *libqt6sql6-sqlite* ]] || fail "no dependency on Qt's SQLite driver: $depends"
[[ $depends == *libqt6sql6-psql* ]] || fail "no dependency on Qt's PostgreSQL driver: $depends"
recommends=$(dpkg-deb -f "$deb" Recommends)
[[ $recommends == *mspdebug* ]] || fail "mspdebug is not recommended: $recommends"

root="$scratch/root"
dpkg -x "$deb" "$root" || fail "dpkg -x"
root=$(readlink -f "$root")
app="$root/usr/lib/corvantis"
for f in Corvantis corvantis-run corvantis-gang-worker libVELK430.so device.cfg Corvantis.HLP velk430-sim; do
  [ -f "$app/$f" ] || fail "$f is not in $app"
done
[ -x "$root/usr/bin/corvantis" ] || fail "no launcher on the path"
[ -x "$root/usr/bin/corvantis-log" ] || fail "no corvantis-log on the path"
[ -x "$root/usr/bin/corvantis-run" ] || fail "no corvantis-run on the path"
desktop="$root/usr/share/applications/corvantis.desktop"
grep -qx 'Exec=corvantis' "$desktop" && grep -qx 'Icon=corvantis' "$desktop" || fail "desktop entry"
[ "$(head -c 4 "$root/usr/share/icons/hicolor/32x32/apps/corvantis.png" | tail -c 3)" = PNG ] ||
  fail "no PNG icon"
# The library is the one beside the program, not the build's.
libs=$(ldd "$app/Corvantis")
[[ $libs == *"libVELK430.so => $app/libVELK430.so"* ]] ||
  fail "libVELK430.so not found beside the program: $libs"

# Started through the launcher with seeded settings. The console's window
# appears only once the device list was read from device.cfg, and the
# settings are written back on Exit under the program's own name.
export XDG_CONFIG_HOME="$scratch/config" VELK430_SIM_DIR="$scratch/sim" VELK430_SIM_TIMING=fast
export XDG_DATA_HOME="$scratch/data"
conf="$XDG_CONFIG_HOME/Quillfern/Corvantis.conf"
printf '[Options]\nDeviceName=MSP430F149\nSerialNumber=77\n' >"$conf"
cd "$scratch"
if command -v Xvfb >/dev/null && command -v xdotool >/dev/null; then
  start_x "$scratch"
  "$root/usr/bin/corvantis" >"$scratch/program.log" 2>&1 &
  PROGRAM_PID=$!
  win=$(wait_window "MSP430 VELK Serializing Shell" 30) || exit 1
  click_dlu "$win" 256 202 199 7 50 14  # Exit
  wait_exit 30
  [ "$EXIT_CODE" = 0 ] || { cat "$scratch/program.log" >&2; fail "the program ended with $EXIT_CODE"; }
  [ "$(ini_value "$conf" DeviceName)" = MSP430F149 ] && [ "$(ini_value "$conf" SerialNumber)" = 77 ] &&
    [ "$(ini_value "$conf" CountUp)" = 1 ] || fail "settings not written back: $(cat "$conf")"
else
  # No display to look at: at least it must start and stay up offscreen.
  QT_QPA_PLATFORM=offscreen "$root/usr/bin/corvantis" >"$scratch/program.log" 2>&1 &
  PROGRAM_PID=$!
  ! wait_for 2 program_stopped || { cat "$scratch/program.log" >&2; fail "the program ended at once"; }
fi
# The station made its production record at start; the installed tool reads it.
"$root/usr/bin/corvantis-log" summary >"$scratch/summary.txt" 2>&1 ||
  { cat "$scratch/summary.txt" >&2; fail "corvantis-log cannot read the station's record"; }
"$root/usr/bin/corvantis-log" --database "$scratch/none.db" summary >/dev/null 2>&1
[ $? = 2 ] || fail "corvantis-log: a missing record must exit 2"
echo "PASS: $(basename "$deb") unpacked and started from $root"
