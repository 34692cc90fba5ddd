#!/usr/bin/env bash
# Makes docs/screenshot.png: the window receiving the demo signal, drawn by
# the offscreen platform (no display needed). Expects a release build in build/.
set -euo pipefail
cd "$(dirname "$0")/.."

port=${TAVIREL_SCREENSHOT_PORT:-7787}
seconds=${TAVIREL_SCREENSHOT_SECONDS:-6}
build/tools/siggen/tavirel-siggen --modcod "QPSK 1/2" --pilots on --esn0 10 --service "TAVIREL DEMO" \
    --realtime --duration $((seconds + 4)) --serve "127.0.0.1:$port" >/dev/null &
tx=$!
trap 'kill $tx 2>/dev/null || true' EXIT
# Wait until it listens (state 0A in /proc/net/tcp).
hexport=$(printf ':%04X' "$port")
for _ in $(seq 100); do
  awk -v p="$hexport" '$4 == "0A" && substr($2, length($2) - 4) == p { found = 1 } END { exit !found }' \
      /proc/net/tcp && break
  sleep 0.05
done

root=$PWD
work=$(mktemp -d)
trap 'kill $tx 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p docs
out="$PWD/docs/screenshot.png"
(cd "$work" && QT_QPA_PLATFORM=offscreen "$root/build/tavirel" \
    --tcp "127.0.0.1:$port" --no-release-notes --quit-after "$seconds" --screenshot "$out" >/dev/null)
echo "Wrote docs/screenshot.png"
