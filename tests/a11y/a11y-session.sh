# Sourced by the tests that read the program through the real accessibility bus:
#
#   a11y_session_start NAME PROGRAM…
#
# checks that PROGRAM… and pyatspi are there (exit 1 when not; 77, skipped, without root, which the
# private test network needs), then starts a virtual display (Xvfb), a private D-Bus session whose
# bus listens on a socket file (the programs in the test network's namespace reach it too: an
# abstract socket belongs to one network namespace) and at-spi2-core's bus launcher. Every process
# goes into `pids`, ended by its id (newest first) when the shell exits, with the network named in
# `network` and the folder `work`: SIGTERM, and SIGKILL after 5 s for one that ignores it.
# Under AddressSanitizer the real X11 platform runs here: libxkbcommon-x11 hands strndup a buffer
# that is not NUL-terminated but long enough for the bytes asked, which only the strict string
# check reports. Our own code is checked strictly by every other test.
[ -n "${ASAN_OPTIONS:-}" ] && export ASAN_OPTIONS="$ASAN_OPTIONS:strict_string_checks=0"
a11y_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
# Debian's own Python, which has the python3-pyatspi bindings (not one first on the PATH).
python=/usr/bin/python3
pids=()
network=
work=

a11y_session_cleanup() {
    local i _
    set +e
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null
        for _ in $(seq 50); do kill -0 "${pids[i]}" 2>/dev/null || break; sleep 0.1; done
        kill -KILL "${pids[i]}" 2>/dev/null
        wait "${pids[i]}" 2>/dev/null
    done
    [ -n "$network" ] && bash "$a11y_root/scripts/testnet.sh" down "$network" >/dev/null
    [ -n "$work" ] && rm -rf "$work"
    true
}

a11y_session_start() {
    local name=$1 program launcher=/usr/libexec/at-spi-bus-launcher _
    shift
    for program in Xvfb xdotool dbus-daemon dbus-send "$python" "$launcher" "$@"; do
        command -v "$program" >/dev/null || { echo "$name: $program is missing (scripts/setup.sh installs it)" >&2; exit 1; }
    done
    "$python" -c 'import pyatspi' 2>/dev/null || { echo "$name: python3-pyatspi is missing (scripts/setup.sh)" >&2; exit 1; }
    [ "$(id -u)" -eq 0 ] || { echo "$name: needs root for the private test network" >&2; exit 77; }
    work=$(mktemp -d)
    trap a11y_session_cleanup EXIT
    trap 'exit 143' TERM INT # ctest's time limit: the clean-up runs all the same

    source "$a11y_root/scripts/virtual-display.sh"
    start_virtual_display 1024x768
    pids+=("$virtual_display_pid")

    mkdir -m 700 "$work/run"
    export XDG_RUNTIME_DIR=$work/run
    dbus-daemon --session --nofork --address="unix:path=$work/run/bus" --print-address=3 3>"$work/address" &
    pids+=($!)
    for _ in $(seq 50); do [ -s "$work/address" ] && break; sleep 0.1; done
    DBUS_SESSION_BUS_ADDRESS=$(head -1 "$work/address")
    export DBUS_SESSION_BUS_ADDRESS
    "$launcher" --launch-immediately &
    pids+=($!)
    for _ in $(seq 50); do
        dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null 2>&1 && break
        sleep 0.1
    done
    export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb NO_AT_BRIDGE=0
}
