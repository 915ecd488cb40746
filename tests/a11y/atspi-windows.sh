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
build=$(cd "${1:?usage: atspi-windows.sh BUILD_DIR}" && pwd)
source "$(dirname "$0")/a11y-session.sh"
a11y_session_start atspi-windows
root=$a11y_root
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
