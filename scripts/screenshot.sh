#!/usr/bin/env bash
# Makes the pictures of the window receiving the demo signal: docs/screenshot.png
# on a 1920×1080 screen and docs/screenshot-1366x768.png on a laptop's, each as
# the window opens there on a first run. Draws on a virtual X server (Debian's
# xvfb) when there is one, else with the offscreen platform (whose screen is
# smaller than either: the window at its minimum). Expects a release build in
# build/.
set -euo pipefail
cd "$(dirname "$0")/.."

port=${TAVIREL_SCREENSHOT_PORT:-7787}
seconds=${TAVIREL_SCREENSHOT_SECONDS:-10}
source scripts/serve_demo.sh
serve_demo "$port" --duration $((2 * seconds + 8))

root=$PWD
work=$(mktemp -d)
trap 'kill $demo_tx 2>/dev/null || true; rm -rf "$work" "${demo_ts:-}"' EXIT
mkdir -p docs

# shot SCREEN OUT: a first run (no window.ini) on a screen of that size.
shot() {
  rm -f "$work/window.ini"
  local run=("$root/build/tavirel" --tcp "127.0.0.1:$port" --carrier-loop on --no-release-notes
             --quit-after "$seconds" --screenshot "$root/$2")
  if command -v xvfb-run >/dev/null; then
    (cd "$work" && xvfb-run -a -s "-screen 0 ${1}x24" "${run[@]}" >/dev/null 2>&1)
  else
    (cd "$work" && QT_QPA_PLATFORM=offscreen "${run[@]}" >/dev/null 2>&1)
  fi
  echo "Wrote $2"
}
shot 1920x1080 docs/screenshot.png
shot 1366x768 docs/screenshot-1366x768.png
