#!/usr/bin/env bash
# Upload throughput over loopback: our upload exchange against a standard tool sending the same
# file into the same sink.
#
#   bench/upload_vs_socat.sh [BUILD_DIR] [MiB] [ROUNDS]      (defaults: build, 512, 3)
#
# The sink is the amplifier simulator (`ampsim`, command port only, on 127.0.0.1): it takes the
# announcement "$$$FILE_UPLOAD:%08x:%s", reads exactly that many bytes, checksums them and answers
# FILE_UPLOAD_DONE. Each round times, from start to the final reply line:
#   ours:  bench/upload_cli (load the file, "$$$VER?", announce, wait for FILE_UPLOAD_START, send
#          in 65536-byte chunks, wait for the final reply, close);
#   socat: the announcement followed by the file, piped into socat (no waiting for the start
#          reply; the simulator takes bytes behind the announcement as file data).
# Both read the file from the page cache. The simulator's checksums must match the file's.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
mib=${2:-512}
rounds=${3:-3}
for program in bench/upload_cli ampsim; do
    [ -x "$build/$program" ] || { echo "upload_vs_socat: $build/$program is missing; build it first" >&2; exit 1; }
done
command -v socat >/dev/null || { echo "upload_vs_socat: socat is missing (scripts/setup.sh installs it)" >&2; exit 1; }

work=$(mktemp -d /tmp/tovrin-upload-bench.XXXXXX)
sim_pid=
socat_pid=
cleanup() {
    [ -n "$socat_pid" ] && kill "$socat_pid" 2>/dev/null && wait "$socat_pid" 2>/dev/null
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

file=$work/fw.bin
size=$((mib * 1024 * 1024))
head -c "$size" /dev/urandom >"$file"
cat "$file" >/dev/null # into the page cache

"$build/ampsim" --no-discovery --command-address 127.0.0.1 --command-port 0 >"$work/sim.log" 2>&1 &
sim_pid=$!
port=
for _ in $(seq 100); do
    port=$(sed -n 's/.*command port 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/sim.log")
    [ -n "$port" ] && break
    sleep 0.05
done
[ -n "$port" ] || { echo "upload_vs_socat: the simulator did not start" >&2; cat "$work/sim.log" >&2; exit 1; }

now_ns() { date +%s%N; }

run_ours() {
    local start end
    start=$(now_ns)
    "$build/bench/upload_cli" 127.0.0.1 "$port" "$file" >"$work/ours.log"
    end=$(now_ns)
    grep -q '^FILE_UPLOAD_DONE' "$work/ours.log" || { cat "$work/ours.log" >&2; return 1; }
    echo $((end - start))
}

run_socat() {
    local start end line
    rm -f "$work/replies"
    mkfifo "$work/replies"
    start=$(now_ns)
    # -t: after the file, keep the connection open for the final reply; killed once it is read.
    { printf '$$$FILE_UPLOAD:%08x:/tmp/fw.bin\n' "$size"; cat "$file"; } |
        socat -t 60 - "TCP:127.0.0.1:$port" >"$work/replies" &
    socat_pid=$!
    while IFS= read -r line; do
        [[ $line == FILE_UPLOAD_DONE* ]] && break
    done <"$work/replies"
    end=$(now_ns)
    kill "$socat_pid" 2>/dev/null
    wait "$socat_pid" 2>/dev/null || true
    socat_pid=
    [[ ${line:-} == FILE_UPLOAD_DONE* ]] || return 1
    echo $((end - start))
}

rate() { awk -v b="$size" -v ns="$1" 'BEGIN { printf "%.1f", b / (ns / 1e9) / 1e6 }'; }
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

ours=()
theirs=()
for round in $(seq "$rounds"); do
    o=$(run_ours)
    t=$(run_socat)
    ours+=("$o")
    theirs+=("$t")
    echo "round $round: ours $(rate "$o") MB/s ($(grep '^Sending done' "$work/ours.log")), socat $(rate "$t") MB/s"
done

kill "$sim_pid"
wait "$sim_pid" 2>/dev/null || true
sim_pid=
# Every upload must have arrived whole: one checksum for all of them, none incomplete.
uploads=$(grep -c '^  upload ' "$work/sim.log" || true)
sums=$(sed -n 's/^  upload .* fnv1a64 \([0-9a-f]*\)$/\1/p' "$work/sim.log" | sort -u | wc -l)
if [ "$uploads" -ne $((2 * rounds)) ] || [ "$sums" -ne 1 ] || grep -q incomplete "$work/sim.log"; then
    echo "upload_vs_socat: not every upload arrived whole" >&2
    cat "$work/sim.log" >&2
    exit 1
fi

o=$(median "${ours[@]}")
t=$(median "${theirs[@]}")
echo "file: $mib MiB, $rounds rounds, medians:"
echo "  ours  (upload_cli): $(rate "$o") MB/s"
echo "  socat             : $(rate "$t") MB/s"
awk -v o="$o" -v t="$t" 'BEGIN { printf "  ratio ours/socat  : %.2f\n", t / o }'
