#!/usr/bin/env bash
# Every window of the program through the real accessibility bus, as a screen reader reads it
# (tests/a11y/atspi_windows.py says what is checked):
#
#   tests/a11y/atspi-windows.sh BUILD_DIR
#
# Starts its own virtual display (Xvfb), a private D-Bus session with the accessibility bus
# (at-spi2-core's bus launcher), a sample project drive and the private test network with simulated
# amplifiers for the main window; the programs run with QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1. Every
# process it starts is ended by its process id. Exit status 77 (skipped) without root or pyatspi.
set -euo pipefail
# Under AddressSanitizer the real X11 platform runs here: libxkbcommon-x11 hands strndup a buffer
# that is not NUL-terminated but long enough for the bytes asked, which only the strict string
# check reports. Our own code is checked strictly by every other test.
[ -n "${ASAN_OPTIONS:-}" ] && export ASAN_OPTIONS="$ASAN_OPTIONS:strict_string_checks=0"
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:?usage: atspi-windows.sh BUILD_DIR}" && pwd)
launcher=/usr/libexec/at-spi-bus-launcher
# Debian's own Python, which has the python3-pyatspi bindings (not one first on the PATH).
python=/usr/bin/python3

for program in Xvfb xdotool dbus-daemon dbus-send "$python" "$launcher"; do
    command -v "$program" >/dev/null || { echo "atspi-windows: $program is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
"$python" -c 'import pyatspi' 2>/dev/null || { echo "atspi-windows: python3-pyatspi is missing (scripts/setup.sh)" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "atspi-windows: needs root for the private test network" >&2; exit 77; }

pids=()
network=
work=$(mktemp -d)
cleanup() {
    local i
    set +e
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null
        wait "${pids[i]}" 2>/dev/null
    done
    [ -n "$network" ] && bash "$root/scripts/testnet.sh" down "$network" >/dev/null
    rm -rf "$work"
    true
}
trap cleanup EXIT
trap 'exit 143' TERM INT # ctest's time limit: the clean-up runs all the same

source "$root/scripts/virtual-display.sh"
start_virtual_display 1024x768
pids+=("$virtual_display_pid")

# The session bus listens on a socket file: the programs in the test network's namespace reach it
# too (an abstract socket belongs to one network namespace).
mkdir -m 700 "$work/run"
export XDG_RUNTIME_DIR=$work/run
dbus-daemon --session --nofork --address="unix:path=$work/run/bus" --print-address=3 3>"$work/address" &
pids+=($!)
for _ in $(seq 50); do [ -s "$work/address" ] && break; sleep 0.1; done
export DBUS_SESSION_BUS_ADDRESS=$(head -1 "$work/address")
"$launcher" --launch-immediately &
pids+=($!)
for _ in $(seq 50); do
    dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null 2>&1 && break
    sleep 0.1
done
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb NO_AT_BRIDGE=0
# The checks read the program's own (English) texts, whatever the locale of the machine.
export TOVRIN_LANG=C

# The dialogs first: they need no network.
"$build/sampledrive" "$work/p" --count 200 >/dev/null
status=0
"$python" "$root/tests/a11y/atspi_windows.py" --build "$build" --drive "$work/p" || status=1
network=tva$$
bash "$root/scripts/testnet.sh" up "$network" 4 >/dev/null
"$python" "$root/tests/a11y/atspi_windows.py" --build "$build" --testnet "$root/scripts/testnet.sh" \
    --network "$network" || status=1
exit $status
