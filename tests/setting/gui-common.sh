# Helpers of the dialog tests: a private X server, waiting for windows, screenshots.

fail() { echo "FAIL: $*" >&2; exit 1; }

for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

# Starts Xvfb on a free display and exports DISPLAY; XVFB_PID is its process id.
start_xvfb() {  # WORK_DIR
  local displayFile="$1/display"
  rm -f "$displayFile"
  Xvfb -displayfd 4 -screen 0 1024x768x24 -nolisten tcp -noreset 4>"$displayFile" >/dev/null 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 100); do
    [ -s "$displayFile" ] && break
    sleep 0.1
  done
  [ -s "$displayFile" ] || fail "Xvfb did not start"
  export DISPLAY=":$(head -n1 "$displayFile")"
}

# Prints the id of the first window named NAME, waiting up to SECONDS.
wait_for_window() {  # NAME SECONDS
  local id=""
  for _ in $(seq $(($2 * 5))); do
    id="$(xdotool search --name "^$1\$" 2>/dev/null | head -n1 || true)"
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.2
  done
  return 1
}

# Waits up to SECONDS for process PID to end.
wait_for_exit() {  # PID SECONDS
  for _ in $(seq $(($2 * 10))); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.1
  done
  return 1
}

screenshot() {  # FILE
  import -window root "$1" || fail "no screenshot"
  echo "screenshot: $1"
}
