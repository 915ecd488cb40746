#!/usr/bin/env bash
# `tovrinctl monitor` on the private test network, with the simulator's amplifiers on the other side.
#
#   bench/monitor_net.sh scale [BUILD_DIR] [N]          (default N 64516) the scrape at N amplifiers:
#       its size and time (curl, five scrapes), the monitor's CPU share and RSS over a minute, and
#       a real Prometheus server scraping it every 10 s with its default 10 s time-out
#       (scrape_duration_seconds, scrape_samples_scraped, up).
#   bench/monitor_net.sh soak [BUILD_DIR] [MINUTES] [N] (defaults 30, 5000) amplifiers coming and
#       going every 2 s (the simulator's churn, 30% of them back with another address or name) and
#       --forget-after 60: RSS, open descriptors and series sampled every minute.
#
# Prints the load average with every figure: the machine is shared. Needs root (namespaces).
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
mode=${1:-scale}
build=$(cd "${2:-$root/build}" && pwd)
[ "$(id -u)" -eq 0 ] || { echo "monitor_net: skipped: needs root for the private network" >&2; exit 77; }
for program in ampsim tovrinctl; do
    [ -x "$build/$program" ] || { echo "monitor_net: $build/$program is missing; build it first" >&2; exit 1; }
done
command -v curl >/dev/null || { echo "monitor_net: curl is missing (scripts/setup.sh)" >&2; exit 1; }

network=tvn$$x0
pids=()
folder=$(mktemp -d)
cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
    bash "$root/scripts/testnet.sh" down "$network" >/dev/null
    rm -rf "$folder"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

listen=127.0.0.1:18001
in_app() { bash "$root/scripts/testnet.sh" exec "$network" app "$@"; }
load_average() { cut -d' ' -f1-3 /proc/loadavg; }
rss_mib() { awk '/VmRSS/ { printf "%.1f", $2 / 1024 }' "/proc/$1/status" 2>/dev/null; }
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0; }
series() { in_app curl -s "http://$listen/metrics" | grep -c '^tovrin_amplifier_\(up\|info\|last_seen\)'; }

start() { # count, extra simulator options...
    local count=$1
    shift
    bash "$root/scripts/testnet.sh" up "$network" "$count" >/dev/null || { echo "monitor_net: network did not come up" >&2; exit 1; }
    bash "$root/scripts/testnet.sh" exec "$network" amp "$build/ampsim" --count "$count" --no-command --quiet "$@" \
        >"$folder/ampsim.log" 2>&1 &
    pids+=($!)
    # testnet.sh and ip netns exec both exec: the process started here becomes the monitor.
    # shellcheck disable=SC2086
    bash "$root/scripts/testnet.sh" exec "$network" app "$build/tovrinctl" monitor --interface 198.18.0.1 \
        --listen "$listen" ${MONITOR_ARGS:-} 2>"$folder/monitor.err" &
    monitor=$!
    pids+=("$monitor")
    sleep 1
    kill -0 "$monitor" 2>/dev/null || { echo "monitor_net: the monitor did not start" >&2; cat "$folder/monitor.err" >&2; exit 1; }
}

if [ "$mode" = scale ]; then
    count=${3:-64516}
    start "$count" ${AMPSIM_ARGS:-}
    echo "N=$count; waiting for every amplifier to be listed (load average $(load_average))"
    for _ in $(seq 120); do
        listed=$(in_app curl -s "http://$listen/metrics" | sed -n 's/^tovrin_amplifiers \([0-9]*\)$/\1/p')
        [ "${listed:-0}" -ge "$count" ] && break
        sleep 1
    done
    echo "listed: ${listed:-0} of $count"
    for _ in 1 2 3 4 5; do
        in_app curl -s -o /dev/null -w 'scrape: %{size_download} bytes in %{time_total} s\n' "http://$listen/metrics"
    done
    before=$(cpu_ticks "$monitor")
    sleep 60
    after=$(cpu_ticks "$monitor")
    echo "monitor over 60 s: CPU $(((after - before) * 100 / $(getconf CLK_TCK) / 60))% of one core, RSS $(rss_mib "$monitor") MiB, load average $(load_average)"

    # Prometheus with its defaults for interval and time-out (10 s each here), on the app side.
    mkdir -p "$folder/data"
    cat >"$folder/prometheus.yml" <<CONFIG
global:
  scrape_interval: 10s
  scrape_timeout: 10s
scrape_configs:
  - job_name: tovrin
    static_configs:
      - targets: ['$listen']
CONFIG
    bash "$root/scripts/testnet.sh" exec "$network" app prometheus --config.file="$folder/prometheus.yml" --storage.tsdb.path="$folder/data" \
        --web.listen-address=127.0.0.1:19090 >"$folder/prometheus.log" 2>&1 &
    pids+=($!)
    query() { in_app curl -s "http://127.0.0.1:19090/api/v1/query" --data-urlencode "query=$1" | sed -n 's/.*"value":\[[^,]*,"\([^"]*\)"\].*/\1/p'; }
    sleep 45
    echo "prometheus (default 10 s interval and time-out): up $(query 'up{job="tovrin"}'), scrapes ok $(query 'sum_over_time(up{job="tovrin"}[1m])') of $(query 'count_over_time(up{job="tovrin"}[1m])') in the last minute, samples $(query 'scrape_samples_scraped{job="tovrin"}'), duration of the last scrape $(query 'scrape_duration_seconds{job="tovrin"}') s, longest in the last minute $(query 'max_over_time(scrape_duration_seconds{job="tovrin"}[1m])') s, amplifiers up $(query 'sum(tovrin_amplifier_up)'), load average $(load_average)"
elif [ "$mode" = soak ]; then
    minutes=${3:-30}
    count=${4:-5000}
    MONITOR_ARGS="--forget-after 60 ${MONITOR_ARGS:-}"
    start "$count" --churn-period 2000 --churn-count 25 --churn-silent 5000 --churn-change 30 ${AMPSIM_ARGS:-}
    echo "N=$count, churn: 25 silenced every 2 s for 5 s, 30% back changed; --forget-after 60"
    printf '%-7s %-9s %-5s %-7s %-9s %-10s %s\n' minute "RSS MiB" fds series listed vanished "load average"
    for minute in $(seq 0 "$minutes"); do
        [ "$minute" -gt 0 ] && sleep 60
        text=$(in_app curl -s "http://$listen/metrics")
        printf '%-7s %-9s %-5s %-7s %-9s %-10s %s\n' "$minute" "$(rss_mib "$monitor")" \
            "$(ls "/proc/$monitor/fd" | wc -l)" "$(grep -c '^tovrin_amplifier_\(up\|info\|last_seen\)' <<<"$text")" \
            "$(sed -n 's/^tovrin_amplifiers \([0-9]*\)$/\1/p' <<<"$text")" \
            "$(sed -n 's/^tovrin_amplifiers_vanished_total \([0-9]*\)$/\1/p' <<<"$text")" "$(load_average)"
    done
else
    echo "usage: bench/monitor_net.sh scale|soak [BUILD_DIR] ..." >&2
    exit 2
fi
