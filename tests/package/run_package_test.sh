#!/usr/bin/env bash
# Installs the build into a private prefix, builds a program outside the tree against the
# installed package with find_package(Auralink), and runs it with a private registry file.
set -euo pipefail
build=$(cd "$1" && pwd)
consumer=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/auralink-package-XXXXXX")
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
sanitize=$(sed -n 's/^AURALINK_SANITIZE:STRING=//p' "$build/CMakeCache.txt")
flags=""
case "$sanitize" in
  address) flags="-fsanitize=address,undefined" ;;
  thread) flags="-fsanitize=thread" ;;
esac
cmake -S "$consumer" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$work/build" -j 2 >/dev/null
AURALINK_REGISTRY="$work/registry.reg" AURALINK_PREFIX="$work/prefix" "$work/build/auralink-consumer"
