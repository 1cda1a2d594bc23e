#!/usr/bin/env bash
# The main job on the embedded default, in a private folder of the build tree: a fresh
# registry file with every built server module registered (printed afterwards), then a
# discovery walk of a generated stand-in repository through "Touchpoint.Hub".
set -euo pipefail
build=${1:-build}
demo="$build/demo"
rm -rf "$demo" && mkdir -p "$demo"
export AURALINK_REGISTRY="$PWD/$demo/registry.reg"

modules=()
for name in Touchpoint Quillon Marrowby Dunmere; do
  [ -f "$build/lib/lib$name.so" ] && modules+=("$build/lib/lib$name.so")
done
if [ ${#modules[@]} -eq 0 ]; then
  echo "No server module is built yet; nothing to register."
else
  "$build/bin/auralink-regsvr" "${modules[@]}"
fi
echo "== $AURALINK_REGISTRY"
cat "$AURALINK_REGISTRY" 2>/dev/null || echo "(empty registry)"

if [ -x "$build/bin/auralink-walk-bench" ]; then
  echo "== discovery walk of a generated repository through Touchpoint.Hub"
  "$build/bin/auralink-walk-bench" --objects 1000
fi
