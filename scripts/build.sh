#!/usr/bin/env bash
# Configures and builds one flavour of the project.
#   scripts/build.sh [release|asan|tsan]     (default: release)
# Build folders: build/, build-asan/, build-tsan/.
set -euo pipefail
cd "$(dirname "$0")/.."

flavour=${1:-release}
case "$flavour" in
  release) dir=build;      flags=() ;;
  asan)    dir=build-asan; flags=(-DTAVIREL_ASAN=ON -DTAVIREL_BUILD_BENCH=OFF) ;;
  tsan)    dir=build-tsan; flags=(-DTAVIREL_TSAN=ON -DTAVIREL_BUILD_BENCH=OFF) ;;
  *) echo "unknown build flavour '$flavour' (release, asan or tsan)" >&2; exit 1 ;;
esac
[ "${CI:-}" = "true" ] && flags+=(-DTAVIREL_WERROR=ON)
command -v ccache >/dev/null && flags+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

generator=()
command -v ninja >/dev/null && [ ! -f "$dir/Makefile" ] && generator=(-G Ninja)
cmake -S . -B "$dir" "${generator[@]}" "${flags[@]}" >/dev/null
cmake --build "$dir" --parallel "$(nproc)"
