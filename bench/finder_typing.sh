#!/usr/bin/env bash
# The project finder on a large drive: makes a sample drive of N folders (default 100,000, most in
# two year folders and the firmware work folder), waits until its time stamps have settled, and
# types into the real dialog (bench/finder_typing_gui.cpp), then removes the drive. The `find` it
# compares with runs in the same process, keystroke by keystroke, over the same five folders; the
# load average is printed before and after, since the ratio holds only for a machine as quiet.
#
#   bench/finder_typing.sh [BUILD_DIR] [N] [ROUNDS]      (defaults: build, 100000, 5)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
count=${2:-100000}
rounds=${3:-5}
for program in sampledrive bench/finder_typing_gui; do
    [ -x "$build/$program" ] || { echo "finder_typing: $build/$program is missing; build it first" >&2; exit 1; }
done
drive=$(mktemp -d "${TMPDIR:-/tmp}/tovrin-bench-drive-XXXXXX")
trap 'rm -rf "$drive"' EXIT
"$build/sampledrive" "$drive/p" --count "$count"
echo "sample drive: $(find "$drive/p" -mindepth 2 -maxdepth 3 -type d | wc -l) folders"
# Listings of folders changed within the last two seconds are not trusted by the cache.
sleep 2.5
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"
QT_QPA_PLATFORM=offscreen "$build/bench/finder_typing_gui" "$drive/p" "$rounds"
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"
