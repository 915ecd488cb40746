#!/usr/bin/env bash
# Every window of the program at scale 1 and 2 and with a dark palette, and in German at scale 1
# and 2, taken from the real windows on a virtual display (Xvfb) with ImageMagick's import, to
# compare by eye that every text shows whole and reads at any scale and in either language; the
# main window at scale 2 and the upload window in German also go to the README:
#   tools/screenshots/shot_windows.sh [BUILD_DIR] [OUT_DIR]   (defaults: build, BUILD_DIR/screenshots)
# Pictures are named WINDOW-scale1.png, WINDOW-scale2.png, WINDOW-dark.png, WINDOW-de-scale1.png
# and WINDOW-de-scale2.png. Needs the targets
# shot_window and sampledrive.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
out=$(mkdir -p "${2:-$build/screenshots}" && cd "${2:-$build/screenshots}" && pwd)
work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
"$build/sampledrive" "$work/p" --count 400 >/dev/null

source "$root/scripts/virtual-display.sh"
start_virtual_display 1600x1200
pids+=("$virtual_display_pid")
export QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR=$work

# shoot FILE SCALE [shot_window argument…]: the program's visible window, whole, in the language
# of $language (C: the program's own texts, de: German).
language=C
shoot() {
    local file=$1 scale=$2 fifo pid window _
    shift 2
    fifo=$work/ready && mkfifo "$fifo"
    TOVRIN_LANG=$language QT_SCALE_FACTOR=$scale "$build/shot_window" "$@" >"$fifo" &
    pid=$!
    pids+=("$pid")
    read -r -t 20 _ <"$fifo"
    rm -f "$fifo"
    window=$(xdotool search --sync --onlyvisible --pid "$pid" 2>/dev/null | tail -1)
    import -window "$window" "$file"
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    echo "saved $file"
}

for window in main selipaddr ipsettings upload memo finder message query; do
    arguments=("$window")
    [ "$window" = finder ] && arguments+=("$work/p" 1395)
    shoot "$out/$window-scale1.png" 1 "${arguments[@]}"
    shoot "$out/$window-scale2.png" 2 "${arguments[@]}"
    shoot "$out/$window-dark.png" 1 --dark "${arguments[@]}"
    language=de
    shoot "$out/$window-de-scale1.png" 1 "${arguments[@]}"
    shoot "$out/$window-de-scale2.png" 2 "${arguments[@]}"
    language=C
done
cp "$out/upload-de-scale1.png" "$root/docs/upload-dialog-de.png"
echo "saved $root/docs/upload-dialog-de.png"
cp "$out/main-scale2.png" "$root/docs/tovrin-main-scale2.png"
echo "saved $root/docs/tovrin-main-scale2.png"
