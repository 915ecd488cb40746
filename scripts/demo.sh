#!/usr/bin/env bash
# Shows the program at work without real amplifiers: a private network (scripts/testnet.sh) with a
# dozen simulated amplifiers on one side and `tovrin` on the other, so that its live list fills.
#
#   scripts/demo.sh [--count N] [--build DIR] [--screenshot FILE] [--seconds S] [--xvfb]
#                   [--sample-drive | --no-sample-drive]
#
# With a display ($DISPLAY) the window opens there and the demo runs until the window is closed or
# Ctrl+C. Without one (or with --xvfb) it runs on a virtual display (Xvfb), confirms the interface
# dialog, waits S seconds (default 5), saves a screenshot of the main window and ends.
# Needs root for the network namespaces; as another user it asks sudo, or uses a user namespace
# (unshare -r) where the system allows that. Everything it started is ended when it ends.
# The project finder searches the folder in TOVRIN_PROJECT_DRIVE (default /mnt/p). When that is not
# set and /mnt/p does not exist, or with --sample-drive, the demo points it at a sample drive of a
# few hundred project and serial-number folders (made once in BUILD/sample-drive by `sampledrive`).
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
count=12
build=$root/build
screenshot=
seconds=5
force_xvfb=0
in_userns=0
sample_drive=auto

while [ $# -gt 0 ]; do
    case $1 in
        --count) count=$2; shift 2 ;;
        --build) build=$(cd "$2" && pwd); shift 2 ;;
        --screenshot) screenshot=$2; shift 2 ;;
        --seconds) seconds=$2; shift 2 ;;
        --xvfb) force_xvfb=1; shift ;;
        --in-userns) in_userns=1; shift ;;
        --sample-drive) sample_drive=1; shift ;;
        --no-sample-drive) sample_drive=0; shift ;;
        -h|--help) sed -n '2,15s/^# \{0,1\}//p' "$0"; exit 0 ;;
        *) echo "demo: unknown option $1 (see --help)" >&2; exit 2 ;;
    esac
done
[[ $count =~ ^[0-9]+$ ]] && [ "$count" -ge 1 ] || { echo "demo: --count needs a number >= 1" >&2; exit 2; }
if [ -n "$screenshot" ]; then
    mkdir -p "$(dirname "$screenshot")" && screenshot=$(cd "$(dirname "$screenshot")" && pwd)/$(basename "$screenshot")
fi

for program in tovrin ampsim; do
    if [ ! -x "$build/$program" ]; then
        echo "demo: $build/$program is missing; build first (scripts/run.sh does both)" >&2
        exit 1
    fi
done

# ---- root, sudo, or a user namespace ----
if [ "$(id -u)" -ne 0 ]; then
    args=(--count "$count" --build "$build" --seconds "$seconds")
    [ -n "$screenshot" ] && args+=(--screenshot "$screenshot")
    [ "$force_xvfb" = 1 ] && args+=(--xvfb)
    [ "$sample_drive" = 1 ] && args+=(--sample-drive)
    [ "$sample_drive" = 0 ] && args+=(--no-sample-drive)
    export XAUTHORITY=${XAUTHORITY:-$HOME/.Xauthority}
    if command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
        exec sudo --preserve-env=DISPLAY,XAUTHORITY,TOVRIN_PROJECT_DRIVE bash "$0" "${args[@]}"
    fi
    if unshare -r -n -m true 2>/dev/null; then
        echo "demo: no root; using a user namespace (unshare -r) for the private network"
        exec unshare -r -n -m bash "$0" --in-userns "${args[@]}"
    fi
    echo "demo: the private network needs root. Run it with sudo: sudo -E $0" >&2
    echo "      (or allow unprivileged user namespaces: sysctl kernel.unprivileged_userns_clone=1)" >&2
    exit 1
fi

# ---- the project drive ----
if [ "$sample_drive" = auto ]; then
    sample_drive=0
    [ -z "${TOVRIN_PROJECT_DRIVE:-}" ] && [ ! -d /mnt/p ] && sample_drive=1
fi
if [ "$sample_drive" = 1 ]; then
    drive=$build/sample-drive
    if [ ! -d "$drive/Produktion" ]; then
        [ -x "$build/sampledrive" ] || { echo "demo: $build/sampledrive is missing; build first (scripts/run.sh does both)" >&2; exit 1; }
        rm -rf "$drive"
        "$build/sampledrive" "$drive" --count 400 || exit 1
    fi
    export TOVRIN_PROJECT_DRIVE=$drive
    echo "demo: the project finder searches the sample drive $drive"
fi

pids=()
network=
runtime_dir=
amp_ns_pid=
cleanup() {
    trap - EXIT INT TERM
    local i
    # Newest first: the program goes before the display and the network it uses.
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null
        wait "${pids[i]}" 2>/dev/null
    done
    [ -n "$network" ] && bash "$root/scripts/testnet.sh" down "$network"
    [ -n "$runtime_dir" ] && rm -rf "$runtime_dir"
    true
}
trap cleanup EXIT
trap 'echo; echo "demo: ending"; exit 130' INT TERM

