#!/usr/bin/env bash
# A real programme for the demo: a test pattern with a 1 kHz tone (MPEG-2
# video, MP2 audio) as a transport stream of constant rate, service
# "TAVIREL DEMO" from provider TAVIREL, made with Debian's ffmpeg.
#   scripts/make_demo_ts.sh OUT.ts BIT-RATE [SECONDS]
# BIT-RATE is the rate the channel carries (the test transmitter takes the
# stream at exactly its useful rate), so that the programme plays in real
# time. Exits 3 when ffmpeg is not installed.
set -euo pipefail

out=$1
rate=$2
seconds=${3:-20}
command -v ffmpeg >/dev/null || { echo "ffmpeg is not installed" >&2; exit 3; }
# Video and audio take about two thirds of the rate; the multiplexer fills
# the rest with null packets.
video=$((rate * 55 / 100))
ffmpeg -hide_banner -loglevel error -y \
  -f lavfi -i "testsrc2=size=352x288:rate=25" \
  -f lavfi -i "sine=frequency=1000:sample_rate=48000" \
  -t "$seconds" -map 0:v -map 1:a \
  -c:v mpeg2video -b:v "$video" -maxrate "$video" -bufsize "$((video / 2))" -g 25 \
  -c:a mp2 -b:a 96k \
  -f mpegts -muxrate "$rate" -mpegts_service_id 1 \
  -metadata service_provider=TAVIREL -metadata service_name="TAVIREL DEMO" \
  "$out"
