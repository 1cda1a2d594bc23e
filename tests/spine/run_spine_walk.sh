#!/usr/bin/env bash
# Runs spine-walk against a freshly generated repository, with a private registry file and
# odbc.ini.
#   run_spine_walk.sh tree BUILD_DIR OBJECTS              the program and modules of the build tree
#   run_spine_walk.sh package BUILD_DIR OBJECTS WALK_SRC  installs the build into a private prefix
#                                                         and builds WALK_SRC against it
set -euo pipefail
mode=$1
build=$(cd "$2" && pwd)
objects=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/auralink-spine-XXXXXX")
trap 'rm -rf "$work"' EXIT

case "$mode" in
  tree)
    bin=$build/bin
    modules=$build/lib
    program=$build/bin/spine_walk
    ;;
  package)
    "$(dirname "$0")/../package/install_and_build.sh" "$build" "$4" "$work"
    bin=$work/prefix/bin
    modules=$(dirname "$(find "$work/prefix" -name libTouchpoint.so | head -n 1)")
    program=$work/build/spine-walk
    ;;
  *)
    echo "unknown mode $mode" >&2
    exit 2
    ;;
esac

"$bin/auralink-repogen" --objects "$objects" --seed 11 --output "$work/repository.db" >/dev/null
"$bin/auralink-write-odbc-ini" VAZUV "$work/repository.db" "$work/odbc.ini"
status=0
AURALINK_REGISTRY="$work/registry.reg" ODBCINI="$work/odbc.ini" ODBCSYSINI="$work" \
  "$program" "$bin/auralink-regsvr" "$modules/libTouchpoint.so" "$modules/libQuillon.so" "$work" || status=$?
if [ "$status" -ne 0 ] && [ -f "$work/spine-walk.log" ]; then
  echo "--- trace (errors) ---"
  grep " L0 " "$work/spine-walk.log" | tail -n 20 || true
fi
exit "$status"
