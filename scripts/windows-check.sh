#!/usr/bin/env bash
# The Windows build's check under Wine, run by `make windows` and CI:
#   1. a fresh Wine prefix under the Windows build folder, its Wine server started detached
#      and stopped at the end;
#   2. regsvr32 of the four modules (each registers its classes and its type library);
#   3. auralink-hub-walk.exe creates "Touchpoint.Hub" from the multithreaded apartment and
#      reads every instance of a generated 300-object stand-in repository through Wine's
#      ODBC (which hands the data source on to the machine's unixODBC); its output must
#      equal the Linux build's auralink-hub-walk over the same file;
#   4. zeltsetup.exe -i with settings, then zeltsetup.exe -i shows them.
#
#   windows-check.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR
set -euo pipefail
win=$(cd "$1" && pwd)
linux=$(cd "$2" && pwd)
work=$win/wine-check
rm -rf "$work"
mkdir -p "$work"

export WINEPREFIX=$work/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
wineserver -k 2>/dev/null || true
wineserver -p 2>/dev/null &   # persistent for this run, detached from the terminal
trap 'WINEPREFIX=$work/prefix wineserver -k 2>/dev/null || true' EXIT
wine wineboot --init >/dev/null 2>&1

fail() {
  echo "windows-check: FAILED: $*" >&2
  exit 1
}
winpath() { winepath -w "$1" 2>/dev/null; }

# One repository for both builds, reached as the data source "VAZUV".
"$linux/bin/auralink-repogen" --objects 300 --seed 11 --output "$work/repository.db" >/dev/null
"$linux/bin/auralink-write-odbc-ini" VAZUV "$work/repository.db" "$work/odbc.ini"
export ODBCINI=$work/odbc.ini ODBCSYSINI=$work

# The Linux build's answer.
AURALINK_REGISTRY=$work/linux.reg "$linux/bin/auralink-regsvr" "$linux/lib/libTouchpoint.so" "$linux/lib/libQuillon.so" \
  >/dev/null || fail "Linux registration"
AURALINK_REGISTRY=$work/linux.reg "$linux/bin/auralink-hub-walk" "$work/linux.txt" || fail "Linux walk"

# The Windows build under Wine.
for module in Touchpoint Quillon Marrowby Dunmere; do
  wine regsvr32 /s "$(winpath "$win/bin/$module.dll")" || fail "regsvr32 $module.dll"
done
echo "windows-check: the four modules registered"
wine "$win/bin/auralink-hub-walk.exe" "$(winpath "$work/windows.txt")" | tr -d '\r' || fail "walk under Wine"
objects=$(wc -l < "$work/windows.txt")
cmp -s "$work/linux.txt" "$work/windows.txt" || {
  diff "$work/linux.txt" "$work/windows.txt" | head -n 10
  fail "instance texts differ from the Linux build's"
}
echo "windows-check: the hub from the multithreaded apartment gave $objects instance texts, equal to Linux's"

# zeltsetup writes into the registry of the prefix and reads back.
wine "$win/bin/zeltsetup.exe" -i -reqport 4711 -svraddress wine-check-host >/dev/null 2>&1 || true
shown=$(wine "$win/bin/zeltsetup.exe" -i 2>&1 | tr -d '\r')
{ echo "$shown" | grep -q 4711 && echo "$shown" | grep -q wine-check-host; } ||
  { echo "$shown"; fail "zeltsetup did not show the stored values"; }
echo "windows-check: zeltsetup stored and showed its settings"
echo "windows-check: passed"
