#!/usr/bin/env bash
# Memory soak (not part of CI): the test transmitter serves DVB-S2 in real
# time and tavirel-cli receives it for a while; every 30 s the receiver's
# resident memory and the pool's buffers in use are printed. Both must stay
# flat. Then a short run under valgrind's leak checker.
#   scripts/soak.sh [seconds]      (default 600)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-600}
port=${TAVIREL_SOAK_PORT:-7788}
siggen=build/tools/siggen/tavirel-siggen
cli=build/tools/cli/tavirel-cli
log=$(mktemp)
trap 'rm -f "$log"; kill $tx 2>/dev/null || true' EXIT

"$siggen" --modcod "QPSK 1/2" --pilots on --esn0 8 --realtime --duration $((seconds + 5)) \
    --serve "127.0.0.1:$port" >/dev/null 2>&1 &
tx=$!
sleep 0.5
"$cli" --input "tcp:127.0.0.1:$port" --duration "$seconds" --status-interval 30 --output file:/dev/null >"$log" 2>&1 &
rx=$!
echo "seconds  rss_kib  pool_in_use"
start=$(date +%s)
while kill -0 $rx 2>/dev/null; do
  sleep "${TAVIREL_SOAK_STEP:-30}"
  rss=$(ps -o rss= -p $rx 2>/dev/null || true)
  pool=$(grep -o 'pool [0-9]*' "$log" | tail -1 | cut -d' ' -f2 || true)
  [ -n "$rss" ] && echo "$(( $(date +%s) - start ))  $rss  ${pool:-?}"
done
wait $rx || true
grep '^summary' "$log"
kill $tx 2>/dev/null || true
wait $tx 2>/dev/null || true

echo "== valgrind, 20 s"
"$siggen" --modcod "QPSK 1/2" --pilots on --esn0 8 --frames 40 --output /tmp/tavirel-soak.iq >/dev/null 2>&1
valgrind --leak-check=full --errors-for-leak-kinds=definite --error-exitcode=3 \
    "$cli" --input file:/tmp/tavirel-soak.iq --status-interval 0 --output file:/dev/null 2>&1 \
  | grep -E 'definitely lost|indirectly lost|ERROR SUMMARY|^summary'
rm -f /tmp/tavirel-soak.iq
