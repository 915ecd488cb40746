#!/usr/bin/env bash
# Runs the real program as an ordinary user (no root, no capabilities) inside the private test
# network and checks what a user would see and what leaves the machine's side of it:
#
#   scripts/check-user-run.sh [--program PATH] [--build DIR] [--count N] [--mode bound|refused|both]
#
# The app side has two networks: the amplifiers' (tvapp, 198.18.0.1) and another one (tvoth,
# 198.19.0.1) through which broadcasts not tied to an interface would leave, and on which a foreign
# amplifier announces itself. The program (default: DIR/tovrin; give the installed or unpacked
# one) runs under Xvfb as the system user "tovrin-check" (made when missing); the interface
# dialog is answered with 198.18.0.1. Half of the N simulated amplifiers (default 8) answer by
# broadcast, half by unicast. Passes when the list holds exactly the N amplifiers (read row by
# row through "Copy IP-Address"), hellos left through tvapp and nothing through tvoth.
# Mode "bound": the socket is tied to tvapp (SO_BINDTODEVICE, allowed to users since Linux 5.7);
# "refused": SO_BINDTODEVICE is refused as on older kernels (DIR/tests/without_bindtodevice), so
# the worker's own fallback must keep hello and replies on tvapp. Needs root (namespaces, user).
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
program=
count=8
modes=(bound refused)
user=tovrin-check
while [ $# -gt 0 ]; do
    case $1 in
        --program) program=$2; shift 2 ;;
        --build) build=$(cd "$2" && pwd); shift 2 ;;
        --count) count=$2; shift 2 ;;
        --mode) [ "$2" = both ] && modes=(bound refused) || modes=("$2"); shift 2 ;;
        -h|--help) sed -n '2,19s/^# \{0,1\}//p' "$0"; exit 0 ;;
        *) echo "check-user-run: unknown option $1" >&2; exit 2 ;;
    esac
done
program=${program:-$build/tovrin}
[[ $count =~ ^[0-9]+$ ]] && [ "$count" -ge 2 ] && [ "$count" -le 200 ] || { echo "check-user-run: --count 2..200" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "check-user-run: needs root (network namespaces, a system user)" >&2; exit 77; }
for needed in "$program" "$build/ampsim" "$build/tests/without_bindtodevice"; do
    [ -x "$needed" ] || { echo "check-user-run: $needed is missing; build first" >&2; exit 1; }
done
for tool in Xvfb xdotool xclip tcpdump socat setpriv ss; do
    command -v "$tool" >/dev/null || { echo "check-user-run: $tool is missing (scripts/setup.sh)" >&2; exit 1; }
done

testnet() { bash "$root/scripts/testnet.sh" "$@"; }
# A plain command, not a function: started with &, $! is then the program itself.
in_net=(bash "$root/scripts/testnet.sh" exec)
say() { echo "check-user-run: $*"; }
failures=0
fail() { echo "check-user-run: FAIL: $*" >&2; failures=$((failures + 1)); }

