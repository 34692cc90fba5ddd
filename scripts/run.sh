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
source scripts/serve_demo.sh
serve_demo "$port"
trap 'kill $demo_tx 2>/dev/null || true; rm -f "${demo_ts:-}"' EXIT

mkdir -p run
cd run
../build/tavirel --tcp "127.0.0.1:$port" --sample-rate 2000000 --symbol-rate 1000000 --carrier-loop on \
    --no-release-notes "$@"
