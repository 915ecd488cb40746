#!/usr/bin/env bash
# The private test network: two network namespaces joined by a veth pair, so that discovery
# broadcasts never reach this machine's real interfaces.
#
#   testnet.sh up NAME AMP_COUNT   makes NAME-app (198.18.0.1/16 on "tvapp") and NAME-amp
#                                  (AMP_COUNT addresses on "tvamp": amplifier i, counted from 0,
#                                  is 198.18.(1 + i/254).(1 + i%254), so 198.18.1.1, 198.18.1.2 …)
#   testnet.sh other NAME          adds NAME-oth, a second network on the app side: "tvoth"
#                                  (198.19.0.1/16) there, 198.19.0.2 on "tvothpeer" in NAME-oth.
#                                  Broadcasts to 255.255.255.255 that are not tied to an interface
#                                  now leave the app side through tvoth, not through tvapp
#   testnet.sh exec NAME app|amp|oth CMD [ARG…]   runs a command inside one side
#   testnet.sh down NAME           removes its sides (nothing to do when they are gone)
#   testnet.sh unplug NAME         deletes the veth pair, as if the app side's adapter was pulled
#   testnet.sh plug NAME AMP_COUNT makes the veth pair again (new interface indexes, same names
#                                  and addresses), as if the adapter was plugged in again
#   testnet.sh list                lists this project's networks and whether their owner lives
#   testnet.sh clean               removes the networks whose owner process has ended
#
# NAME should be tvn<pid>x<n>, <pid> being the owning process: `clean` removes a network once that
# process is gone. The host's own interfaces and routes are never touched: the veth pair is made
# inside the app namespace with its peer placed straight into the amp namespace.
# Exit status 77 (the "skipped" code of test drivers) when namespaces cannot be made here.
set -uo pipefail

readonly APP_ADDRESS=198.18.0.1
readonly PREFIX=16
readonly APP_LINK=tvapp
readonly AMP_LINK=tvamp
readonly MAX_AMPS=$((254 * 254))
readonly OTHER_APP_ADDRESS=198.19.0.1
readonly OTHER_ADDRESS=198.19.0.2
readonly OTHER_APP_LINK=tvoth
readonly OTHER_LINK=tvothpeer

die() { echo "testnet: $*" >&2; exit 1; }
skip() { echo "testnet: $*" >&2; exit 77; }

amp_address() { # index from 0
    local i=$1
    echo "198.18.$((1 + i / 254)).$((1 + i % 254))"
}

check_name() {
    [[ $1 =~ ^[A-Za-z0-9_]{1,24}$ ]] || die "bad network name '$1' (letters, digits, _; at most 24)"
}

require_namespaces() {
    [ "$(id -u)" -eq 0 ] || skip "needs root to make network namespaces (run as root or with sudo)"
    command -v ip >/dev/null || skip "the 'ip' command (package iproute2) is missing"
}

exists() { ip netns list 2>/dev/null | awk '{print $1}' | grep -qx -- "$1"; }

remove_network() {
    local name=$1 side
    for side in app amp oth; do
        if exists "$name-$side"; then
            ip netns del "$name-$side" 2>/dev/null || echo "testnet: could not remove $name-$side" >&2
        fi
    done
}

# The veth pair with its addresses and routes (set -e is on in the callers).
make_link() {
    local app=$1-app amp=$1-amp count=$2
    ip -n "$app" link add "$APP_LINK" type veth peer name "$AMP_LINK" netns "$amp"
    ip -n "$app" addr add "$APP_ADDRESS/$PREFIX" brd + dev "$APP_LINK"
    if [ "$count" -gt 0 ]; then
        local i
        for ((i = 0; i < count; i++)); do
            echo "addr add 198.18.$((1 + i / 254)).$((1 + i % 254))/$PREFIX brd + dev $AMP_LINK"
        done | ip -n "$amp" -batch -
    fi
    ip -n "$app" link set "$APP_LINK" up
    ip -n "$amp" link set "$AMP_LINK" up
    # 255.255.255.255 needs a route to leave by; inside the namespaces that is the veth.
    ip -n "$app" route add default dev "$APP_LINK"
    ip -n "$amp" route add default dev "$AMP_LINK"
}