work=$(mktemp -d /tmp/tovrin-user-run.XXXXXX)
chmod 755 "$work"
pids=()
network=
made_user=0
stop_all() {
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null
        wait "${pids[i]}" 2>/dev/null
    done
    pids=()
    [ -n "$network" ] && testnet down "$network"
    network=
}
cleanup() {
    stop_all
    [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    [ "$made_user" = 1 ] && userdel "$user" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if ! id -u "$user" >/dev/null 2>&1; then
    useradd --system --user-group --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$user" ||
        { echo "check-user-run: cannot make the user $user" >&2; exit 1; }
    made_user=1
fi

# One virtual display for all runs; any local client may use it (the user and this script).
display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp -ac >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=:$display
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

# Prints the IP addresses of the main window's rows, top to bottom, read through Ctrl+I.
read_rows() {
    local window=$1 previous= ip i wait
    xdotool windowfocus --sync "$window" 2>/dev/null
    xdotool key --clearmodifiers Home
    for ((i = 0; i < count + 5; i++)); do
        printf '' | xclip -selection clipboard
        xdotool key --clearmodifiers ctrl+i
        ip=
        for ((wait = 0; wait < 30 && ${#ip} == 0; wait++)); do
            sleep 0.1
            ip=$(xclip -o -selection clipboard 2>/dev/null)
        done
        [ -z "$ip" ] || [ "$ip" = "$previous" ] && break
        echo "$ip"
        previous=$ip
        xdotool key --clearmodifiers Down
    done
}

run_mode() {
    local mode=$1 n=$2 half=$((count / 2))
    network=tvn$$x$n
    testnet up "$network" "$count" >/dev/null && testnet other "$network" >/dev/null ||
        { fail "$mode: the private network could not be made"; network=; return; }

    local capture=$work/$mode
    mkdir -p "$capture"
    "${in_net[@]}" "$network" app tcpdump -Z root -n -U -i tvapp -w "$capture/tvapp.pcap" udp port 8001 2>/dev/null &
    pids+=($!)
    "${in_net[@]}" "$network" app tcpdump -Z root -n -U -i tvoth -w "$capture/tvoth.pcap" udp port 8001 2>/dev/null &
    pids+=($!)
    "${in_net[@]}" "$network" amp "$build/ampsim" --count "$half" --names Broadcast-Amp --quiet --no-command \
        >>"$capture/ampsim.log" 2>&1 &
    pids+=($!)
    "${in_net[@]}" "$network" amp "$build/ampsim" --count $((count - half)) --first-ip "198.18.1.$((half + 1))" \
        --mac-base 0050C2A20001 --names Unicast-Amp --unicast --quiet --no-command >>"$capture/ampsim.log" 2>&1 &
    pids+=($!)
    # An amplifier of the other network announces itself there; it must never be listed.
    "${in_net[@]}" "$network" oth bash -c 'while :; do
        printf "0050C2FFFF01 0 198.19.0.2 255.255.0.0 0.0.0.0 Foreign-Amp" |
            socat -u - UDP-DATAGRAM:255.255.255.255:8001,broadcast,bind=198.19.0.2:8001,reuseaddr
        sleep 0.2; done' &
    pids+=($!)

    local home=$work/home-$mode
    mkdir -p "$home/run" && chmod 700 "$home/run" && chown -R "$user:" "$home"
    local wrapper=()
    [ "$mode" = refused ] && wrapper=("$build/tests/without_bindtodevice")
    "${in_net[@]}" "$network" app env -i HOME="$home" XDG_RUNTIME_DIR="$home/run" DISPLAY="$DISPLAY" \
        PATH=/usr/bin:/bin QT_QPA_PLATFORM=xcb LANG=C.UTF-8 \
        setpriv --reuid="$user" --regid="$user" --init-groups --inh-caps=-all --no-new-privs -- \
        "${wrapper[@]}" "$program" >"$capture/program.log" 2>&1 &
    local tovrin_pid=$!
    pids+=("$tovrin_pid")

    local dialog
    dialog=$(timeout 20 xdotool search --sync --name '^Select Local Interface$' 2>/dev/null | head -1)
    if [ -z "$dialog" ]; then
        fail "$mode: the interface dialog did not open"; cat "$capture/program.log" >&2; stop_all; return
    fi
    local status
    status=$(cat "/proc/$tovrin_pid/status")
    local uid
    uid=$(id -u "$user")
    grep -qE "^Uid:\s+$uid\s+$uid\s+$uid\s+$uid$" <<<"$status" || fail "$mode: the program does not run as $user"
    grep -qE '^CapEff:\s+0+$' <<<"$status" && grep -qE '^CapPrm:\s+0+$' <<<"$status" ||
        fail "$mode: the program holds capabilities"
    say "$mode: $(basename "$(readlink "/proc/$tovrin_pid/exe")") runs as $user (uid $uid), no capabilities"

    # The combo box jumps to the entry whose text is typed.
    sleep 0.5
    xdotool windowfocus --sync "$dialog" 2>/dev/null
    xdotool type --delay 50 198.18.0.1
    xdotool key Return
    local window
    window=$(timeout 10 xdotool search --sync --name '^Select Amplifier$' 2>/dev/null | head -1)
    [ -n "$window" ] || { fail "$mode: the main window did not show"; stop_all; return; }
    sleep 2

    local sockets
    sockets=$(testnet exec "$network" app ss -Huan 'sport = :8001')
    say "$mode: discovery socket: $(awk '{print $4}' <<<"$sockets" | tr '\n' ' ')"
    if [ "$mode" = bound ]; then
        grep -q '%tvapp:8001' <<<"$sockets" || fail "bound: the socket is not tied to tvapp"
    else
        grep -q '%' <<<"$sockets" && fail "refused: the socket is tied to a device although that was refused"
    fi

    # A loaded machine may need a few rounds of hellos until every amplifier is listed.
    local rows expected attempt
    expected=$(for ((i = 1; i <= count; i++)); do echo "198.18.1.$i"; done)
    for attempt in 1 2 3; do
        rows=$(read_rows "$window" | sort -V)
        [ "$rows" = "$expected" ] && break
        sleep 2
    done
    say "$mode: list rows: $(tr '\n' ' ' <<<"$rows")"
    [ "$rows" = "$expected" ] || fail "$mode: the list should hold 198.18.1.1 to 198.18.1.$count, no more"

    stop_all
    local hellos broadcasts unicasts leaked foreign
    hellos=$(tcpdump -n -r "$capture/tvapp.pcap" 2>/dev/null | grep -c '198\.18\.0\.1\.8001 > 255\.255\.255\.255\.8001')
    broadcasts=$(tcpdump -n -r "$capture/tvapp.pcap" 2>/dev/null | grep -cE '198\.18\.1\.[0-9]+\.8001 > 255\.255\.255\.255\.8001')
    unicasts=$(tcpdump -n -r "$capture/tvapp.pcap" 2>/dev/null | grep -cE '198\.18\.1\.[0-9]+\.8001 > 198\.18\.0\.1\.8001')
    leaked=$(tcpdump -n -r "$capture/tvoth.pcap" 2>/dev/null | grep -vc '198\.19\.0\.2\.8001 >')
    foreign=$(tcpdump -n -r "$capture/tvoth.pcap" 2>/dev/null | grep -c '198\.19\.0\.2\.8001 >')
    say "$mode: tvapp: $hellos hellos out, $broadcasts broadcast and $unicasts unicast replies in;" \
        "tvoth: $leaked datagrams out, $foreign foreign replies in"
    [ "$hellos" -ge 2 ] || fail "$mode: no hellos left through tvapp"
    [ "$broadcasts" -ge 1 ] && [ "$unicasts" -ge 1 ] || fail "$mode: replies of both kinds should have come"
    [ "$leaked" -eq 0 ] || fail "$mode: $leaked datagrams left through tvoth, the interface not chosen"
    [ "$foreign" -ge 1 ] || fail "$mode: the foreign amplifier was not heard on tvoth"
}

n=0
for mode in "${modes[@]}"; do
    run_mode "$mode" "$n"
    n=$((n + 1))
done
if [ "$failures" -gt 0 ]; then
    echo "check-user-run: $failures check(s) failed" >&2
    exit 1
fi
say "passed (${modes[*]})"
