#!/usr/bin/env bash
# Installs what is missing, builds the program and the amplifier simulator (build/), and starts
# the demo: tovrin with a dozen simulated amplifiers in a private network (scripts/demo.sh).
# Arguments are passed to scripts/demo.sh (see scripts/demo.sh --help); with --real the program
# starts on this machine's own network instead, to find real amplifiers there. TOVRIN_BUILD_DIR
# picks another build tree than build/. The demo's project finder searches a sample drive unless
# TOVRIN_PROJECT_DRIVE or /mnt/p exists (scripts/demo.sh --sample-drive / --no-sample-drive).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
build=${TOVRIN_BUILD_DIR:-$root/build}
BUILD_TARGETS="tovrin ampsim sampledrive" bash scripts/build.sh "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
if [ "${1:-}" = --real ]; then
    exec "$build/tovrin"
fi
exec bash scripts/demo.sh --build "$build" "$@"
