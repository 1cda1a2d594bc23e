#!/usr/bin/env bash
# Makes the Debian package from the build tree, extracts it into a scratch root and checks
# what it holds, that the extracted programs run from there against a private registry
# file, and that its maintainer scripts (run with DPKG_ROOT naming the scratch root)
# register the server modules on installation, keep the settings over an upgrade,
# unregister them on removal keeping the file, and remove the file on purge.
# usage: run_deb_package_test.sh <build folder> <cpack>
set -euo pipefail
build=$(cd "$1" && pwd)
cpack=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/auralink-deb-XXXXXX")
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack could not make the package"; }
deb=$(echo "$work"/out/auralink_*.deb)
[ -f "$deb" ] || fail "no auralink_*.deb in $work/out"
root=$work/root
dpkg-deb -x "$deb" "$root"
dpkg-deb -e "$deb" "$work/control"

# --- What the package holds, and what it leaves to the test tools.
depends=$(dpkg-deb -f "$deb" Depends)
for needed in unixodbc "default-jre-headless | java-runtime-headless" libodbc; do
  [[ $depends == *"$needed"* ]] || fail "Depends lacks $needed: $depends"
done
for file in bin/zeltdiscovery bin/zeltsetup bin/zeltlisten bin/auralink-regsvr bin/auralink-reg \
            lib/auralink/libTouchpoint.so lib/auralink/libQuillon.so lib/auralink/libMarrowby.so \
            lib/auralink/libDunmere.so lib/auralink/tng.scl lib/libAuralinkPlatform.so \
            lib/libAuralinkUtils.so lib/libHubComponents.so lib/systemd/system/zeltlisten@.service \
            share/doc/auralink/README.md share/doc/auralink/configuration.md; do
  [ -e "$root/usr/$file" ] || fail "the package lacks /usr/$file"
done
for file in bin/auralink-repogen bin/auralink-write-odbc-ini bin/auralink-walk-bench lib/auralink/adapter.jar \
            include lib/cmake; do
  [ ! -e "$root/usr/$file" ] || fail "the package holds the test tool or development file /usr/$file"
done
unit=$root/usr/lib/systemd/system/zeltlisten@.service
for line in "ExecStart=/usr/bin/zeltlisten -%i" "Environment=APATH=/usr/lib/auralink" \
            "Environment=AURALINK_REGISTRY=/var/lib/auralink/registry.reg" "Environment=JAVA_TOOL_OPTIONS=-Xmx64m"; do
  grep -qxF "$line" "$unit" || fail "the unit lacks \"$line\""
done

# --- The extracted programs find their libraries in the root, not in the build tree.
for program in zeltsetup auralink-reg; do
  libraries=$(env -u LD_LIBRARY_PATH ldd "$root/usr/bin/$program")
  grep -q "libAuralinkPlatform.so => $root/usr/bin/../lib/" <<<"$libraries" ||
    fail "$program does not load the packaged libAuralinkPlatform.so: $libraries"
done
export AURALINK_REGISTRY=$work/private.reg
"$root/usr/bin/auralink-regsvr" "$root"/usr/lib/auralink/lib{Touchpoint,Quillon,Marrowby,Dunmere}.so >/dev/null
"$root/usr/bin/zeltsetup" -i -reqport 5000 -svraddress orvex.example.net >/dev/null
"$root/usr/bin/auralink-reg" query 'HKLM\SOFTWARE\Kestrova\Auralink\QuillonLst\OrvexSettings\Adapter' \
  /v transport.request.port | grep -q "REG_DWORD    0x1388" || fail "zeltsetup's port is not in the registry"
unset AURALINK_REGISTRY

# --- The maintainer scripts against the scratch root.
export DPKG_ROOT=$root
registry=$root/var/lib/auralink/registry.reg
reg() { AURALINK_REGISTRY=$registry "$root/usr/bin/auralink-reg" "$@"; }
product='HKLM\SOFTWARE\Kestrova\Auralink'
eventlog="$product"'\MarrowbyLst\EventListening\EventLogs\TNGlog'

"$work/control/postinst" configure "" >/dev/null
[ -f "$registry" ] || fail "postinst wrote no $registry"
[ -d "$root/var/log/auralink" ] || fail "postinst made no /var/log/auralink"
for agent in QuillonLst MarrowbyLst; do
  reg query "$product\\$agent" /v LogFileName | grep -q "/var/log/auralink/$agent.log" ||
    fail "$agent does not trace into /var/log/auralink"
done
for progid in Touchpoint.Hub Quillon.Discovery Marrowby.Listening Dunmere.Listening; do
  reg query "HKCR\\$progid" >/dev/null || fail "$progid is not registered"
done

# An upgrade registers again and keeps what the administrator and zeltsetup stored.
reg add "$product" /v TraceLevel /t REG_DWORD /d 1 /f >/dev/null
reg add "$eventlog" /v RefreshTime /d 300 /f >/dev/null
"$work/control/prerm" upgrade 1.0.0
"$work/control/postinst" configure 1.0.0 >/dev/null
reg query "$product" /v TraceLevel | grep -q "REG_DWORD    0x1$" || fail "the upgrade lost TraceLevel"
reg query "$eventlog" /v RefreshTime | grep -q "REG_SZ    300$" || fail "the upgrade lost RefreshTime"
reg query 'HKCR\Quillon.Discovery' >/dev/null || fail "the upgrade unregistered Quillon"

"$work/control/prerm" remove >/dev/null
"$work/control/postrm" remove
[ -f "$registry" ] || fail "removal deleted the registry file"
! reg query "$product" >/dev/null 2>&1 || fail "removal left the agents' keys"
! reg query 'HKCR\Touchpoint.Hub' >/dev/null 2>&1 || fail "removal left Touchpoint registered"

"$work/control/postrm" purge
[ ! -e "$registry" ] || fail "purge left the registry file"
[ ! -e "$root/var/lib/auralink" ] && [ ! -e "$root/var/log/auralink" ] || fail "purge left the state or log folder"
echo "package $(basename "$deb"): contents, programs and maintainer scripts as expected"
