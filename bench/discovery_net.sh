#!/usr/bin/env bash
# Discovery under load on the private test network: N simulated amplifiers answer every hello.
#
#   bench/discovery_net.sh [BUILD_DIR] [SECONDS] [N...]      (defaults: build, 30, 100 1000 5000)
#
# For each N:
#  1. the worker and the amplifier list, driven like the main window (bench/discovery_net.cpp):
#     rows seen, flicker, replies per round, latency from each reply leaving its amplifier to its
#     row (and from the hello to the row), CPU of that process;
#  2. the real program `tovrin` on a virtual display (Xvfb): its CPU use over the same time, and
#     whether its window changed once full (a change means a row vanished and came back).
# Needs root (network namespaces) and a build with the benchmarks and the program.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/virtual-display.sh"
build=$(cd "${1:-$root/build}" && pwd)
seconds=${2:-30}
shift 2 2>/dev/null || shift $#
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(100 1000 5000)

[ "$(id -u)" -eq 0 ] || { echo "discovery_net: skipped: needs root for the private network" >&2; exit 77; }
for program in bench/discovery_net ampsim tovrin; do
    [ -x "$build/$program" ] || { echo "discovery_net: $build/$program is missing; build it first" >&2; exit 1; }
done

pids=()
network=
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
    pids=()
    [ -n "$network" ] && bash "$root/scripts/testnet.sh" down "$network"
    network=
}
trap cleanup EXIT
trap 'exit 130' INT TERM

cpu_ticks() { # utime + stime of a process, in clock ticks
    awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0
}

measure_program() {
    local count=$1
    network=tvn$$x$count
    bash "$root/scripts/testnet.sh" up "$network" "$count" >/dev/null || return 1
    bash "$root/scripts/testnet.sh" exec "$network" amp "$build/ampsim" --count "$count" --no-command >/dev/null &
    pids+=($!)
    start_virtual_display 1024x768
    pids+=("$virtual_display_pid")
    QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR=/tmp \
        bash "$root/scripts/testnet.sh" exec "$network" app "$build/tovrin" >/dev/null 2>&1 &
    local program=$!
    pids+=("$program")
    # The interface dialog has one entry, the app side's address: confirm it.
    local dialog
    dialog=$(timeout 20 xdotool search --sync --name '^Select Local Interface$' | head -1)
    [ -n "$dialog" ] && sleep 0.5 && xdotool windowfocus --sync "$dialog" key Return
    sleep 5
    # Once full, the window must not change: each new row is selected and scrolled to, so a row
    # removed and added again (flicker) shows as a changed picture.
    local window shots=$build/discovery_net_shots
    window=$(xdotool search --name '^Select Amplifier$' | head -1)
    mkdir -p "$shots"
    import -window "$window" "$shots/reference.png" 2>/dev/null
    local before after hz samples=0 changed=0 elapsed=0
    hz=$(getconf CLK_TCK)
    before=$(cpu_ticks "$program")
    while [ "$elapsed" -lt "$seconds" ]; do
        sleep 5
        elapsed=$((elapsed + 5))
        import -window "$window" "$shots/sample.png" 2>/dev/null
        samples=$((samples + 1))
        if [ "$(compare -metric AE "$shots/reference.png" "$shots/sample.png" null: 2>&1)" != 0 ]; then
            changed=$((changed + 1))
            cp "$shots/sample.png" "$shots/changed_${count}_$elapsed.png"
        fi
    done
    after=$(cpu_ticks "$program")
    if kill -0 "$program" 2>/dev/null; then
        awk -v n="$count" -v d=$((after - before)) -v hz="$hz" -v s="$elapsed" -v c="$changed" -v m="$samples" \
            'BEGIN { printf "N=%-5d tovrin (real program, Xvfb): CPU %.1f%% of one core over %d s | window changed in %d of %d samples\n", n, 100 * d / hz / s, s, c, m }'
    else
        echo "N=$count tovrin ended during the measurement"
    fi
    cp "$shots/sample.png" "$build/discovery_net_$count.png" 2>/dev/null
    cleanup
}

echo "discovery on the private network, $seconds s per run, $(nproc) cores, $(date -u +%F)"
for count in "${counts[@]}"; do
    "$build/bench/discovery_net" "$count" "$seconds"
done
for count in "${counts[@]}"; do
    measure_program "$count"
done
