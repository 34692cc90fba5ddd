#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each for a
# bounded time on a scratch copy of its corpus.
#   scripts/fuzz.sh [seconds per target]     (default: 20)
# A crash leaves its input in build-fuzz/ (crash-*, leak-*, timeout-*); add it
# to tests/fuzz/corpus/<target>/ once fixed.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
dir=build-fuzz
scripts/setup.sh
flags=(-DTAVIREL_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++)
[ "${CI:-}" = "true" ] && flags+=(-DTAVIREL_WERROR=ON)
generator=()
command -v ninja >/dev/null && [ ! -f "$dir/Makefile" ] && generator=(-G Ninja)
cmake -S . -B "$dir" "${generator[@]}" "${flags[@]}" >/dev/null
cmake --build "$dir" --parallel "$(nproc)" >/dev/null

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
for target in bbframe gse sdt devices_ini iq_stream dvbs_outer bch; do
  mkdir -p "$scratch/$target"
  log="$dir/fuzz_$target.log"
  # New inputs go to the scratch folder; the kept corpus is only read.
  # Standard output (the receiver's status lines) is closed.
  if "$dir/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
       -close_fd_mask=1 -artifact_prefix="$dir/" "$scratch/$target" "tests/fuzz/corpus/$target" >"$log" 2>&1; then
    echo "fuzz_$target: $(grep -E '^#[0-9]+' "$log" | tail -n 1)"
  else
    echo "fuzz_$target FAILED:" >&2
    tail -n 60 "$log" >&2
    status=1
  fi
done
exit $status
