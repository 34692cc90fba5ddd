#!/usr/bin/env bash
# Sets everything up, builds and runs every test.
#   scripts/test.sh [release|asan|tsan]     (default: release)
set -euo pipefail
cd "$(dirname "$0")/.."

flavour=${1:-release}
scripts/setup.sh
scripts/build.sh "$flavour"
case "$flavour" in
  release) dir=build ;;
  *) dir=build-$flavour ;;
esac
ctest --test-dir "$dir" --output-on-failure --timeout 600 -j "$(nproc)" -LE long
