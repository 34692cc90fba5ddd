# Sourced by the scripts that run the demo signal (run from the repository's
# root with a release build in build/).
#
# serve_demo PORT [tavirel-siggen options...]: the test transmitter serves the
# demo signal, DVB-S2 QPSK 1/2 with pilots at Es/N0 10 dB, 1 Msym/s at 2 Msps
# s16, paced in real time, on 127.0.0.1:PORT in the background; its process id
# goes to demo_tx. Returns once it listens (state 0A in /proc/net/tcp).
# The stream is a real programme (a test pattern with a tone, looped) when
# ffmpeg is installed, else the transmitter's built-in stream; either way
# the service is "TAVIREL DEMO".
serve_demo() {
  local port=$1
  shift
  local siggen=build/tools/siggen/tavirel-siggen
  local signal=(--modcod "QPSK 1/2" --pilots on --esn0 10)
  local source=(--service "TAVIREL DEMO")
  if command -v ffmpeg >/dev/null; then
    # The stream at the channel's useful rate, so that it plays in real time.
    local rate
    rate=$("$siggen" "${signal[@]}" --frames 1 --output /dev/null | sed -n 's/.* at \([0-9]*\) bit\/s.*/\1/p')
    demo_ts=$(mktemp --suffix=.ts)
    if [ -n "$rate" ] && scripts/make_demo_ts.sh "$demo_ts" "$rate" 30; then
      source=(--ts "$demo_ts" --loop)
    fi
  fi
  "$siggen" "${signal[@]}" "${source[@]}" --realtime --serve "127.0.0.1:$port" "$@" >/dev/null 2>&1 &
  demo_tx=$!
  local hexport
  hexport=$(printf ':%04X' "$port")
  for _ in $(seq 200); do
    awk -v p="$hexport" '$4 == "0A" && substr($2, length($2) - 4) == p { f = 1 } END { exit !f }' /proc/net/tcp &&
      return 0
    sleep 0.05
  done
  echo "the test transmitter does not listen on 127.0.0.1:$port" >&2
  return 1
}
