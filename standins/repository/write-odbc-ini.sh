#!/bin/sh
# Writes an odbc.ini section that makes a SQLite file an ODBC data source for Auralink:
# SQLite's ODBC driver, referenced by its path so no odbcinst.ini is needed, with the
# Auralink dialect module loaded. Point ODBCINI at the file to use it; the machine's own
# ODBC configuration is never touched.
#
#   write-odbc-ini.sh [--driver PATH] [--extension PATH] [--timeout MS] DSN DBFILE [OUTPUT]
#
# Without OUTPUT the section goes to standard output. An existing OUTPUT keeps its other
# sections; a section of the same name is replaced.
set -eu

me=$(basename "$0")
here=$(cd "$(dirname "$0")" && pwd)
driver=${AURALINK_SQLITE_ODBC_DRIVER:-}
extension=${AURALINK_SQLITE_DIALECT:-}
timeout=5000

usage() {
  echo "usage: $me [--driver PATH] [--extension PATH] [--timeout MS] DSN DBFILE [OUTPUT]" >&2
  exit 2
}
fail() {
  echo "$me: $*" >&2
  exit 1
}

while [ $# -gt 0 ]; do
  case "$1" in
    --driver) [ $# -ge 2 ] || usage; driver=$2; shift 2 ;;
    --extension) [ $# -ge 2 ] || usage; extension=$2; shift 2 ;;
    --timeout) [ $# -ge 2 ] || usage; timeout=$2; shift 2 ;;
    -h|--help) usage ;;
    --) shift; break ;;
    -*) echo "$me: unknown option $1" >&2; usage ;;
    *) break ;;
  esac
done
[ $# -ge 2 ] && [ $# -le 3 ] || usage
dsn=$1
dbfile=$2
output=${3:-}

case "$dsn" in
  ''|*[][=\;]*) fail "the data-source name '$dsn' may not be empty nor hold [ ] = ;" ;;
esac
case "$timeout" in
  ''|*[!0-9]*) fail "--timeout takes milliseconds" ;;
esac

# The first candidate that exists.
first_file() {
  for candidate in "$@"; do
    if [ -f "$candidate" ]; then
      echo "$candidate"
      return 0
    fi
  done
  return 1
}

if [ -z "$driver" ]; then
  driver=$(first_file /usr/lib/*/odbc/libsqlite3odbc.so /usr/lib/odbc/libsqlite3odbc.so \
    /usr/lib64/libsqlite3odbc.so /usr/local/lib/libsqlite3odbc.so) ||
    fail "SQLite's ODBC driver (libsqlite3odbc.so) is not installed; give its path with --driver"
fi
[ -f "$driver" ] || fail "no driver at $driver"

if [ -z "$extension" ]; then
  # Build tree: bin/ and lib/ side by side; installed: lib/auralink/ or lib/<arch>/auralink/.
  extension=$(first_file "$here/../lib/auralink_sqlite_dialect.so" "$here/../lib/auralink/auralink_sqlite_dialect.so" \
    "$here"/../lib/*/auralink/auralink_sqlite_dialect.so) ||
    fail "the dialect module auralink_sqlite_dialect.so was not found near $here; give its path with --extension"
fi
[ -f "$extension" ] || fail "no dialect module at $extension"

# An absolute path, without "." and ".." where its folder exists.
absolute() {
  folder=$(dirname "$1")
  if [ -d "$folder" ]; then
    folder=$(cd "$folder" && pwd -P)
    echo "$folder/$(basename "$1")"
  else
    case "$1" in
      /*) echo "$1" ;;
      *) echo "$(pwd)/$1" ;;
    esac
  fi
}
dbfile=$(absolute "$dbfile")
driver=$(absolute "$driver")
extension=$(absolute "$extension")
[ -f "$dbfile" ] || echo "$me: warning: $dbfile does not exist yet; connections fail until it does" >&2

# NoCreat: a wrong path fails to connect instead of creating an empty repository.
# StepAPI: the driver steps through a result as it is fetched instead of reading it whole
# first, so a million identifiers are not held a second time inside the driver.
section() {
  cat <<INI
[$dsn]
Description = Auralink stand-in repository (SQLite)
Driver      = $driver
Database    = $dbfile
LoadExt     = $extension
NoCreat     = 1
Timeout     = $timeout
StepAPI     = 1
ShortNames  = 0
LongNames   = 0
NoWCHAR     = 0
INI
}

if [ -z "$output" ]; then
  section
  exit 0
fi

# Keep every other section of an existing file, drop an old one of this name.
tmp="$output.tmp.$$"
trap 'rm -f "$tmp"' EXIT
if [ -f "$output" ]; then
  awk -v name="[$dsn]" '
    /^[ \t]*\[/ { line = $0; gsub(/^[ \t]+|[ \t]+$/, "", line); skip = (line == name) }
    !skip { print }
  ' "$output" >"$tmp"
  # A blank line between the kept sections and the new one.
  if [ -s "$tmp" ] && [ -n "$(tail -n 1 "$tmp")" ]; then echo >>"$tmp"; fi
else
  : >"$tmp"
fi
section >>"$tmp"
mv "$tmp" "$output"
trap - EXIT
