#!/usr/bin/env bash
# Sets everything up, builds and opens the receiver's window on the demo
# signal: the test transmitter serves DVB-S2 QPSK 1/2 (pilots, Es/N0 10 dB,
# 1 Msym/s at 2 Msps) on 127.0.0.1:7777 in real time, and the window opens
# already connected to it, the transport stream going to UDP 127.0.0.1:8888.
# Without a display it runs the headless demo (scripts/demo.sh) instead.
# The window works in run/ (config.ini, devices.ini and recordings live there).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
if ! log=$(scripts/build.sh release 2>&1); then
  echo "$log" >&2
  exit 1
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display (DISPLAY and WAYLAND_DISPLAY are unset): running the headless demo instead."
  exec scripts/demo.sh
fi

port=${TAVIREL_DEMO_PORT:-7777}
build/tools/siggen/tavirel-siggen --modcod "QPSK 1/2" --pilots on --esn0 10 --service "TAVIREL DEMO" \
    --realtime --serve "127.0.0.1:$port" >/dev/null &
tx=$!
trap 'kill $tx 2>/dev/null || true' EXIT
# Wait until it listens (state 0A in /proc/net/tcp).
hexport=$(printf ':%04X' "$port")
for _ in $(seq 100); do
  awk -v p="$hexport" '$4 == "0A" && substr($2, length($2) - 4) == p { found = 1 } END { exit !found }' \
      /proc/net/tcp && break
  sleep 0.05
done

mkdir -p run
cd run
../build/tavirel --tcp "127.0.0.1:$port" --sample-rate 2000000 --symbol-rate 1000000 --no-release-notes "$@"
