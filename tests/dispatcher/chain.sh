#!/usr/bin/env bash
# The chain a user runs on Linux: the Dispatcher program reads the settings file, unpacks and
# classifies a db folder and starts the analyzer there (stub analyzers in the install folder, or
# the real CoreSift/CoreSift64 next to the Dispatcher).
# Usage: chain.sh BIN_DIR STUB_ANALYZER WORK_DIR SOURCE_DIR TEST_DATA_DIR
set -euo pipefail
bin="$1" stub="$2" work="$3" SOURCE_DIR="$4" TEST_DATA="$5"
. "$SOURCE_DIR/tests/dispatcher/chain-common.sh"

rm -rf "$work" && mkdir -p "$work"
bin="$(cd "$bin" && pwd)" work="$(cd "$work" && pwd)" stub="$(cd "$(dirname "$stub")" && pwd)/$(basename "$stub")"
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data"
mkdir -p "$XDG_CONFIG_HOME/ferrovane" "$XDG_DATA_HOME"
# Batch run, no desktop opening, English.
printf 'GlobalOpt=dword:0x00000103\n' > "$XDG_CONFIG_HOME/ferrovane/settings"

echo "== the real analyzers, found next to the Dispatcher, write the report"
# As a user runs it: Dispatcher -ext 259 DBDIR on a 64-bit and a 32-bit db.
for db_name in arm64-static-nullwrite:CoreSift64 arm-static-thumb-inhandler:CoreSift; do
  name="${db_name%%:*}" analyzer="${db_name##*:}"
  db="$work/real db $name"; copy_test_db "$name" "$db"
  out="$("$bin/Dispatcher" -ext 259 "$db" 2>&1 </dev/null)" || fail "Dispatcher ended with $?: $out"
  case "$analyzer" in
    CoreSift64) expect_contains "$out" "== CoreSift64 v2.5 ==" "a 64-bit db starts CoreSift64" ;;
    *) expect_contains "$out" "== CoreSift v3.7 ==" "a 32-bit db starts CoreSift" ;;
  esac
  expect_contains "$out" "Analysis is completed" "the analyzer ran to its end"
  expect_golden_report "$db" "$name" 259
done

echo "== without a settings file the option word comes from -ext alone"
db="$work/no settings"; copy_test_db arm64-static-nullwrite "$db"
out="$(XDG_CONFIG_HOME="$work/empty-config" LC_ALL=C "$bin/Dispatcher" -ext 259 "$db" 2>&1 </dev/null)" \
  || fail "Dispatcher ended with $?: $out"
expect_golden_report "$db" arm64-static-nullwrite 259

echo "== stub analyzers in the default install folder"
install="$XDG_DATA_HOME/ferrovane"; mkdir -p "$install"
for name in CoreSift CoreSift64 KernSift KernSift64; do cp "$stub" "$install/$name"; done
db="$work/packed db"; mkdir -p "$db"
write_container "$db/expdb" "../escape" "PROCESS_COREDUMP" "/abs-escape" "ZZ_INTERNAL=Kernel (KE)"
out="$(cd "$db" && "$bin/Dispatcher" -s "my symbols" 2>&1 </dev/null)" || fail "Dispatcher ended with $?: $out"
[ ! -e "$work/escape" ] || fail "a container entry escaped the db folder"
[ ! -e "/abs-escape" ] || fail "a container entry was written at an absolute path"
[ "$(cat "$db/PROCESS_COREDUMP")" = PROCESS_COREDUMP ] || fail "the coredump entry was not unpacked"
record="$(stub_record "$db")"
expected="folder=$db
arg=KernSift64
arg=-l
arg=$install
arg=-ext
arg=259
arg=-s
arg=my symbols"
[ "$record" = "$expected" ] || fail "stub record differs:
$record
--- expected ---
$expected"

echo "== a kernel db without its analyzer"
rm "$install/KernSift64"
db="$work/ke db"; mkdir -p "$db"; printf 'Kernel (KE)' > "$db/ZZ_INTERNAL"
if out="$("$bin/Dispatcher" "$db" 2>&1 </dev/null)"; then fail "a missing analyzer ended with status 0"; fi
expect_contains "$out" "Error: Fail to launch $install/KernSift64" "message 17 names the missing analyzer"
echo "== install from a distribution folder, a run through the installed suite, uninstall"
export XDG_DATA_HOME="$work/home data" XDG_CONFIG_HOME="$work/home config"
dist="$work/dist"; mkdir -p "$dist"
cp "$bin/Dispatcher" "$dist/zDispatcher"; cp "$stub" "$dist/CoreSift64"; echo setup > "$dist/setup.bat"
out="$(LC_ALL=C "$dist/zDispatcher" -ext 1 -setup 2>&1 </dev/null)" || fail "the install ended with $?: $out"
[ "$out" = "Setup ...
Setup done" ] || fail "install output: $out"
install="$XDG_DATA_HOME/ferrovane"
[ -x "$install/Dispatcher" ] && [ -x "$install/CoreSift64" ] || fail "the programs were not installed executable"
[ ! -e "$install/setup.bat" ] || fail "setup.bat was installed"
settings="$(cat "$XDG_CONFIG_HOME/ferrovane/settings")"
expect_contains "$settings" "InstallDir=text:$install" "the store names the install folder"
expect_contains "$settings" "GlobalOpt=dword:0x00000131" "the store holds the word with the script bits"
verb="$XDG_DATA_HOME/applications/ferrovane-analyze.desktop"
expect_contains "$(cat "$verb")" "Exec=\"$install/Dispatcher\" %f -ext 4" "the folder verb starts the installed Dispatcher"
for entry in Setting "User Manual" Uninstall; do
  [ -f "$XDG_DATA_HOME/applications/ferrovane/$entry.desktop" ] || fail "no menu entry $entry"
done
db="$work/installed run"; mkdir -p "$db"; write_elf_header "$db/PROCESS_COREDUMP" 2
out="$("$install/Dispatcher" "$db" -ext 4 2>&1 </dev/null)" || fail "the installed Dispatcher ended with $?: $out"
expect_contains "$out" "stub analyzer CoreSift64 ran" "the installed analyzer ran"
expect_contains "$(stub_record "$db")" "arg=$install" "-l names the install folder"
out="$(sh "$install/Uninstall.sh" 2>&1 </dev/null)" || fail "the uninstall script ended with $?: $out"
[ "$out" = "Uninstall ...
Uninstall done" ] || fail "uninstall output: $out"
for gone in "$install" "$verb" "$XDG_DATA_HOME/applications/ferrovane" "$XDG_CONFIG_HOME/ferrovane/settings"; do
  [ ! -e "$gone" ] || fail "the uninstall left $gone"
done
echo "chain: all checks passed"
