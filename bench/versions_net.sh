#!/usr/bin/env bash
# `tovrinctl versions` against N simulated amplifiers on the private test network: the time for all
# of them at --parallel P against the ideal (N / P x one exchange), and the program's peak RSS.
#
#   bench/versions_net.sh [BUILD_DIR] [N] [P]     (defaults: build, 1000, 50)
#
# Every time is taken from outside (wall clock), with the program's start and end and the namespace
# wrapper: "fixed" is a run that asks one amplifier; one exchange is (asking 51 one at a time - fixed)
# / 50; the run of N at --parallel P is shown whole and less the fixed part, against the ideal. The
# amplifiers are given by address (--host), so discovery's seconds are not part of the time. Needs root (network namespaces); nothing leaves the private namespaces.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
count=${2:-1000}
parallel=${3:-50}
[ "$(id -u)" -eq 0 ] || { echo "versions_net: skipped: needs root for the private network" >&2; exit 77; }

network=tvn$$x1
sim=
cleanup() {
    # The simulator runs as a child of the namespace wrapper: end both.
    [ -n "$sim" ] && { pkill -P "$sim" 2>/dev/null; kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null; }
    bash "$root/scripts/testnet.sh" down "$network" >/dev/null
}
trap cleanup EXIT
trap 'exit 130' INT TERM

bash "$root/scripts/testnet.sh" up "$network" "$count" >/dev/null || exit 1
bash "$root/scripts/testnet.sh" exec "$network" amp "$build/ampsim" --count "$count" --no-discovery --quiet \
    >/dev/null &
sim=$!
sleep 1

hosts=()
for ((i = 0; i < count; i++)); do hosts+=(--host "198.18.$((1 + i / 254)).$((1 + i % 254))"); done
app() { bash "$root/scripts/testnet.sh" exec "$network" app "$@"; }
seconds_of() { local start end; start=$(date +%s.%N); "$@" >/dev/null 2>&1; end=$(date +%s.%N); echo "$end - $start" | bc -l; }

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
fixed=$(seconds_of app "$build/tovrinctl" versions --parallel 1 "${hosts[@]:0:2}")
one=$(seconds_of app "$build/tovrinctl" versions --parallel 1 "${hosts[@]:0:102}")
exchange=$(echo "($one - $fixed) / 50" | bc -l)
elapsed=$(seconds_of app "$build/tovrinctl" versions --parallel "$parallel" "${hosts[@]}")
log=$(mktemp)
app /usr/bin/time -v "$build/tovrinctl" versions --parallel "$parallel" "${hosts[@]}" >"$log.out" 2>"$log"
status=$?
answered=$(grep -c 'AMPSIM' "$log.out")
rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$log")
ideal=$(echo "$count / $parallel * $exchange" | bc -l)
printf 'fixed %.3f s; one exchange %.2f ms; %d amplifiers at --parallel %d: %.3f s, less fixed %.3f s (ideal %.3f s, %.1f x); %d answered, exit %d, max RSS %.1f MiB\n' \
    "$fixed" "$(echo "$exchange * 1000" | bc -l)" "$count" "$parallel" "$elapsed" "$(echo "$elapsed - $fixed" | bc -l)" \
    "$ideal" "$(echo "($elapsed - $fixed) / $ideal" | bc -l)" \
    "$answered" "$status" "$(echo "$rss / 1024" | bc -l)"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
rm -f "$log" "$log.out"
