#!/usr/bin/env bash
# Whole-chain throughput: how fast the receiver decodes a recording from a
# file on this machine (the file is read as fast as the chain takes it, so
# the input rate achieved is the rate it sustains), and where the CPU time
# goes per stage. Needs a release build (scripts/build.sh).
#   bench/chain_throughput.sh [frames]
set -euo pipefail
cd "$(dirname "$0")/.."

frames=${1:-300}
siggen=build/tools/siggen/tavirel-siggen
cli=build/tools/cli/tavirel-cli
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

run() {
  local name=$1; shift
  local iq=$dir/$name.iq
  "$siggen" "$@" --esn0 10 --sample-rate 2000000 --symbol-rate 1000000 --output "$iq" >/dev/null 2>&1
  local standard=dvbs2 rate=()
  case "$name" in dvbs-*) standard=dvbs; rate=(--code-rate "${name#dvbs-}"); rate[1]=${rate[1]/-//} ;; esac
  echo "== $name"
  "$cli" --input "file:$iq" --standard "$standard" "${rate[@]}" --sample-rate 2000000 --symbol-rate 1000000 \
      --status-interval 0 --stage-times --output file:/dev/null 2>/dev/null | grep -E '^(summary|stages)'
}

run dvbs2-qpsk12 --modcod "QPSK 1/2" --pilots on --frames "$frames"
run dvbs2-8psk23 --modcod "8PSK 2/3" --pilots on --frames "$((frames * 3 / 2))"
run dvbs-1-2 --standard dvbs --code-rate 1/2 --frames "$((frames * 20))"
