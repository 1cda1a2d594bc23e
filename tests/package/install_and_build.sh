#!/usr/bin/env bash
# Installs the build tree BUILD into WORK/prefix and builds the outside project SOURCE
# against it in WORK/build, with the same sanitizer as the build tree.
#   install_and_build.sh BUILD SOURCE WORK
set -euo pipefail
build=$1
source=$2
work=$3
cmake --install "$build" --prefix "$work/prefix" >/dev/null
sanitize=$(sed -n 's/^AURALINK_SANITIZE:STRING=//p' "$build/CMakeCache.txt")
flags=""
case "$sanitize" in
  address) flags="-fsanitize=address,undefined" ;;
  thread) flags="-fsanitize=thread" ;;
esac
cmake -S "$source" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$work/build" -j 2 >/dev/null
