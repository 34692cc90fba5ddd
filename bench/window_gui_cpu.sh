#!/usr/bin/env bash
# The GUI thread's load while the window receives the 1 Msym/s demo signal in
# real time (offscreen, window shown): CPU time of the main thread (status
# refresh, TCP reading and sample hand-over all run there) and of the whole
# process, per second of signal, and the transport-stream packets that came
# out against those the headless receiver gets from the same live stream.
# Needs a release build (scripts/build.sh).
#   bench/window_gui_cpu.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-10}
warmup=3
port=${TAVIREL_BENCH_PORT:-7797}
root=$PWD
dir=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null || true; rm -rf "$dir"' EXIT

source scripts/serve_demo.sh
serve() {
  serve_demo "$port" --duration $((warmup + seconds + 3))
  pids+=("$demo_tx")
}

ticks() {   # utime + stime of a thread or process, in clock ticks
  awk '{ print $14 + $15 }' "$1"
}

serve
(cd "$dir" && QT_QPA_PLATFORM=offscreen exec "$root/build/tavirel" --tcp "127.0.0.1:$port" --carrier-loop on --no-release-notes \
    --record "ts:$dir/window.ts" --quit-after $((warmup + seconds + 1)) >"$dir/window.log") &
app=$!
pids+=($app)
sleep "$warmup"
gui0=$(ticks "/proc/$app/task/$app/stat"); all0=$(ticks "/proc/$app/stat")
sleep "$seconds"
gui1=$(ticks "/proc/$app/task/$app/stat"); all1=$(ticks "/proc/$app/stat")
wait "$app"
kill "$demo_tx" 2>/dev/null || true
wait "$demo_tx" 2>/dev/null || true

serve
build/tools/cli/tavirel-cli --input "tcp:127.0.0.1:$port" --duration $((warmup + seconds + 1)) --status-interval 0 \
    --output "file:$dir/cli.ts" >/dev/null 2>&1

hz=$(getconf CLK_TCK)
awk -v g=$((gui1 - gui0)) -v a=$((all1 - all0)) -v hz="$hz" -v s="$seconds" 'BEGIN {
  printf "GUI thread: %.1f %% of one core (%.1f ms of CPU per second)\n", 100 * g / hz / s, 1000 * g / hz / s
  printf "whole process: %.1f %% of one core\n", 100 * a / hz / s
}'
echo "TS packets: window $(( $(stat -c %s "$dir/window.ts") / 188 )), tavirel-cli $(( $(stat -c %s "$dir/cli.ts") / 188 ))" \
     "(each over its own $((warmup + seconds + 1)) s of the live signal)"
grep -c "There were still" "$dir/window.log" >/dev/null && grep "There were still" "$dir/window.log" || true
