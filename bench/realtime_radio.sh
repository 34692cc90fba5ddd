#!/usr/bin/env bash
# Real time from a radio: a stand-in HackRF delivers one second of the test
# transmitter's signal (QPSK 1/2, pilots, Es/N0 10 dB; looped) as 8-bit I/Q
# transfers paced at the sample rate, and the headless receiver takes them
# as from the radio. Prints the frames decoded against those sent, the
# blocks dropped (the receiver not keeping up: a radio does not wait), and
# the CPU of the whole process (stand-in included).
# Needs a release build (scripts/build.sh) and GNU time.
#   bench/realtime_radio.sh [seconds] [sample-rate]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
rate=${2:-20000000}
symbols=$((rate / 2))
bench=build/bench/tavirel-realtime-radio
siggen=build/tools/siggen/tavirel-siggen
[ -x /usr/bin/time ] || { echo "needs GNU time: apt-get install time" >&2; exit 1; }
[ -x "$bench" ] && [ -x "$siggen" ] || { echo "build first: scripts/build.sh" >&2; exit 1; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

# Whole frames (33282 symbols each) filling about one second; the loop's
# seam falls where a header begins.
frames=$(( (symbols + 33281) / 33282 ))
"$siggen" --modcod "QPSK 1/2" --pilots on --frames "$frames" --esn0 10 --sample-rate "$rate" \
  --symbol-rate "$symbols" --format s8 --output "$dir/signal.s8" >/dev/null 2>&1

/usr/bin/time -o "$dir/time" -f '%e %U %S' "$bench" "$dir/signal.s8" "$seconds" "$rate" \
  --symbol-rate "$symbols" --status-interval 0 --output file:/dev/null >"$dir/out" 2>/dev/null || true
read -r wall user sys <"$dir/time"
summary=$(grep '^summary:' "$dir/out" || true)
decoded=$(sed -n 's/.*frames \([0-9]*\) ok, \([0-9]*\) failed.*/\1/p' <<<"$summary")
failed=$(sed -n 's/.*frames \([0-9]*\) ok, \([0-9]*\) failed.*/\2/p' <<<"$summary")
dropped=$(sed -n 's/.* \([0-9]*\) blocks dropped.*/\1/p' <<<"$summary")
expected=$(awk -v s="$seconds" -v r="$symbols" 'BEGIN { printf "%d", s * r / 33282 }')
echo "$seconds s at $rate samples/s (QPSK 1/2, $symbols symbols/s) from a stand-in HackRF"
echo "frames: ${decoded:-0} decoded, ${failed:-0} failed, about $expected sent; blocks dropped: ${dropped:-0}"
grep '^radio behind' "$dir/out" || true
awk -v u="$user" -v s="$sys" -v w="$wall" 'BEGIN { printf "CPU: %.2f cores (%.0f %% kernel)\n", (u + s) / w, 100 * s / (u + s) }'
