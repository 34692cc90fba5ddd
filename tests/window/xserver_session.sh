#!/usr/bin/env bash
# One session of xserver_test.sh, inside the virtual X server, the window
# started as scripts/run.sh starts it: WIDTH and HEIGHT (the screen), PORT,
# DIR and APP come from it.
set -uo pipefail
sw=$WIDTH
sh=$HEIGHT
cd "$DIR"
log=$DIR/tavirel.log
pid=
fail() {
  echo "FAIL (${sw}x${sh}): $*"
  tail -n 20 "$log" 2>/dev/null
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  exit 1
}
# Waits up to $2 seconds for the log to hold $3 lines matching $1.
wait_lines() {
  local pattern=$1 seconds=$2 count=$3
  for _ in $(seq $((seconds * 10))); do
    [ "$(grep -c -- "$pattern" "$log")" -ge "$count" ] && return 0
    sleep 0.1
  done
  return 1
}

"$APP" --tcp "127.0.0.1:$PORT" --sample-rate 2000000 --symbol-rate 1000000 --carrier-loop on --no-release-notes --quit-after 25 --screenshot "$DIR/window.png" >"$log" 2>&1 &
pid=$!

window=
for _ in $(seq 150); do
  window=$(xdotool search --onlyvisible --name '^Tavirel' 2>/dev/null | head -1)
  [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || fail "no window"
eval "$(xdotool getwindowgeometry --shell "$window")"
wx=$X wy=$Y ww=$WIDTH wh=$HEIGHT
echo "${sw}x${sh}: the window opens at ${ww}x${wh}+${wx}+${wy}"
# On the screen, whole.
[ "$wx" -ge 0 ] && [ "$wy" -ge 0 ] && [ $((wx + ww)) -le "$sw" ] && [ $((wy + wh)) -le "$sh" ] ||
  fail "the window ${ww}x${wh}+${wx}+${wy} leaves the screen"

wait_lines 'LOCKED :)' 20 1 || fail "no lock on the demo signal"

# The waterfall fills the bottom of the window right of the trace's label
# strip (58 pixels and the dock's margins); a point 40 pixels above the
# bottom edge is in it at any size.
left=$((wx + 9 + 58))
right=$((wx + ww - 9))
y=$((wy + wh - 40))
at() { echo $((left + (right - left) * $1 / 100)); }

# Beside the band (it spans the middle two thirds at 1 Msym/s in 2 Msps):
# the mixer moves off the signal and the lock goes.
xdotool mousemove "$(at 4)" "$y" click 3
wait_lines "LOCK has been lost" 10 1 || fail "the lock stayed with the mixer off the signal"

# The band's centre: locked again within 5 seconds.
xdotool mousemove "$(at 50)" "$y" click 3
wait_lines 'LOCKED :)' 5 2 || fail "no lock within 5 s of a right click on the band's centre"

# Smaller, as on a laptop's desktop: the window takes it and still receives.
xdotool windowsize "$window" 1280 700
sleep 1
eval "$(xdotool getwindowgeometry --shell "$window")"
[ "$WIDTH" -eq 1280 ] && [ "$HEIGHT" -eq 700 ] || fail "resized to 1280x700, the window is ${WIDTH}x${HEIGHT}"

wait "$pid"
code=$?
pid=
[ "$code" -eq 0 ] || fail "tavirel ended with $code"
[ -s "$DIR/window.png" ] || fail "no screenshot"
grep -q '^Bye :)$' "$log" || fail "no orderly shutdown"
echo "${sw}x${sh}: locked, lost, found again, resized; picture in $DIR/window.png"
