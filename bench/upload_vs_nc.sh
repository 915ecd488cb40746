#!/usr/bin/env bash
# Upload throughput and memory over loopback: `tovrinctl upload` against nc sending the same
# announcement and file into the same sink, in the same run.
#
#   bench/upload_vs_nc.sh [BUILD_DIR] [MiB] [ROUNDS]      (defaults: build, 512, 3)
#
# The sink is the amplifier simulator (`ampsim --count-only`, command port only, on 127.0.0.1): it
# takes the announcement "$$$FILE_UPLOAD:%08x:%s", reads exactly that many bytes, only counts them
# and answers FILE_UPLOAD_DONE. Each round times, from start to the final reply line:
#   ours: tovrinctl upload ("$$$VER?", announce, wait for FILE_UPLOAD_START, the file read and sent
#         in 65536-byte pieces, wait until every byte is acknowledged, final reply, close);
#   nc:   the announcement followed by the file, piped into nc (no waiting for the start reply).
# Peak resident memory of both senders comes from /usr/bin/time. The file is in the page cache.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
mib=${2:-512}
rounds=${3:-3}
for program in tovrinctl ampsim; do
    [ -x "$build/$program" ] || { echo "upload_vs_nc: $build/$program is missing; build it first" >&2; exit 1; }
done
for tool in nc /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "upload_vs_nc: $tool is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done

work=$(mktemp -d /tmp/tovrin-upload-bench.XXXXXX)
sim_pid=
nc_pid=
cleanup() {
    [ -n "$nc_pid" ] && kill "$nc_pid" 2>/dev/null && wait "$nc_pid" 2>/dev/null
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

source "$root/bench/sink.sh"
make_firmware "$mib"
start_counting_sink 127.0.0.1

now_ns() { date +%s%N; }

# Prints "nanoseconds peak-KiB".
run_ours() {
    local start end
    start=$(now_ns)
    /usr/bin/time -f %M -o "$work/ours.rss" "$build/tovrinctl" --port "$port" upload 127.0.0.1 "$file" >"$work/ours.log"
    end=$(now_ns)
    grep -q '^Uploaded ' "$work/ours.log" || { cat "$work/ours.log" >&2; return 1; }
    echo "$((end - start)) $(cat "$work/ours.rss")"
}

run_nc() {
    local start end line
    rm -f "$work/replies"
    mkfifo "$work/replies"
    start=$(now_ns)
    { printf '$$$FILE_UPLOAD:%08x:/tmp/fw.bin\n' "$size"; cat "$file"; } |
        /usr/bin/time -f %M -o "$work/nc.rss" nc 127.0.0.1 "$port" >"$work/replies" &
    nc_pid=$!
    while IFS= read -r line; do
        [[ $line == FILE_UPLOAD_DONE* ]] && break
    done <"$work/replies"
    end=$(now_ns)
    # nc waits for more from the sink; ended by a signal, time still reports its peak memory.
    kill $(pgrep -P "$nc_pid") 2>/dev/null || true
    wait "$nc_pid" 2>/dev/null || true
    nc_pid=
    [[ ${line:-} == FILE_UPLOAD_DONE* ]] || return 1
    echo "$((end - start)) $(grep -Eo '^[0-9]+$' "$work/nc.rss" | tail -1)"
}

rate() { awk -v b="$size" -v ns="$1" 'BEGIN { printf "%.1f", b / (ns / 1e9) / 1e6 }'; }
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

ours=()
theirs=()
ours_rss=0
nc_rss=0
for round in $(seq "$rounds"); do
    read -r o o_rss < <(run_ours)
    read -r t t_rss < <(run_nc)
    ours+=("$o")
    theirs+=("$t")
    ((o_rss > ours_rss)) && ours_rss=$o_rss
    ((t_rss > nc_rss)) && nc_rss=$t_rss
    echo "round $round: tovrinctl $(rate "$o") MB/s (peak $((o_rss / 1024)) MiB), nc $(rate "$t") MB/s (peak $((t_rss / 1024)) MiB)"
done

kill "$sim_pid"
wait "$sim_pid" 2>/dev/null || true
sim_pid=
# Every upload must have arrived whole.
complete=$(grep -c "upload /tmp/fw.bin complete: $size bytes" "$work/sim.log" || true)
if [ "$complete" -ne $((2 * rounds)) ]; then
    echo "upload_vs_nc: not every upload arrived whole" >&2
    cat "$work/sim.log" >&2
    exit 1
fi

o=$(median "${ours[@]}")
t=$(median "${theirs[@]}")
echo "file: $mib MiB, $rounds rounds, medians:"
echo "  tovrinctl upload: $(rate "$o") MB/s, peak resident $((ours_rss / 1024)) MiB"
echo "  nc              : $(rate "$t") MB/s, peak resident $((nc_rss / 1024)) MiB"
awk -v o="$o" -v t="$t" 'BEGIN { printf "  ratio ours/nc   : %.2f\n", t / o }'
