#!/usr/bin/env bash
# Pictures of the user command menu and its editor for the README, taken from the real windows on a
# virtual display (Xvfb) with ImageMagick's import:
#   tools/screenshots/shot_menu.sh [BUILD_DIR] [OUT_DIR]     (defaults: build, docs)
# Uses the demo menu file scripts/demo-menu.txt; needs the target shot_menu.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
out=$(mkdir -p "${2:-$root/docs}" && cd "${2:-$root/docs}" && pwd)
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
# The menu file where the program would keep it, so the editor's caption reads as in use.
mkdir -p "$work/opt/tovrin"
menu=$work/opt/tovrin/Tovrin_Cmds.txt
cp "$root/scripts/demo-menu.txt" "$menu"

source "$root/scripts/virtual-display.sh"
start_virtual_display 800x600
pids+=("$virtual_display_pid")
export QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR=$work

capture_when_ready "$out/tovrin-user-menu.png" 404x234+19+19 "$build/shot_menu" "$menu"
capture_when_ready "$out/memo-dialog.png" 640x258+20+20 "$build/shot_menu" "$menu" --editor
