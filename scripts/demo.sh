#!/usr/bin/env bash
# The receiver's main job on an embedded default: the test transmitter serves
# a DVB-S2 signal (QPSK 1/2, pilots, Es/N0 10 dB, 1 Msym/s at 2 Msps) on
# 127.0.0.1:7777 in real time, and tavirel-cli receives it for a few seconds,
# printing lock, MODCOD and services, and sends the transport stream to UDP
# 127.0.0.1:8888 (TAVIREL_DEMO_UDP), where a player shows the programme
# (scripts/make_demo_ts.sh makes it when ffmpeg is installed). Expects a
# release build in build/.
set -euo pipefail
cd "$(dirname "$0")/.."

port=${TAVIREL_DEMO_PORT:-7777}
seconds=${TAVIREL_DEMO_SECONDS:-5}
source scripts/serve_demo.sh
serve_demo "$port" --duration $((seconds + 2))
trap 'kill $demo_tx 2>/dev/null || true; rm -f "${demo_ts:-}"' EXIT
udp=${TAVIREL_DEMO_UDP:-127.0.0.1:8888}
echo "The transport stream goes to udp:$udp; watch it with: ffplay udp://@$udp (or VLC: udp://@$udp)"
build/tools/cli/tavirel-cli --input "tcp:127.0.0.1:$port" --duration "$seconds" --output "udp:$udp" || true
