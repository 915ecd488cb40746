#!/usr/bin/env bash
# Discovery at scale on the private test network: N simulated amplifiers answer every hello sent by
# the real program `tovrin` on a virtual display (Xvfb), on a quiet machine and with both cores
# loaded by two busy loops at normal priority.
#
#   bench/discovery_net.sh [BUILD_DIR] [SECONDS] [N...]     (defaults: build, 60, 5000 20000 50000 64516)
#
# Environment: STATES="quiet loaded" (which machine states), RUNS=1 (runs per size and state),
# WARMUP=8 (seconds before the measurement starts), LATENCY=0 (1: also run bench/discovery_net, the
# worker and list in-process, for the reply-to-row latency percentiles), AMPSIM_ARGS (more options
# for the simulator, e.g. --unicast: replies to the program's address instead of broadcasts, which
# spares the simulator the local copy of each of its broadcasts; the program's receive path is the
# same).
#
# The simulator answers from one thread; "replies/s" far under 2 x N means it could not keep up
# (its replies then come late and rows expire although the program took every datagram it got:
# see "kernel drops" and the replies still sent after the program ended, in the simulator's log).
#
# Per run, one table row. Counted by the processes themselves: the program's tally on standard error
# at its end (TOVRIN_DISCOVERY_STATS: hellos sent, datagrams handled, rows added, removed and come
# back) and the simulator's (hellos heard, replies sent). Measured from outside over SECONDS: CPU of
# the program (/proc/PID/stat), context switches of all its threads (/proc/PID/task/*/status), its
# RSS, and the kernel's receive-buffer drops in the app namespace (`Udp: RcvbufErrors`).
# 64,516 is the most amplifiers the private network holds (254 x 254 addresses).
# Needs root (network namespaces). Broadcasts stay inside the private namespaces.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/virtual-display.sh"
build=$(cd "${1:-$root/build}" && pwd)
seconds=${2:-60}
shift 2 2>/dev/null || shift $#
counts=("$@")
[ ${#counts[@]} -gt 0 ] || counts=(5000 20000 50000 64516)
states=${STATES:-quiet loaded}
runs=${RUNS:-1}
warmup=${WARMUP:-8}

[ "$(id -u)" -eq 0 ] || { echo "discovery_net: skipped: needs root for the private network" >&2; exit 77; }
for program in ampsim tovrin; do
    [ -x "$build/$program" ] || { echo "discovery_net: $build/$program is missing; build it first" >&2; exit 1; }
done

pids=()
load_pids=()
network=
cleanup() {
    local pid
    for pid in "${load_pids[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${load_pids[@]}" "${pids[@]}"; do wait "$pid" 2>/dev/null; done
    pids=()
    load_pids=()
    [ -n "$network" ] && bash "$root/scripts/testnet.sh" down "$network" >/dev/null
    network=
}
trap cleanup EXIT
trap 'exit 130' INT TERM

cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0; }
context_switches() { # voluntary + involuntary, all threads
    cat /proc/"$1"/task/*/status 2>/dev/null | awk '/ctxt_switches/ { n += $2 } END { print n + 0 }'
}
rss_mib() { awk '/VmRSS/ { printf "%.0f", $2 / 1024 }' "/proc/$1/status" 2>/dev/null; }
rcvbuf_errors() { # in the app namespace
    ip netns exec "$network-app" cat /proc/net/snmp | awk '/^Udp:/ { if (!h) { for (i = 1; i <= NF; i++) c[$i] = i; h = 1 } else print $c["RcvbufErrors"] }'
}
load_average() { cut -d' ' -f1-3 /proc/loadavg; }
# The number in front of a word in the tally line: field "rows added" of "... 5000 rows added ...".
tally_field() { sed -n "s/.* \([0-9][0-9]*\) $2.*/\1/p" <<<"$1" | head -1; }

run_once() {
    local count=$1 state=$2
    network=tvs$$n$count
    bash "$root/scripts/testnet.sh" up "$network" "$count" >/dev/null || { echo "N=$count: network did not come up"; return 1; }
    local ampsim_log=$build/discovery_net_ampsim_$count.log tovrin_err=$build/discovery_net_tovrin_$count.err
    # shellcheck disable=SC2086
    bash "$root/scripts/testnet.sh" exec "$network" amp "$build/ampsim" --count "$count" --no-command --quiet \
        ${AMPSIM_ARGS:-} >"$ampsim_log" 2>&1 &
    local simulator=$!
    pids+=("$simulator")
    start_virtual_display 1024x768
    pids+=("$virtual_display_pid")
    TOVRIN_DISCOVERY_STATS=1 QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR=/tmp \
        bash "$root/scripts/testnet.sh" exec "$network" app "$build/tovrin" >/dev/null 2>"$tovrin_err" &
    local program=$!
    pids+=("$program")
    local started=$SECONDS
    # The interface dialog has one entry, the app side's address: confirm it.
    local dialog
    dialog=$(timeout 20 xdotool search --sync --name '^Select Local Interface$' | head -1)
    [ -n "$dialog" ] && sleep 0.5 && xdotool windowfocus --sync "$dialog" key Return
    if [ "$state" = loaded ]; then
        local _
        for _ in 1 2; do
            bash -c 'while :; do :; done' &
            load_pids+=($!)
        done
    fi
    sleep "$warmup"
    local hz cpu0 cs0 drops0 load0
    hz=$(getconf CLK_TCK)
    cpu0=$(cpu_ticks "$program"); cs0=$(context_switches "$program"); drops0=$(rcvbuf_errors)
    load0=$(load_average)
    sleep "$seconds"
    local cpu1 cs1 drops1 rss total_cpu lifetime load1
    cpu1=$(cpu_ticks "$program"); cs1=$(context_switches "$program"); drops1=$(rcvbuf_errors)
    rss=$(rss_mib "$program"); total_cpu=$cpu1; lifetime=$((SECONDS - started)); load1=$(load_average)
    local pid
    for pid in "${load_pids[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
    load_pids=()
    kill -TERM "$program" 2>/dev/null
    wait "$program" 2>/dev/null
    kill -TERM "$simulator" 2>/dev/null
    wait "$simulator" 2>/dev/null
    local tally heard
    tally=$(grep 'tovrin: discovery:' "$tovrin_err" | tail -1)
    heard=$(sed -n 's/.*; \([0-9]*\) hello(s) received.*/\1/p' "$ampsim_log" | tail -1)
    if [ -z "$tally" ]; then
        echo "| $count | $state | (no tally: the program ended early, see $tovrin_err) |"
    else
        local sent handled added removed back listed
        sent=$(tally_field "$tally" "hellos sent"); handled=$(tally_field "$tally" "datagrams handled")
        added=$(tally_field "$tally" "rows added"); removed=$(tally_field "$tally" "removed")
        back=$(tally_field "$tally" "came back"); listed=$(tally_field "$tally" "listed")
        awk -v n="$count" -v state="$state" -v listed="$listed" -v back="$back" -v removed="$removed" \
            -v handled="$handled" -v life="$lifetime" -v dcpu=$((cpu1 - cpu0)) -v tcpu="$total_cpu" -v hz="$hz" \
            -v s="$seconds" -v dcs=$((cs1 - cs0)) -v rss="$rss" -v drops=$((drops1 - drops0)) \
            -v heard="${heard:-?}" -v sent="$sent" -v l0="$load0" -v l1="$load1" 'BEGIN {
                printf "| %d | %s | %s | %s (%s removed) | %.0f (%d) | %.0f %% | %.2f | %.0f | %s | %d | %s / %s | %s -> %s |\n",
                    n, state, listed, back, removed, handled / life, 2 * n, 100 * dcpu / hz / s,
                    (handled > 0 ? 1e6 * tcpu / hz / handled : 0), dcs / s, rss, drops, heard, sent, l0, l1 }'
    fi
    cleanup
}

echo "discovery of N amplifiers by the real program, ${seconds} s measured after ${warmup} s, $(nproc) cores, $(date -u '+%F %H:%M') UTC"
echo "load average at start: $(load_average); simulator options: --count N --no-command --quiet ${AMPSIM_ARGS:-}"
echo
echo "| amplifiers | machine | rows listed | rows come back | replies/s (2 x N asked) | CPU of one core | µs per reply | context switches/s | RSS MiB | kernel drops | hellos heard / sent | load average (start -> end) |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|"
for state in $states; do
    for count in "${counts[@]}"; do
        for ((run = 0; run < runs; run++)); do
            run_once "$count" "$state"
        done
    done
done
if [ "${LATENCY:-0}" = 1 ] && [ -x "$build/bench/discovery_net" ]; then
    echo
    echo "worker and list in-process (bench/discovery_net), quiet machine:"
    for count in "${counts[@]}"; do
        "$build/bench/discovery_net" "$count" "$seconds"
    done
fi
