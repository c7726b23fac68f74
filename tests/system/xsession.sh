# Shared by the system tests (sourced): a private X server, bounded waits,
# and clean-up of every process the test started, however it ends.

XVFB_PID=""
PROGRAM_PID=""

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

cleanup() {
  # Only the processes this script started, by their id.
  [ -n "$PROGRAM_PID" ] && kill -KILL "$PROGRAM_PID" 2>/dev/null
  [ -n "$XVFB_PID" ] && kill -TERM "$XVFB_PID" 2>/dev/null
  [ -n "$XVFB_PID" ] && wait "$XVFB_PID" 2>/dev/null
  return 0
}
trap cleanup EXIT

# wait_for SECONDS COMMAND...: polls COMMAND every 0.1 s until it succeeds.
wait_for() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -ge "$deadline" ] && return 1
    sleep 0.1
  done
}

# start_x SCRATCH: an Xvfb on a display number the server picks itself, so
# parallel tests (ours or anyone's) never race for the same one.
start_x() {
  local numfile="$1/display"
  : >"$numfile"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$numfile" 2>"$1/xvfb.log" &
  XVFB_PID=$!
  wait_for 20 grep -q '^[0-9]' "$numfile" || fail "Xvfb did not start: $(cat "$1/xvfb.log")"
  export DISPLAY=":$(head -1 "$numfile")"
  unset WAYLAND_DISPLAY QT_QPA_PLATFORM
}

# Alive and not a zombie waiting to be reaped.
program_running() {
  local state
  state=$(ps -o stat= -p "$PROGRAM_PID" 2>/dev/null)
  [ -n "$state" ] && [[ $state != Z* ]]
}
program_stopped() { ! program_running; }

# find_window TITLE: prints the id of the visible window titled exactly TITLE.
find_window() {
  xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1
}

# wait_window TITLE SECONDS: the window's id, once it is mapped.
wait_window() {
  local id="" deadline=$((SECONDS + $2))
  while [ -z "$id" ]; do
    program_running || fail "the program ended before its window \"$1\" appeared"
    [ "$SECONDS" -ge "$deadline" ] && fail "no window \"$1\" within $2 s"
    sleep 0.1
    id=$(find_window "$1")
  done
  echo "$id"
}

# click_dlu WINDOW DLG_CX DLG_CY X Y CX CY: clicks the middle of a control
# given in dialog units, scaled by the window's size in pixels.
click_dlu() {
  local win=$1 dcx=$2 dcy=$3 x=$4 y=$5 cx=$6 cy=$7 WIDTH HEIGHT
  eval "$(xdotool getwindowgeometry --shell "$win" | grep -E '^(WIDTH|HEIGHT)=')"
  local px=$(((2 * x + cx) * WIDTH / (2 * dcx)))
  local py=$(((2 * y + cy) * HEIGHT / (2 * dcy)))
  xdotool mousemove --window "$win" "$px" "$py" click 1
}

# wait_exit SECONDS: waits for the program to end; its exit code in EXIT_CODE.
wait_exit() {
  wait_for "$1" program_stopped || fail "the program did not end within $1 s"
  EXIT_CODE=0
  wait "$PROGRAM_PID" || EXIT_CODE=$?
  PROGRAM_PID=""
}

# ini_value FILE KEY: the value of KEY in FILE (empty when absent).
ini_value() {
  sed -n "s/^$2=//p" "$1" 2>/dev/null | head -1
}
