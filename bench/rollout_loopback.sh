#!/usr/bin/env bash
# Rollout of one file to 20 simulated amplifiers on loopback, at several degrees of parallelism.
#
#   bench/rollout_loopback.sh [BUILD_DIR] [MiB] [AMPLIFIERS] [PARALLEL...]
#                                         (defaults: build, 50, 20, 1 4 8 20; needs root)
#
# Runs inside a network namespace of its own that has nothing but loopback, so the simulator can
# serve every amplifier on its own address (127.0.1.1, 127.0.1.2, ...) without listening on this
# machine's real interfaces. The simulator (`ampsim --count-only`, one thread for all amplifiers)
# only counts the bytes. tovrinctl is given the amplifiers by address (--host), so no discovery runs.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
mib=${2:-50}
count=${3:-20}
shift $(($# < 3 ? $# : 3))
parallels=("$@")
[ ${#parallels[@]} -gt 0 ] || parallels=(1 4 8 20)

if [ -z "${TOVRIN_ROLLOUT_INSIDE:-}" ]; then
    [ "$(id -u)" -eq 0 ] || { echo "rollout_loopback: needs root for its own network namespace" >&2; exit 1; }
    exec env TOVRIN_ROLLOUT_INSIDE=1 unshare --net -- "$0" "$build" "$mib" "$count" "${parallels[@]}"
fi
ip link set lo up

work=$(mktemp -d /tmp/tovrin-rollout-bench.XXXXXX)
sim_pid=
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

source "$root/bench/sink.sh"
make_firmware "$mib"
start_counting_sink 0.0.0.0 --count "$count" --first-ip 127.0.1.1 --quiet

hosts=()
for i in $(seq "$count"); do hosts+=(--host "127.0.1.$i"); done

echo "file: $mib MiB to $count amplifiers"
for parallel in "${parallels[@]}"; do
    start=$(date +%s%N)
    /usr/bin/time -f %M -o "$work/rss" "$build/tovrinctl" --port "$port" rollout "$file" "${hosts[@]}" \
        --parallel "$parallel" --audit "$work/audit-$parallel.jsonl" >"$work/out" 2>&1 ||
        { cat "$work/out" >&2; exit 1; }
    end=$(date +%s%N)
    ok=$(grep -c '"result":"ok"' "$work/audit-$parallel.jsonl")
    [ "$ok" -eq "$count" ] || { echo "rollout_loopback: only $ok of $count ok" >&2; cat "$work/out" >&2; exit 1; }
    awk -v p="$parallel" -v ns=$((end - start)) -v b=$((size * count)) -v rss="$(cat "$work/rss")" \
        'BEGIN { printf "  --parallel %-3s %6.2f s  %7.1f MB/s in all  peak resident %d MiB\n", p, ns / 1e9, b / (ns / 1e9) / 1e6, rss / 1024 }'
done
