#!/usr/bin/env bash
# Installs the build into a private prefix, builds a program outside the tree against the
# installed package with find_package(Auralink), and runs it with a private registry file.
set -euo pipefail
build=$(cd "$1" && pwd)
consumer=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/auralink-package-XXXXXX")
trap 'rm -rf "$work"' EXIT

"$(dirname "$0")/install_and_build.sh" "$build" "$consumer" "$work"
AURALINK_REGISTRY="$work/registry.reg" AURALINK_PREFIX="$work/prefix" "$work/build/auralink-consumer"
