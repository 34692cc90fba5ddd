#!/usr/bin/env bash
# Builds tavirel-cli with every radio library switched off and checks that it
# still builds and lists the TCP input: a missing vendor library removes its
# devices, never the build.
set -euo pipefail
cd "$(dirname "$0")/.."

dir=build-noradios
flags=(-DTAVIREL_BUILD_TESTS=OFF -DTAVIREL_BUILD_BENCH=OFF)
for name in $(sed -n 's/^tavirel_radio_library(\([A-Z0-9_]*\) .*/\1/p' cmake/RadioLibraries.cmake); do
  flags+=("-DTAVIREL_WITH_${name}=OFF")
done
[ "${CI:-}" = "true" ] && flags+=(-DTAVIREL_WERROR=ON)
command -v ccache >/dev/null && flags+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
generator=()
command -v ninja >/dev/null && [ ! -f "$dir/Makefile" ] && generator=(-G Ninja)
cmake -S . -B "$dir" "${generator[@]}" "${flags[@]}" >/dev/null
cmake --build "$dir" --parallel "$(nproc)" --target tavirel-cli

output=$("$dir/tools/cli/tavirel-cli" --list-devices)
echo "$output"
# The listing's lines ("kind:N  name"), not what the enumeration logs.
listing=$(grep -E '^[a-z]+:[0-9]+  ' <<<"$output" || true)
if [ "$listing" != "tcp:0  TCP Input Device" ]; then
  echo "without radio libraries the device list must hold the TCP input alone" >&2
  exit 1
fi
echo "build without radio libraries: ok"
