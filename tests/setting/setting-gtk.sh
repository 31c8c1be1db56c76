#!/usr/bin/env bash
# Setting's GTK dialog under a private X server: it shows the stored word, a keyboard-driven OK
# stores the new word in the settings file, and the About box opens from the context menu.
# Screenshots are left in WORK_DIR.
# Usage: setting-gtk.sh BIN_DIR WORK_DIR SOURCE_DIR
set -euo pipefail
bin="$(cd "$1" && pwd)" work="$2" source="$3"
. "$source/tests/setting/gui-common.sh"
rm -rf "$work" && mkdir -p "$work" && work="$(cd "$work" && pwd)"
export XDG_CONFIG_HOME="$work/config" NO_AT_BRIDGE=1 GTK_THEME=Adwaita
settings="$XDG_CONFIG_HOME/ferrovane/settings"
mkdir -p "$(dirname "$settings")"
printf 'GlobalOpt=dword:0x0000100D\n' > "$settings"  # batch + 0x1000 kept, 0x4 and 0x8 dropped

start_xvfb "$work"
SETTING_PID=""
cleanup() {
  [ -n "$SETTING_PID" ] && kill "$SETTING_PID" 2>/dev/null || true
  kill "$XVFB_PID" 2>/dev/null || true
}
trap cleanup EXIT

echo "== OK stores the selections"
"$bin/Setting" & SETTING_PID=$!
window="$(wait_for_window "Setting of Ferrovane" 20)" || fail "the dialog did not appear"
sleep 0.5
screenshot "$work/setting-gtk.png"
# The language list has the focus: choose English, then go to OK (five lists down) and press it.
xdotool windowfocus --sync "$window"
xdotool key Down
xdotool key Tab Tab Tab Tab Tab
xdotool key Return
wait_for_exit "$SETTING_PID" 10 || fail "the dialog did not close on OK"
SETTING_PID=""
grep -qx 'GlobalOpt=dword:0x00001101' "$settings" || fail "unexpected settings file: $(cat "$settings")"

echo "== the About box, then Escape leaves the word alone"
"$bin/Setting" & SETTING_PID=$!
window="$(wait_for_window "Setting of Ferrovane" 20)" || fail "the dialog did not appear"
sleep 0.5
xdotool windowfocus --sync "$window"
xdotool key Menu
sleep 0.5
screenshot "$work/setting-gtk-menu.png"
xdotool key Down Return
about="$(wait_for_window "About Setting" 10)" || fail "the About box did not appear"
sleep 0.5
screenshot "$work/setting-gtk-about.png"
xdotool windowfocus --sync "$about"
xdotool key Return
sleep 0.5
xdotool windowfocus --sync "$window"
xdotool key Escape
wait_for_exit "$SETTING_PID" 10 || fail "the dialog did not close on Escape"
SETTING_PID=""
grep -qx 'GlobalOpt=dword:0x00001101' "$settings" || fail "Escape changed the settings: $(cat "$settings")"
echo "setting-gtk: all checks passed"
