#!/usr/bin/env bash
# Setting.exe under wine on a private X server: the dialog shows the word stored in the registry,
# a keyboard-driven OK stores the new GlobalOpt (read back with `wine reg query`), and the About box
# opens from the system menu. Screenshots are left in WORK_DIR.
# Usage: setting-win32.sh BIN_DIR WORK_DIR SOURCE_DIR
set -euo pipefail
bin="$(cd "$1" && pwd)" work="$2" source="$3"
. "$source/tests/setting/gui-common.sh"
rm -rf "$work" && mkdir -p "$work" && work="$(cd "$work" && pwd)"
export WINEDEBUG=-all
key='HKCU\Software\Ferrovane'
stored() { wine reg query "$key" /v GlobalOpt 2>/dev/null | tr -d '\r' | awk '/GlobalOpt/ {print $3}'; }

start_xvfb "$work"
desktop="ferrovane-test-$$"
cleanup() {
  [ -n "${SETTING_PID:-}" ] && kill "$SETTING_PID" 2>/dev/null || true
  wine reg delete "$key" /f >/dev/null 2>&1 || true
  kill "$XVFB_PID" 2>/dev/null || true
}
trap cleanup EXIT
wine reg delete "$key" /f >/dev/null 2>&1 || true
wine reg add "$key" /v GlobalOpt /t REG_DWORD /d 4109 /f >/dev/null  # 0x100D: 0x4 and 0x8 are dropped

# Starts the dialog in a wine desktop window (which draws the title bar) and gives it the focus.
open_dialog() {
  wine explorer "/desktop=$desktop,640x480" "$bin/Setting.exe" >/dev/null 2>&1 & SETTING_PID=$!
  wait_for_window "Setting of Ferrovane" 60 >/dev/null || fail "the dialog did not appear"
  sleep 1
  xdotool mousemove 200 10 click 1  # the dialog's title bar, at the desktop's top left
  sleep 0.5
}

echo "== OK stores the selections"
open_dialog
screenshot "$work/setting-win32.png"
# The language list has the focus: choose English; Enter presses the default button, OK.
xdotool key Down
sleep 0.3
xdotool key Return
wait_for_exit "$SETTING_PID" 20 || fail "the dialog did not close on OK"
SETTING_PID=""
[ "$(stored)" = 0x1101 ] || fail "GlobalOpt is $(stored), expected 0x1101"

echo "== the About box from the system menu, then Escape leaves the word alone"
open_dialog
xdotool key alt+space
sleep 0.5
screenshot "$work/setting-win32-menu.png"
xdotool key Up Return  # the last item: wine adds its own "About Wine" above ours
wait_for_window "About Setting" 20 >/dev/null || fail "the About box did not appear"
sleep 0.5
screenshot "$work/setting-win32-about.png"
xdotool key Return
sleep 0.5
xdotool key Escape
wait_for_exit "$SETTING_PID" 20 || fail "the dialog did not close on Escape"
SETTING_PID=""
[ "$(stored)" = 0x1101 ] || fail "Escape changed GlobalOpt to $(stored)"
echo "setting-win32: all checks passed"
