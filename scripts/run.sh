#!/usr/bin/env bash
# Installs what is missing, builds the program and the amplifier simulator (build/), and starts
# the demo: tovrin with a dozen simulated amplifiers in a private network (scripts/demo.sh).
# Arguments are passed to scripts/demo.sh (see scripts/demo.sh --help); with --real the program
# starts on this machine's own network instead, to find real amplifiers there.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
if [ ! -f build/CMakeCache.txt ]; then
    cmake -S . -B build "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build build --target tovrin ampsim -j"$(nproc)"
if [ "${1:-}" = --real ]; then
    exec "$root/build/tovrin"
fi
exec bash scripts/demo.sh --build "$root/build" "$@"
