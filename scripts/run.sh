#!/usr/bin/env bash
# Sets everything up, builds and runs the receiver's demo: a DVB-S2 test
# signal served on 127.0.0.1:7777 and received headless (scripts/demo.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
if ! log=$(scripts/build.sh release 2>&1); then
  echo "$log" >&2
  exit 1
fi
exec scripts/demo.sh
