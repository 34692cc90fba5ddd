#!/usr/bin/env bash
# Whole-chain throughput: how fast the receiver decodes a recording from a
# file on this machine (the file is read as fast as the chain takes it, so
# the rate achieved is the rate it sustains), the CPU it spends per symbol
# (every thread, user and kernel), and where that time goes per stage.
# Needs a release build (scripts/build.sh) and GNU time (Debian: time).
#   bench/chain_throughput.sh [million-symbols] [tavirel-cli]
# The default, 20 M symbols at 2 samples per symbol, is the reference run;
# give another tavirel-cli (an older build) to compare on the same files.
# RUNS=n runs each case n times and keeps the run with the least CPU per
# symbol (on a shared machine a neighbour's load only ever adds time).
set -euo pipefail
cd "$(dirname "$0")/.."

msym=${1:-20}
cli=${2:-build/tools/cli/tavirel-cli}
siggen=build/tools/siggen/tavirel-siggen
[ -x /usr/bin/time ] || { echo "needs GNU time: apt-get install time" >&2; exit 1; }
[ -x "$cli" ] && [ -x "$siggen" ] || { echo "build first: scripts/build.sh" >&2; exit 1; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

printf '%-22s %8s %8s %7s %6s %12s | %s\n' case "Msym/s" "ns/sym" kernel "RSS" frames \
  "CPU ns/sym per stage: baseband, matched filter, resampler, demodulator, Viterbi, LDPC"

# run NAME ESN0 SYMBOLS-PER-UNIT SIGGEN-OPTIONS... -- CLI-OPTIONS...
run() {
  local name=$1 esn0=$2 perUnit=$3; shift 3
  local gen=() rx=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do gen+=("$1"); shift; done
  if [ $# -gt 0 ]; then shift; fi
  rx=("$@")
  local units=$(( (msym * 1000000 + perUnit - 1) / perUnit ))
  local iq=$dir/signal.iq
  "$siggen" "${gen[@]}" --frames "$units" --esn0 "$esn0" --sample-rate 2000000 --symbol-rate 1000000 \
    --output "$iq" >/dev/null 2>&1
  local best=""
  for ((attempt = 0; attempt < ${RUNS:-1}; ++attempt)); do
    /usr/bin/time -o "$dir/time" -f '%e %U %S %M' \
      "$cli" --input "file:$iq" "${rx[@]}" --sample-rate 2000000 --symbol-rate 1000000 \
      --status-interval 0 --stage-times --output file:/dev/null >"$dir/attempt" 2>/dev/null
    local cpu
    cpu=$(awk '{ print $2 + $3 }' "$dir/time")
    if [ -z "$best" ] || awk -v a="$cpu" -v b="$best" 'BEGIN { exit !(a < b) }'; then
      best=$cpu
      mv "$dir/attempt" "$dir/out"
      cp "$dir/time" "$dir/best"
    fi
  done
  rm -f "$iq"
  read -r wall user sys rss <"$dir/best"
  awk -v name="$name" -v wall="$wall" -v user="$user" -v sys="$sys" -v rss="$rss" '
    /^summary:/ {
      frames = "-"
      if (match($0, /frames [0-9]+ ok, [0-9]+ failed/)) {
        split(substr($0, RSTART, RLENGTH), f, " "); frames = f[2] "/" f[2] + f[4]
      }
    }
    /^stages:/ {
      n = split($0, part, " \\| ")
      split(part[1], head, " "); symbols = head[4]
      ldpc = 0; list = ""
      for (i = 2; i <= n; ++i) {
        split(part[i], w, " "); stage = w[1]; ns = w[4]
        if (stage ~ /LDPCWorker/) ldpc += ns
        else if (stage ~ /Baseband|FIRWorker|Resample|Demod|Viterbi/) list = list sprintf("%6.1f", ns)
      }
      list = list sprintf("%6.1f", ldpc)
    }
    END {
      cpu = user + sys
      printf "%-22s %8.2f %8.1f %6.1f%% %4.0fMB %12s | %s\n", name, symbols / wall / 1e6, cpu / symbols * 1e9,
             100 * sys / cpu, rss / 1024, frames, list
    }' "$dir/out"
}

# Frames of 33282 symbols (QPSK, normal, pilots) and 22194 (8PSK); DVB-S
# units are packets of 204 bytes, 1632 symbols at rate 1/2.
run "DVB-S2 QPSK 1/2 10 dB" 10 33282 --modcod "QPSK 1/2" --pilots on
run "DVB-S2 QPSK 1/2 3 dB" 3 33282 --modcod "QPSK 1/2" --pilots on
run "DVB-S2 8PSK 2/3 10 dB" 10 22194 --modcod "8PSK 2/3" --pilots on
run "DVB-S 1/2 10 dB" 10 1632 --standard dvbs --code-rate 1/2 -- --standard dvbs --code-rate 1/2
