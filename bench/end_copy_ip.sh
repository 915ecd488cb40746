#!/usr/bin/env bash
# A person at the main window while discovery runs at scale: N simulated amplifiers answer every
# hello of the real program `tovrin` (on Xvfb, in the app side of a private test network); once the
# list is full, each round presses Home, then End and Ctrl+I through the X server as a keyboard
# does (xdotool), and takes the time until the clipboard holds an IP address (xclip asks the
# program for it, so the program's own answer is part of the time).
#
#   bench/end_copy_ip.sh [BUILD_DIR] [N] [ROUNDS]     (defaults: build, 64516, 30)
#
# Environment: WARMUP=25 (seconds for the list to fill before the first round), RUNS=2 (program
# runs on the same network, each with its own rounds).
# Prints per round the time from sending the keys to the IP on the clipboard, then per run p50 /
# p95 / max, the time xdotool itself took to send the keys, the program's CPU (share of one core
# over the rounds) and resident memory, its tally (rows listed, rows come back) and the load
# average before and after. Needs root (network namespaces); broadcasts stay inside
# the private namespaces.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/virtual-display.sh"
build=$(cd "${1:-$root/build}" && pwd)
count=${2:-64516}
rounds=${3:-30}
warmup=${WARMUP:-25}
runs=${RUNS:-2}

[ "$(id -u)" -eq 0 ] || { echo "end_copy_ip: skipped: needs root for the private network" >&2; exit 77; }
for program in ampsim tovrin; do
    [ -x "$build/$program" ] || { echo "end_copy_ip: $build/$program is missing; build it first" >&2; exit 1; }
done

pids=()
network=tvn$$x1
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
    pids=()
    bash "$root/scripts/testnet.sh" down "$network" >/dev/null
}
trap cleanup EXIT
trap 'exit 130' INT TERM

load_average() { cut -d' ' -f1-3 /proc/loadavg; }
now_ns() { date +%s%N; }
clipboard() { timeout 2 xclip -selection clipboard -o 2>/dev/null; }

bash "$root/scripts/testnet.sh" up "$network" "$count" >/dev/null || { echo "network did not come up"; exit 1; }
bash "$root/scripts/testnet.sh" exec "$network" amp "$build/ampsim" --count "$count" --no-command --quiet \
    >"$build/end_copy_ip_ampsim.log" 2>&1 &
pids+=($!)
start_virtual_display 1024x768
pids+=("$virtual_display_pid")
tovrin_err=$build/end_copy_ip_tovrin.err
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0; }
rss_mib() { awk '/VmRSS/ { printf "%.0f", $2 / 1024 }' "/proc/$1/status" 2>/dev/null; }
percentiles() { # p50 p95 max of the numbers on standard input
    sort -n | awk '{ v[NR] = $1 } END { printf "p50 %.1f / p95 %.1f / max %.1f ms", v[int((NR - 1) * 0.5) + 1], v[int((NR - 1) * 0.95) + 1], v[NR] }'
}

run_once() {
    TOVRIN_DISCOVERY_STATS=1 QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR=/tmp \
        bash "$root/scripts/testnet.sh" exec "$network" app "$build/tovrin" >/dev/null 2>"$tovrin_err" &
    local program=$!
    pids+=("$program")
    local dialog main
    dialog=$(timeout 20 xdotool search --sync --name '^Select Local Interface$' | head -1)
    [ -n "$dialog" ] && sleep 0.5 && xdotool windowfocus --sync "$dialog" key Return
    main=$(timeout 20 xdotool search --sync --name '^Select Amplifier$' | head -1)
    [ -n "$main" ] || { echo "the main window did not appear"; return 1; }
    sleep "$warmup"
    xdotool windowfocus --sync "$main"
    # testnet.sh exec and ip netns exec both exec: the process started is the program.
    local pid=$program
    local load0 cpu0 started
    load0=$(load_average)
    cpu0=$(cpu_ticks "$pid")
    started=$(now_ns)
    local times=() sends=() afters=() round t0 t1 t2 ip ms send
    for ((round = 1; round <= rounds; ++round)); do
        xdotool key Home
        sleep 0.5
        printf 'none' | xclip -selection clipboard -i
        t0=$(now_ns)
        xdotool key End ctrl+i
        t1=$(now_ns)
        while :; do
            ip=$(clipboard)
            [[ $ip =~ ^198\.18\.[0-9]+\.[0-9]+$ ]] && break
            (( $(now_ns) - t0 > 5000000000 )) && { ip="(none after 5 s: '$ip')"; break; }
        done
        t2=$(now_ns)
        ms=$(awk -v a="$t0" -v b="$t2" 'BEGIN { printf "%.1f", (b - a) / 1e6 }')
        send=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.1f", (b - a) / 1e6 }')
        times+=("$ms")
        sends+=("$send")
        afters+=("$(awk -v a="$t1" -v b="$t2" 'BEGIN { printf "%.1f", (b - a) / 1e6 }')")
        echo "round $round: $ms ms (keys sent in $send ms), clipboard $ip"
    done
    local cpu1 ended rss load1 hz
    cpu1=$(cpu_ticks "$pid")
    ended=$(now_ns)
    rss=$(rss_mib "$pid")
    load1=$(load_average)
    hz=$(getconf CLK_TCK)
    kill -TERM "$pid" 2>/dev/null
    wait "$program" 2>/dev/null
    local tally
    tally=$(grep 'tovrin: discovery:' "$tovrin_err" | tail -1)
    echo
    echo "keys to clipboard: $(printf '%s\n' "${times[@]}" | percentiles) over $rounds rounds"
    echo "xdotool sending the keys: $(printf '%s\n' "${sends[@]}" | percentiles)"
    echo "from the keys sent to the clipboard: $(printf '%s\n' "${afters[@]}" | percentiles)"
    echo "program over the rounds: $(awk -v c=$((cpu1 - cpu0)) -v hz="$hz" -v a="$started" -v b="$ended" 'BEGIN { printf "%.0f %% of one core", 100 * c / hz / ((b - a) / 1e9) }'), RSS $rss MiB"
    echo "program: ${tally:-(no tally: see $tovrin_err)}"
    echo "load average, 1 / 5 / 15 min: $load0 -> $load1"
    echo
}

echo "End, then Ctrl+I, in the main window of tovrin with $count amplifiers answering; $(nproc) cores, $(date -u '+%F %H:%M') UTC"
for ((run = 1; run <= runs; ++run)); do
    echo "run $run:"
    run_once
done
