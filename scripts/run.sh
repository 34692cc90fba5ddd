#!/usr/bin/env bash
# Sets everything up, builds and starts Tavirel. Arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
if ! log=$(scripts/build.sh release 2>&1); then
  echo "$log" >&2
  exit 1
fi
exec build/tavirel "$@"
