#!/usr/bin/env bash
# The Windows build's tests under Wine, run by `make test-windows` and CI: a fresh Wine
# prefix for the run, its server started detached and stopped at the end, then ctest in
# the Windows build folder (each test program lists its cases under Wine). The programs
# that do not run on Windows, and why, are in cmake/WindowsTests.cmake; the run ends by
# listing them.
#
#   windows-tests.sh WINDOWS_BUILD_DIR [CTEST ARGUMENTS...]
set -euo pipefail
win=$(cd "$1" && pwd)
shift
work=$win/wine-tests
rm -rf "$work"
mkdir -p "$work"

. "$(dirname "$0")/wine-prefix.sh"
start_wine_prefix "$work"
# The data sources of the run: none but those a test writes into its own sandbox.
export ODBCINI=$work/odbc.ini ODBCSYSINI=$work

# A test that fails is run once more (a Wine process now and then ends at its start with
# no output); one that fails twice fails the run. One test at a time: the tests that register COM classes share the prefix's
# HKEY_CLASSES_ROOT (COM reads no other), and two of them registering and unregistering
# the same module at once make each other fail.
status=0
(cd "$win" && ctest --output-on-failure --timeout 300 --repeat until-pass:2 "$@") || status=$?
echo "Left out on Windows (cmake/WindowsTests.cmake):"
sed 's/^/  /' "$win/skipped-on-windows.txt"
exit $status
