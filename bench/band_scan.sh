#!/usr/bin/env bash
# Band scan: how much signal and CPU `tavirel-cli --scan` takes to find,
# measure and identify every carrier of a composed wide band (six carriers,
# 33 ksym/s to 2 Msym/s, on 10 Msps), and whether it got each one right.
# The band is written to a file first and the scan reads it as fast as it
# goes; the seconds of signal are what it needed, the CPU is every thread's
# (user and kernel) over those seconds.
# Needs a release build (scripts/build.sh) and GNU time (Debian: time).
#   bench/band_scan.sh [tavirel-cli]
set -euo pipefail
cd "$(dirname "$0")/.."

cli=${1:-build/tools/cli/tavirel-cli}
siggen=build/tools/siggen/tavirel-siggen
[ -x /usr/bin/time ] || { echo "needs GNU time: apt-get install time" >&2; exit 1; }
[ -x "$cli" ] && [ -x "$siggen" ] || { echo "build first: scripts/build.sh" >&2; exit 1; }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

carriers=(
  "symbol-rate=33000;offset=-4.1e6;modcod=QPSK 1/2;esn0=8;service=SMALL"
  "symbol-rate=125000;offset=-3.5e6;modcod=QPSK 3/4;esn0=6;service=BETA"
  "symbol-rate=333000;offset=-2.6e6;modcod=8PSK 2/3;esn0=12;service=GAMMA"
  "symbol-rate=1000000;offset=-1.0e6;modcod=QPSK 2/3;esn0=9;service=DELTA"
  "symbol-rate=2000000;offset=1.6e6;modcod=16APSK 3/4;esn0=15;service=EPSILON"
  "symbol-rate=1500000;offset=3.7e6;standard=dvbs;code-rate=3/4;esn0=7;service=ZETA"
)
args=()
for c in "${carriers[@]}"; do args+=(--carrier "$c"); done
"$siggen" --band --sample-rate 10000000 --duration 14 --output "$dir/band.iq" "${args[@]}" >/dev/null 2>&1

/usr/bin/time -o "$dir/time" -f '%e %U %S %M' \
  "$cli" --input "file:$dir/band.iq" --sample-rate 10000000 --scan >"$dir/out" 2>/dev/null
read -r wall user sys rss <"$dir/time"
cat "$dir/out"
seconds=$(sed -n 's/^scan: .* carriers in \([0-9.]*\) s of signal$/\1/p' "$dir/out")
awk -v s="$seconds" -v wall="$wall" -v user="$user" -v sys="$sys" -v rss="$rss" 'BEGIN {
  cpu = user + sys
  printf "signal %.1f s | wall %.2f s | CPU %.2f s (kernel %.2f s) = %.2f of a core over the signal | RSS %.0f MB\n",
         s, wall, cpu, sys, cpu / s, rss / 1024
}'
# Right when every carrier is identified with its service.
identified=$(grep -c '^carrier .*| DVB-S.* | 0x0001 ' "$dir/out" || true)
echo "identified: $identified of ${#carriers[@]}"
[ "$identified" -eq "${#carriers[@]}" ]
