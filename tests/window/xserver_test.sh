#!/usr/bin/env bash
# The real tavirel on a real (virtual) X server at the screen sizes people
# have, driven as a person would: it connects to the test transmitter's demo
# signal and locks; a right click into the waterfall beside the band moves
# the receiver off the signal and the lock goes; a right click on the band's
# centre brings it back within 5 seconds; the window is made smaller and its
# picture taken. The window must open within the screen.
#   xserver_test.sh TAVIREL SIGGEN WORKDIR
set -euo pipefail
app=$(realpath "$1")
siggen=$(realpath "$2")
work=$(realpath -m "$3")
for tool in xvfb-run xdotool xauth; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (scripts/setup.sh installs it)"; exit 1; }
done
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work"

# A port of our own for each screen.
base=$((30000 + $$ % 20000))

run_on_screen() {
  local width=$1 height=$2 port=$3 dir="$work/${1}x${2}"
  mkdir -p "$dir"
  "$siggen" --modcod "QPSK 1/2" --pilots on --esn0 10 --service "TAVIREL DEMO" --realtime --duration 60 \
      --serve "127.0.0.1:$port" >"$dir/siggen.log" 2>&1 &
  local tx=$!
  # shellcheck disable=SC2064
  trap "kill $tx 2>/dev/null || true" RETURN
  for _ in $(seq 100); do
    grep -q ":$(printf '%04X' "$port") 00000000:0000 0A" /proc/net/tcp && break
    sleep 0.1
  done
  WIDTH=$width HEIGHT=$height PORT=$port DIR=$dir APP=$app \
    xvfb-run -a -s "-screen 0 ${width}x${height}x24" bash "$here/xserver_session.sh"
}

status=0
run_on_screen 1366 768 "$base" || status=1
run_on_screen 1920 1080 "$((base + 1))" || status=1
exit $status
