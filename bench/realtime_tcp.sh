#!/usr/bin/env bash
# Real time over TCP: a server paces one second of the test transmitter's
# signal (QPSK 1/2, pilots, Es/N0 10 dB; looped) at the sample rate, as an
# SDR server would, and tavirel-cli receives it. Prints the frames decoded
# against those sent, how far the server ever fell behind its clock (the
# receiver not keeping up: a radio would have dropped samples), and the
# receiver's CPU. Needs a release build (scripts/build.sh), GNU time, python3.
#   bench/realtime_tcp.sh [seconds] [sample-rate]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
rate=${2:-20000000}
symbols=$((rate / 2))
cli=build/tools/cli/tavirel-cli
siggen=build/tools/siggen/tavirel-siggen
[ -x /usr/bin/time ] || { echo "needs GNU time: apt-get install time" >&2; exit 1; }
[ -x "$cli" ] && [ -x "$siggen" ] || { echo "build first: scripts/build.sh" >&2; exit 1; }
dir=$(mktemp -d)
trap 'kill $server 2>/dev/null || true; rm -rf "$dir"' EXIT

# Whole frames (33282 symbols each) filling about one second; the loop's
# seam falls where a header begins.
frames=$(( (symbols + 33281) / 33282 ))
"$siggen" --modcod "QPSK 1/2" --pilots on --frames "$frames" --esn0 10 --sample-rate "$rate" \
  --symbol-rate "$symbols" --output "$dir/signal.iq" >/dev/null 2>&1

port=$((20000 + RANDOM % 20000))
python3 - "$dir/signal.iq" "$port" "$rate" "$seconds" >"$dir/server" 2>"$dir/listening" <<'EOF' &
import socket, sys, time
path, port, rate, seconds = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4])
listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", port))
listener.listen(1)
listener.settimeout(60)
print("listening", file=sys.stderr, flush=True)
data = open(path, "rb").read()
chunk = 65536                      # 16384 samples of 16-bit I and Q
total = int(rate * seconds) * 4
conn, _ = listener.accept()
start = time.monotonic()
sent, at, behind = 0, 0, 0.0
while sent < total:
    due = start + sent / 4 / rate  # when these samples leave a radio
    now = time.monotonic()
    if due > now:
        time.sleep(due - now)
    else:
        behind = max(behind, now - due)
    piece = data[at:at + chunk]
    if len(piece) < chunk:
        piece += data[:chunk - len(piece)]
    conn.sendall(piece)
    sent += chunk
    at = (at + chunk) % len(data)
conn.close()
print(f"{behind * 1000:.1f}")
EOF
server=$!
for _ in $(seq 100); do grep -q listening "$dir/listening" 2>/dev/null && break; sleep 0.1; done

/usr/bin/time -o "$dir/time" -f '%e %U %S' "$cli" --input "tcp:127.0.0.1:$port" --sample-rate "$rate" \
  --symbol-rate "$symbols" --status-interval 0 --output file:/dev/null >"$dir/out" 2>/dev/null || true
wait $server
read -r wall user sys <"$dir/time"
summary=$(grep '^summary:' "$dir/out" || true)
decoded=$(sed -n 's/.*frames \([0-9]*\) ok, \([0-9]*\) failed.*/\1/p' <<<"$summary")
failed=$(sed -n 's/.*frames \([0-9]*\) ok, \([0-9]*\) failed.*/\2/p' <<<"$summary")
expected=$(awk -v s="$seconds" -v r="$symbols" 'BEGIN { printf "%d", s * r / 33282 }')
echo "$seconds s at $rate samples/s (QPSK 1/2, $symbols symbols/s) over TCP"
echo "frames: ${decoded:-0} decoded, ${failed:-0} failed, about $expected sent"
echo "server behind its clock at most: $(cat "$dir/server") ms"
awk -v u="$user" -v s="$sys" -v w="$wall" 'BEGIN { printf "receiver CPU: %.2f cores (%.0f %% kernel)\n", (u + s) / w, 100 * s / (u + s) }'
