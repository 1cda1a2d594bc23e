#!/usr/bin/env bash
# The Windows build's check under Wine, run by `make windows` and CI:
#   1. a fresh Wine prefix under the Windows build folder, its Wine server started detached
#      and stopped at the end;
#   2. regsvr32 of the four modules (each registers its classes and its type library);
#   3. auralink-hub-walk.exe creates "Touchpoint.Hub" from the multithreaded apartment (the
#      class is registered "Apartment", so COM puts the hub in a host single-threaded
#      apartment and every call crosses over by the registered type library) and reads
#      every identifier and instance of a generated 300-object stand-in repository through Wine's
#      ODBC (which hands the data source on to the machine's unixODBC); its output must
#      equal the Linux build's auralink-hub-walk over the same file, objects the hub
#      refuses included;
#   4. auralink-hub-walk --listen subscribes a sink of the multithreaded apartment for the
#      instance agent through the hub and changes the repository until the agent's table
#      poller, from a thread of its own, delivers an indication to it (on Linux, then under
#      Wine, where the sink reached from the poller's thread must belong to its apartment);
#   5. zeltsetup.exe -i with settings, then zeltsetup.exe -i shows them.
#
#   windows-check.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR
set -euo pipefail
win=$(cd "$1" && pwd)
linux=$(cd "$2" && pwd)
work=$win/wine-check
rm -rf "$work"
mkdir -p "$work"

. "$(dirname "$0")/wine-prefix.sh"
start_wine_prefix "$work"
run_wine() {  # run_wine LOG PROGRAM ARGS...: the program's status; its output in LOG
  local log=$1
  shift
  wine "$@" </dev/null >"$log" 2>&1
}

fail() {
  echo "windows-check: FAILED: $*" >&2
  exit 1
}
winpath() { winepath -w "$1" 2>/dev/null </dev/null; }

# One repository for both builds, reached as the data source "VAZUV".
"$linux/bin/auralink-repogen" --objects 300 --seed 11 --output "$work/repository.db" >/dev/null
"$linux/bin/auralink-write-odbc-ini" VAZUV "$work/repository.db" "$work/odbc.ini"
export ODBCINI=$work/odbc.ini ODBCSYSINI=$work

# The Linux build's answer.
AURALINK_REGISTRY=$work/linux.reg "$linux/bin/auralink-regsvr" "$linux/lib/libTouchpoint.so" "$linux/lib/libQuillon.so" \
  >/dev/null || fail "Linux registration"
AURALINK_REGISTRY=$work/linux.reg "$linux/bin/auralink-hub-walk" "$work/linux.txt" >"$work/linux-walk.log" ||
  { cat "$work/linux-walk.log"; fail "Linux walk"; }

# The Windows build under Wine.
for module in Touchpoint Quillon Marrowby Dunmere; do
  run_wine "$work/regsvr32-$module.log" regsvr32 /s "$(winpath "$win/bin/$module.dll")" ||
    { cat "$work/regsvr32-$module.log"; fail "regsvr32 $module.dll"; }
done
echo "windows-check: the four modules registered"
run_wine "$work/windows-walk.log" "$win/bin/auralink-hub-walk.exe" "$(winpath "$work/windows.txt")" ||
  { tr -d '\r' <"$work/windows-walk.log"; fail "walk under Wine"; }
objects=$(wc -l <"$work/windows.txt")
refused=$(grep -c "	refused$" "$work/windows.txt" || true)
cmp -s "$work/linux.txt" "$work/windows.txt" || {
  diff "$work/linux.txt" "$work/windows.txt" | head -n 10
  fail "instance texts differ from the Linux build's"
}
echo "windows-check: the hub from the multithreaded apartment gave $objects identifiers" \
  "($((objects - refused)) instance texts, $refused refused as on Linux), equal to Linux's"

# Listening: after the walks, which read the objects this changes.
AURALINK_REGISTRY=$work/linux.reg "$linux/bin/auralink-regsvr" "$linux/lib/libDunmere.so" >/dev/null ||
  fail "Linux registration of Dunmere"
AURALINK_REGISTRY=$work/linux.reg "$linux/bin/auralink-hub-walk" --listen "$work/linux-listen.trace" \
  >"$work/linux-listen.log" || { cat "$work/linux-listen.log"; fail "Linux listening"; }
run_wine "$work/windows-listen.log" "$win/bin/auralink-hub-walk.exe" --listen "$(winpath "$work/windows-listen.trace")" || {
  tr -d '\r' <"$work/windows-listen.log"
  grep -a "refused operation" "$work/windows-listen.trace" | tail -n 3
  fail "listening under Wine"
}
echo "windows-check: a sink subscribed from the multithreaded apartment received" \
  "$(tr -d '\r' <"$work/windows-listen.log")"

# zeltsetup writes into the registry of the prefix and reads back.
run_wine "$work/zeltsetup-set.log" "$win/bin/zeltsetup.exe" -i -reqport 4711 -resport 4712 -svrport 4713 \
  -svraddress wine-check-host || { tr -d '\r' <"$work/zeltsetup-set.log"; fail "zeltsetup -i with settings"; }
# The summary ends with status 1 (no options processed), as on Linux.
run_wine "$work/zeltsetup-show.log" "$win/bin/zeltsetup.exe" -i || true
shown=$(tr -d '\r' <"$work/zeltsetup-show.log")
for expected in "Request Port Number *4711" "Response Port Number *4712" "Server Port Number *4713" \
  "Server Address *wine-check-host"; do
  echo "$shown" | grep -q "^$expected\$" || { echo "$shown"; fail "zeltsetup did not show \"$expected\""; }
done
echo "windows-check: zeltsetup stored and showed its settings"
echo "windows-check: passed"
