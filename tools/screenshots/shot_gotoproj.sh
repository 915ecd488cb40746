#!/usr/bin/env bash
# Pictures of the project finder for the README, taken from the real window on a virtual display
# (Xvfb) with ImageMagick's import:
#   tools/screenshots/shot_gotoproj.sh [BUILD_DIR] [OUT_DIR]     (defaults: build, docs)
# Needs the targets shot_gotoproj and sampledrive.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
out=$(mkdir -p "${2:-$root/docs}" && cd "${2:-$root/docs}" && pwd)
work=$(mktemp -d)
drive=
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
    rm -rf "$work" "$(dirname "$drive")"
}
trap cleanup EXIT
# A short, fixed drive path reads better in the pictures than a temporary one.
drive=${TMPDIR:-/tmp}/tovrin-sample/p
rm -rf "$(dirname "$drive")"
"$build/sampledrive" "$drive" --count 400

source "$root/scripts/virtual-display.sh"
start_virtual_display 800x600
pids+=("$virtual_display_pid")
export QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR=$work

capture_when_ready "$out/gotoproj-dialog.png" 562x332+19+19 "$build/shot_gotoproj" "$drive" 1395
capture_when_ready "$out/gotoproj-menu.png" 562x332+19+19 "$build/shot_gotoproj" "$drive" 14 --menu
