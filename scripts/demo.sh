#!/usr/bin/env bash
# The main job on the embedded default: one discovery run of the instance agent from a
# generated stand-in repository to the stand-in Orvex adapter. Everything the demo writes
# lives in one folder of the build tree, named on the first line it prints.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
demo="$build/demo"
rm -rf "$demo" && mkdir -p "$demo"
echo "== Demo folder: $demo"

# A private configuration: registry file, ODBC data sources, and the adapter's archives.
export AURALINK_REGISTRY="$demo/registry.reg"
export ODBCINI="$demo/odbc.ini" ODBCSYSINI="$demo"
export APATH="$build/lib"
agent=QuillonLst
agent_key="HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrova\\Auralink\\$agent"

echo "== Generating a repository of 300 managed objects behind the data source VAZUV"
"$build/bin/auralink-repogen" --objects 300 --seed 1 --output "$demo/repository.db" >/dev/null
"$build/bin/auralink-write-odbc-ini" VAZUV "$demo/repository.db" "$demo/odbc.ini"

echo "== Registering the servers"
modules=()
for name in Touchpoint Quillon Marrowby Dunmere; do
  [ -f "$build/lib/lib$name.so" ] && modules+=("$build/lib/lib$name.so")
done
"$build/bin/auralink-regsvr" "${modules[@]}"
missing=""
for value in ProcessingID DiscoveryID; do
  grep -q "^\"$value\"=" "$AURALINK_REGISTRY" || missing="$missing $value"
done
if [ -n "$missing" ] || [ ! -x "$build/bin/zeltsetup" ]; then
  echo "Not possible yet: the discovery run needs the Quillon server's processing class and"
  echo "registration defaults (missing:${missing:- none}) and zeltsetup ($( [ -x "$build/bin/zeltsetup" ] && echo built || echo not built))."
  echo "Registry file: $AURALINK_REGISTRY"
  if [ -x "$build/bin/auralink-walk-bench" ]; then
    echo "== Instead, a discovery walk of a generated repository through Touchpoint.Hub"
    "$build/bin/auralink-walk-bench" --objects 1000
  fi
  exit 0
fi
# The agent's trace log, and with it the adapter's configuration, trace and record file,
# go to the demo folder (a hand edit of the registry file; a repeated key is merged).
printf '\n[%s]\n"LogFileName"="%s"\n' "$agent_key" "$demo/$agent.log" >>"$AURALINK_REGISTRY"

echo "== Orvex transport settings (zeltsetup)"
"$build/bin/zeltsetup" -i -reqport 4100 -resport 4101 -svrport 4200 -svraddress orvex.demo.example

echo "== zeltdiscovery -ps minimum"
status=0
"$build/bin/zeltdiscovery" -ps minimum || status=$?
echo "(exit status $status)"

record="$demo/orvex-record.txt"
echo "== What Orvex received ($record)"
if [ -f "$record" ]; then
  cut -f1 "$record" | sort | uniq -c
  echo "-- the first records:"
  head -n 4 "$record" | cut -c1-220
else
  echo "(nothing)"
fi
echo "== Registry file: $AURALINK_REGISTRY"
echo "== Trace: $demo/$agent.log; the adapter's own trace: $demo/Adapter_$agent.log"
exit "$status"
