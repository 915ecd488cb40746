#!/usr/bin/env bash
# `tovrinctl set-ip --plan` re-addressing N simulated amplifiers on the private test network at
# --parallel P, against the time one amplifier's reboot and answer take (one plan of one row).
#
#   bench/set_ip_plan_net.sh [BUILD_DIR] [N] [P] [REBOOT_MS]    (defaults: build, 200, 50, 1500)
#
# The times are the program's own, from the first settings datagram to the last confirmation
# (discovery before the check is not part of them). The ideal for N at P is ceil(N / P) rounds of
# one amplifier's time; the run with --parallel N shows all of them rebooting at once. Needs root
# (network namespaces); nothing leaves the private namespaces.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
count=${2:-200}
parallel=${3:-50}
reboot=${4:-1500}
[ "$(id -u)" -eq 0 ] || { echo "set_ip_plan_net: skipped: needs root for the private network" >&2; exit 77; }

network=tpn$$x1
sim=
work=$(mktemp -d /tmp/tovrin-plan-bench.XXXXXX)
cleanup() {
    [ -n "$sim" ] && { pkill -P "$sim" 2>/dev/null; kill "$sim" 2>/dev/null; wait "$sim" 2>/dev/null; }
    bash "$root/scripts/testnet.sh" down "$network" >/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

bash "$root/scripts/testnet.sh" up "$network" "$count" >/dev/null || exit 1
bash "$root/scripts/testnet.sh" exec "$network" amp "$build/ampsim" --count "$count" --reboot "$reboot" \
    --no-command --quiet >/dev/null &
sim=$!
sleep 1

# A plan moving the first n amplifiers (MAC suffixes from 0050C2A10001) to 198.18.<net>.x.
plan() {
    local n=$1 net=$2 i
    echo "mac,ip,netmask,gateway"
    for ((i = 0; i < n; i++)); do
        printf '%012X,198.18.%d.%d,255.255.0.0,198.18.0.1\n' $((0x0050C2A10001 + i)) $((net + i / 254)) $((1 + i % 254))
    done
}
# Applies a plan; prints the program's own seconds, fails unless every row is ok.
apply() {
    local n=$1 p=$2 net=$3 out
    plan "$n" "$net" >"$work/plan.csv"
    out=$(bash "$root/scripts/testnet.sh" exec "$network" app "$build/tovrinctl" set-ip --plan "$work/plan.csv" \
        --interface 198.18.0.1 --seconds 1.5 --parallel "$p" 2>&1) || { echo "$out" >&2; exit 1; }
    grep -q "^$n of $n amplifiers ok" <<<"$out" || { echo "$out" >&2; exit 1; }
    sed -n 's/.* in \([0-9.]*\) s\.$/\1/p' <<<"$out"
}

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
one=$(apply 1 1 40) || exit 1
many=$(apply "$count" "$parallel" 50) || exit 1
all=$(apply "$count" "$count" 60) || exit 1
rounds=$(((count + parallel - 1) / parallel))
printf 'reboot %d ms; one amplifier %.2f s\n' "$reboot" "$one"
printf '%d amplifiers at --parallel %d: %.2f s = %.2f x one amplifier; ideal %d rounds = %.2f s, ratio to it %.2f (goal < 2)\n' \
    "$count" "$parallel" "$many" "$(echo "$many / $one" | bc -l)" "$rounds" "$(echo "$rounds * $one" | bc -l)" \
    "$(echo "$many / ($rounds * $one)" | bc -l)"
printf '%d amplifiers at --parallel %d: %.2f s = %.2f x one amplifier (goal < 2)\n' \
    "$count" "$count" "$all" "$(echo "$all / $one" | bc -l)"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