cmd_unplug() {
    [ $# -eq 1 ] || die "usage: testnet.sh unplug NAME"
    check_name "$1"
    require_namespaces
    exists "$1-app" || die "network $1 is not up"
    ip -n "$1-app" link del "$APP_LINK" || die "cannot delete $APP_LINK in $1-app"
}

cmd_plug() {
    [ $# -eq 2 ] || die "usage: testnet.sh plug NAME AMP_COUNT"
    local name=$1 count=$2
    check_name "$name"
    [[ $count =~ ^[0-9]+$ ]] && [ "$count" -le $MAX_AMPS ] || die "AMP_COUNT must be 0..$MAX_AMPS"
    require_namespaces
    exists "$name-app" && exists "$name-amp" || die "network $name is not up"
    set -e
    make_link "$name" "$count"
    set +e
}

cmd_up() {
    [ $# -eq 2 ] || die "usage: testnet.sh up NAME AMP_COUNT"
    local name=$1 count=$2
    check_name "$name"
    [[ $count =~ ^[0-9]+$ ]] && [ "$count" -le $MAX_AMPS ] || die "AMP_COUNT must be 0..$MAX_AMPS"
    require_namespaces
    cmd_clean >/dev/null
    exists "$name-app" || exists "$name-amp" && die "network $name exists already"

    local app=$name-app amp=$name-amp
    if ! ip netns add "$app" 2>/tmp/testnet.$$.err; then
        local reason; reason=$(cat /tmp/testnet.$$.err); rm -f /tmp/testnet.$$.err
        skip "cannot make network namespaces here: $reason"
    fi
    rm -f /tmp/testnet.$$.err
    # From here on a failure leaves nothing behind.
    trap 'remove_network "$name"' ERR
    set -e
    ip netns add "$amp"
    ip -n "$app" link set lo up
    ip -n "$amp" link set lo up
    make_link "$name" "$count"
    set +e
    trap - ERR
    echo "testnet: $name up: app $APP_ADDRESS, $count amplifier address(es) from $(amp_address 0)"
}

cmd_other() {
    [ $# -eq 1 ] || die "usage: testnet.sh other NAME"
    local name=$1
    check_name "$name"
    require_namespaces
    exists "$name-app" || die "network $name is not up"
    exists "$name-oth" && die "network $name has its other side already"
    local app=$name-app other=$name-oth
    ip netns add "$other" || die "cannot make $other"
    trap 'ip netns del "$other" 2>/dev/null' ERR
    set -e
    ip -n "$app" link add "$OTHER_APP_LINK" type veth peer name "$OTHER_LINK" netns "$other"
    ip -n "$other" link set lo up
    ip -n "$app" addr add "$OTHER_APP_ADDRESS/$PREFIX" brd + dev "$OTHER_APP_LINK"
    ip -n "$other" addr add "$OTHER_ADDRESS/$PREFIX" brd + dev "$OTHER_LINK"
    ip -n "$app" link set "$OTHER_APP_LINK" up
    ip -n "$other" link set "$OTHER_LINK" up
    ip -n "$app" route add 255.255.255.255/32 dev "$OTHER_APP_LINK"
    ip -n "$other" route add default dev "$OTHER_LINK"
    set +e
    trap - ERR
    echo "testnet: $name other side up: app $OTHER_APP_ADDRESS on $OTHER_APP_LINK, $OTHER_ADDRESS beyond it"
}

cmd_exec() {
    [ $# -ge 3 ] || die "usage: testnet.sh exec NAME app|amp|oth CMD [ARG…]"
    local name=$1 side=$2
    shift 2
    check_name "$name"
    [ "$side" = app ] || [ "$side" = amp ] || [ "$side" = oth ] || die "side must be app, amp or oth, not '$side'"
    require_namespaces
    exists "$name-$side" || die "network $name is not up"
    exec ip netns exec "$name-$side" "$@"
}

cmd_down() {
    [ $# -eq 1 ] || die "usage: testnet.sh down NAME"
    check_name "$1"
    require_namespaces
    remove_network "$1"
}

# Prints "NAME PID alive|dead" for each network of ours.
networks() {
    ip netns list 2>/dev/null | awk '{print $1}' | sed -nE 's/^(tvn([0-9]+)x[0-9]+)-(app|amp|oth)$/\1 \2/p' |
        sort -u | while read -r name pid; do
            if kill -0 "$pid" 2>/dev/null; then echo "$name $pid alive"; else echo "$name $pid dead"; fi
        done
}

cmd_list() { require_namespaces; networks; }

cmd_clean() {
    require_namespaces
    networks | while read -r name _ state; do
        if [ "$state" = dead ]; then
            remove_network "$name"
            echo "testnet: removed stale network $name"
        fi
    done
}

# Networks are made and removed one at a time: parallel test runs share /run/netns, and the first
# `ip netns add` on a machine sets that folder up.
lock() {
    exec 9>"/run/lock/tovrin-testnet.lock" 2>/dev/null || exec 9>"/tmp/tovrin-testnet.lock"
    flock 9 2>/dev/null || true
}

case "${1:-}" in
    up|other|down|clean) [ "$(id -u)" -eq 0 ] && lock ;;
esac
case "${1:-}" in
    up) shift; cmd_up "$@" ;;
    other) shift; cmd_other "$@" ;;
    exec) shift; cmd_exec "$@" ;;
    down) shift; cmd_down "$@" ;;
    unplug) shift; cmd_unplug "$@" ;;
    plug) shift; cmd_plug "$@" ;;
    list) cmd_list ;;
    clean) cmd_clean ;;
    address) shift; amp_address "$1" ;;
    *) sed -n '2,23s/^# \{0,1\}//p' "$0"; [ "${1:-}" = help ] || [ "${1:-}" = --help ]; exit $? ;;
esac