names=Stage-Left,Stage-Right,FOH-Rack-1,FOH-Rack-2,Monitor-World,Sub-Array-L,Sub-Array-R,Delay-Tower-1,Delay-Tower-2,Front-Fill,Balcony-L,Balcony-R

# in_app/in_amp replace the shell they run in: call them only in the background (&), so that $!
# is the program itself.

# ---- the private network: app side here, amplifier side in a second namespace ----
if [ "$in_userns" = 1 ]; then
    # Already in a namespace of our own (the app side); the amplifier side is a child namespace
    # held open by a sleeping process. ip netns cannot be used: it needs the real /run.
    ip link set lo up
    unshare -n sleep infinity &
    amp_ns_pid=$!
    pids+=("$amp_ns_pid")
    sleep 0.2
    ip link add tvapp type veth peer name tvamp netns "$amp_ns_pid"
    ip addr add 198.18.0.1/16 brd + dev tvapp
    ip link set tvapp up
    ip route add default dev tvapp
    for ((i = 0; i < count; i++)); do
        echo "addr add 198.18.$((1 + i / 254)).$((1 + i % 254))/16 brd + dev tvamp"
    done | nsenter -t "$amp_ns_pid" -n ip -batch -
    nsenter -t "$amp_ns_pid" -n ip link set lo up
    nsenter -t "$amp_ns_pid" -n ip link set tvamp up
    nsenter -t "$amp_ns_pid" -n ip route add default dev tvamp
    in_app() { exec "$@"; }
    in_amp() { exec nsenter -t "$amp_ns_pid" -n "$@"; }
else
    network=tvn$$x0
    bash "$root/scripts/testnet.sh" up "$network" "$count"
    rc=$?
    if [ $rc -ne 0 ]; then network=; exit $rc; fi
    in_app() { exec bash "$root/scripts/testnet.sh" exec "$network" app "$@"; }
    in_amp() { exec bash "$root/scripts/testnet.sh" exec "$network" amp "$@"; }
fi

in_amp "$build/ampsim" --count "$count" --names "$names" --lease-first 198.18.100.1 &
pids+=($!)

# ---- a display ----
use_xvfb=$force_xvfb
if [ "$use_xvfb" = 0 ] && { [ -z "${DISPLAY:-}" ] || ! xdpyinfo >/dev/null 2>&1; }; then
    use_xvfb=1
fi
if [ "$use_xvfb" = 1 ]; then
    command -v Xvfb >/dev/null || { echo "demo: Xvfb is missing (scripts/setup.sh installs it)" >&2; exit 1; }
    source "$root/scripts/virtual-display.sh"
    start_virtual_display 1024x768
    pids+=("$virtual_display_pid")
    [ -n "$screenshot" ] || screenshot=$build/tovrin-demo.png
fi

export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-xcb}
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    XDG_RUNTIME_DIR=$(mktemp -d) && export XDG_RUNTIME_DIR
    runtime_dir=$XDG_RUNTIME_DIR
fi
# The demo's user command items (right-click a row), unless a menu file is there already.
[ -e "$build/Tovrin_Cmds.txt" ] || cp "$root/scripts/demo-menu.txt" "$build/Tovrin_Cmds.txt"
in_app "$build/tovrin" &
tovrin_pid=$!
pids+=("$tovrin_pid")
echo "demo: tovrin runs in the private network (app side 198.18.0.1) with $count simulated amplifiers"

if [ "$use_xvfb" = 0 ]; then
    echo "demo: choose 198.18.0.1 in the interface dialog and press OK; close the window or press Ctrl+C to end"
    if [ -n "$screenshot" ]; then
        sleep "$seconds"
        window=$(xdotool search --name '^Select Amplifier$' 2>/dev/null | head -1)
        import -window "${window:-root}" "$screenshot" && echo "demo: screenshot saved to $screenshot"
    fi
    wait "$tovrin_pid"
    exit 0
fi

# Nobody is at the virtual display: confirm the interface dialog (its only entry is the app side).
dialog=$(timeout 20 xdotool search --sync --name '^Select Local Interface$' 2>/dev/null | head -1)
if [ -n "$dialog" ]; then
    sleep 0.5
    xdotool windowfocus --sync "$dialog" key Return 2>/dev/null || xdotool key Return
fi
sleep "$seconds"
window=$(xdotool search --name '^Select Amplifier$' 2>/dev/null | head -1)
if import -window "${window:-root}" "$screenshot"; then
    echo "demo: screenshot of the main window saved to $screenshot"
else
    echo "demo: taking the screenshot failed" >&2
    exit 1
fi
