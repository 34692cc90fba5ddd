#!/usr/bin/env bash
# Makes docs/screenshot.png: the window receiving the demo signal, drawn by
# the offscreen platform (no display needed). Expects a release build in build/.
set -euo pipefail
cd "$(dirname "$0")/.."

port=${TAVIREL_SCREENSHOT_PORT:-7787}
seconds=${TAVIREL_SCREENSHOT_SECONDS:-6}
source scripts/serve_demo.sh
serve_demo "$port" --duration $((seconds + 4))

root=$PWD
work=$(mktemp -d)
trap 'kill $demo_tx 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p docs
out="$PWD/docs/screenshot.png"
(cd "$work" && QT_QPA_PLATFORM=offscreen "$root/build/tavirel" \
    --tcp "127.0.0.1:$port" --carrier-loop on --no-release-notes --quit-after "$seconds" --screenshot "$out" >/dev/null)
echo "Wrote docs/screenshot.png"
