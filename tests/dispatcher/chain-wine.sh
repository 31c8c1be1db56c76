#!/usr/bin/env bash
# The chain a user runs on Windows, under wine: Dispatcher.exe reads GlobalOpt from the registry,
# classifies a db folder and starts CoreSift.exe / CoreSift64.exe there (the real ones next to it,
# or stub analyzers in the registry's install folder).
# Usage: chain-wine.sh BIN_DIR STUB_ANALYZER_EXE WORK_DIR SOURCE_DIR TEST_DATA_DIR
set -euo pipefail
bin="$1" stub="$2" work="$3" SOURCE_DIR="$4" TEST_DATA="$5"
. "$SOURCE_DIR/tests/dispatcher/chain-common.sh"
export WINEDEBUG=-all

rm -rf "$work" && mkdir -p "$work"
bin="$(cd "$bin" && pwd)" work="$(cd "$work" && pwd)" stub="$(cd "$(dirname "$stub")" && pwd)/$(basename "$stub")"
key='HKCU\Software\Ferrovane'
wine reg delete "$key" /f >/dev/null 2>&1 || true
verb='HKCU\Software\Classes\Directory\shell\NE/KE-Analyze'
trap 'wine reg delete "$key" /f >/dev/null 2>&1 || true; wine reg delete "$verb" /f >/dev/null 2>&1 || true' EXIT
# Batch run, no desktop opening, English.
wine reg add "$key" /v GlobalOpt /t REG_DWORD /d 259 /f >/dev/null
dispatch() { (cd "$1" && wine "$bin/Dispatcher.exe" "${@:2}" </dev/null 2>&1 | tr -d '\r'); }

echo "== the real analyzers, found next to Dispatcher.exe, write the report"
for db_name in arm64-static-nullwrite:CoreSift64 arm-static-thumb-inhandler:CoreSift; do
  name="${db_name%%:*}" analyzer="${db_name##*:}"
  db="$work/real db $name"; copy_test_db "$name" "$db"
  out="$(dispatch "$work" -ext 259 "$(winepath -w "$db")")"
  case "$analyzer" in
    CoreSift64) expect_contains "$out" "== CoreSift64 v2.5 ==" "a 64-bit db starts CoreSift64.exe" ;;
    *) expect_contains "$out" "== CoreSift v3.7 ==" "a 32-bit db starts CoreSift.exe" ;;
  esac
  expect_contains "$out" "Analysis is completed" "the analyzer ran to its end"
  expect_golden_report "$db" "$name" 259
done

echo "== stub analyzers in the registry's install folder"
install="$work/install dir"; mkdir -p "$install"
for name in CoreSift CoreSift64 KernSift KernSift64; do cp "$stub" "$install/$name.exe"; done
wine reg add "$key" /v InstallDir /t REG_SZ /d "$(winepath -w "$install")" /f >/dev/null
db="$work/packed & db"; mkdir -p "$db"
write_container "$db/expdb" "..\\escape" "../escape" "C:escape" "PROCESS_MAPS=maps"
write_elf_header "$db/PROCESS_COREDUMP" 2
out="$(dispatch "$db" -s "sym \"q\" dir")"
expect_contains "$out" "stub analyzer CoreSift64.exe ran" "the stub ran"
[ ! -e "$work/escape" ] || fail "a container entry escaped the db folder"
[ "$(cat "$db/PROCESS_MAPS")" = maps ] || fail "the maps entry was not unpacked"
record="$(stub_record "$db" | tr -d '\r')"
# -l carries the install folder's short (8.3) form: it must name the same folder.
short="$(printf '%s\n' "$record" | sed -n '4s/^arg=//p')"
[ "$(cd "$(winepath -u "$short")" && pwd -P)" = "$(cd "$install" && pwd -P)" ] || fail "-l $short is not the install folder"
expected="folder=$(winepath -w "$db")
arg=CoreSift64.exe
arg=-l
arg=$short
arg=-ext
arg=259
arg=-s
arg=sym \"q\" dir"
[ "$record" = "$expected" ] || fail "stub record differs:
$record
--- expected ---
$expected"
echo "== install from a distribution folder into the registry's install folder, then uninstall"
dist="$work/dist"; mkdir -p "$dist"; cp "$bin/Dispatcher.exe" "$dist/zDispatcher.exe"; cp "$stub" "$dist/CoreSift64.exe"
suite="$work/installed suite"
wine reg add "$key" /v InstallDir /t REG_SZ /d "$(winepath -w "$suite")" /f >/dev/null
out="$(dispatch "$work" -ext 1 -setup | grep -v "^wine: ")"  # wine notes volume look-ups
[ "$out" = "Setup ...
Setup done" ] || fail "install output: $out"
[ -f "$suite/Dispatcher.exe" ] && [ -f "$suite/CoreSift64.exe" ] && [ -f "$suite/Uninstall.bat" ] || fail "the suite was not installed"
expect_contains "$(tr -d '\r' < "$suite/Uninstall.bat")" "-uninstall" "Uninstall.bat runs the uninstall"
command="$(wine reg query "$verb\command" /ve 2>/dev/null | tr -d '\r')"
expect_contains "$command" "$(winepath -w "$suite")\Dispatcher.exe\" \"%l\" -ext 4" "the folder verb starts the installed Dispatcher"
menu="$(winepath -u "$(wine cmd /c 'echo %APPDATA%' 2>/dev/null | tr -d '\r')")/Microsoft/Windows/Start Menu/Programs/Ferrovane"
for link in Setting "User Manual" Uninstall; do [ -f "$menu/$link.lnk" ] || fail "no shortcut $link.lnk in $menu"; done
out="$(dispatch "$work" -ext 1 -uninstall | grep -v "^wine: ")"
[ "$out" = "Uninstall ...
Uninstall done" ] || fail "uninstall output: $out"
! wine reg query "$key" >/dev/null 2>&1 || fail "the uninstall left $key"
! wine reg query "$verb" >/dev/null 2>&1 || fail "the uninstall left the folder verb"
[ ! -e "$menu" ] || fail "the uninstall left $menu"
echo "chain-wine: all checks passed"
