# Sourced by the upload benchmarks. Expects build and work to be set.
# make_firmware MiB: writes MiB random bytes to $work/fw.bin, leaves its path in file and its size
# in size, and reads it once so that it is in the page cache.
make_firmware() {
    file=$work/fw.bin
    size=$(($1 * 1024 * 1024))
    head -c "$size" /dev/urandom >"$file"
    cat "$file" >/dev/null
}

# start_counting_sink ADDRESS [ampsim option…]: the simulator's command port on ADDRESS, only
# counting what it receives; leaves its process in sim_pid and its port in port.
start_counting_sink() {
    local address=$1
    shift
    "$build/ampsim" --no-discovery --count-only --command-address "$address" --command-port 0 "$@" \
        >"$work/sim.log" 2>&1 &
    sim_pid=$!
    port=
    local _
    for _ in $(seq 100); do
        port=$(sed -n "s/.*command port ${address//./\\.}:\([0-9]*\).*/\1/p" "$work/sim.log")
        [ -n "$port" ] && return 0
        sleep 0.05
    done
    echo "$(basename "$0"): the simulator did not start" >&2
    cat "$work/sim.log" >&2
    exit 1
}
