#!/usr/bin/env bash
# The window tests that matter, run with Qt's native Wayland platform (QT_QPA_PLATFORM=wayland)
# instead of offscreen, under weston on a virtual display; then the program itself, started natively
# there in the private test network with simulated amplifiers, must keep running and list them
# (a screenshot is saved for the eye).
#
#   scripts/wayland-tests.sh BUILD_DIR [--screenshot FILE]
#
# weston runs its X11 back-end on Xvfb rather than its headless one: only there does it have a seat
# (keyboard, pointer, clipboard), without which no Wayland client gets keyboard focus or a
# clipboard at all. Tests that need what the compositor decides (which window is active at a given
# moment, where a dialog goes) are left out here; README says what the program does instead.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: wayland-tests.sh BUILD_DIR [--screenshot FILE]}" && pwd)
screenshot=$build/tovrin-wayland.png
[ "${2:-}" = --screenshot ] && screenshot=${3:?--screenshot needs a file}

for program in weston Xvfb xdotool import; do
    command -v "$program" >/dev/null || { echo "wayland-tests: $program is missing (scripts/setup.sh installs it)" >&2; exit 1; }
done
[ -e /usr/lib/x86_64-linux-gnu/qt6/plugins/platforms/libqwayland-generic.so ] ||
    { echo "wayland-tests: Qt's Wayland platform is missing (Debian package qt6-wayland)" >&2; exit 1; }

pids=()
network=
runtime_dir=
cleanup() {
    local i
    set +e # the killed children's statuses are no failure of this script
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null
        wait "${pids[i]}" 2>/dev/null
    done
    [ -n "$network" ] && bash "$root/scripts/testnet.sh" down "$network" >/dev/null
    [ -n "$runtime_dir" ] && rm -rf "$runtime_dir"
    true
}
trap cleanup EXIT

source "$root/scripts/virtual-display.sh"
start_virtual_display 1024x768
pids+=("$virtual_display_pid")
runtime_dir=$(mktemp -d)
chmod 700 "$runtime_dir"
export XDG_RUNTIME_DIR=$runtime_dir WAYLAND_DISPLAY=tovrin-wayland QT_QPA_PLATFORM=wayland
weston --backend=x11-backend.so --socket="$WAYLAND_DISPLAY" --idle-time=0 --no-config \
    --width=1024 --height=768 >"$runtime_dir/weston.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -S "$runtime_dir/$WAYLAND_DISPLAY" ] && break; sleep 0.1; done
[ -S "$runtime_dir/$WAYLAND_DISPLAY" ] || { cat "$runtime_dir/weston.log" >&2; echo "wayland-tests: weston did not start" >&2; exit 1; }

# Each test program with the tests left out under a compositor (see the header).
declare -A left_out=(
    [finder_test_Ftovrin]=""
    [finder_test_FtovrinSaveList]=""
    [finder_test_FtovrinCommands]=""
    [finder_test_FtovrinNetwork]=""
    [gotoproj_test_Fgotoprojdlg]="FgotoprojdlgTest.MenuActionsCopyAndStartWithTheSelectedFolder:FgotoprojdlgTest.ClearSearchesWithTheEmptyPattern"
    [memo_test_Fmemo]="FmemoTest.ShortcutsRunTheirCommandsAndCtrlOAsksTheFinder"
    [ipsettings_test_Fipsettings]="FipsettingsTest.SetDefaultFillsTheDefaultAddressesAndLeavesTheFocus:FipsettingsTest.InHousePresetReplacesAllAddressesInformsAndPutsTheCaretInTheIpField:FipsettingsTest.WindowIsAFixedDialogCentredOnTheWindowThatOpensIt:FipsettingsTest.TabOrderAndLabelAccelerators"
    [ipsettings_test_Fselipaddr]=""
    [upload_test_Fupload]="FuploadTest.MainWindowItemAimsTheDialogAtTheSelectedAmplifier"
)
# A program that crashes or hangs leaves a core dump in its own folder (a hung one is ended with
# SIGABRT at its time limit); the step then shows the backtrace of each of its threads.
ulimit -c unlimited 2>/dev/null || ulimit -c "$(ulimit -H -c)"
core_pattern=$(cat /proc/sys/kernel/core_pattern 2>/dev/null || true)
case $core_pattern in
    /* | '|'*) echo "wayland: core dumps go to '$core_pattern', so a crash here comes without its backtrace" >&2 ;;
esac
# show_backtrace PROGRAM DIR: the threads' backtraces from the core dump in DIR, if there is one.
show_backtrace() {
    local core
    core=$(find "$2" -maxdepth 1 -name 'core*' -type f | head -1)
    if [ -z "$core" ]; then
        echo "(no core dump in $2)" >&2
        return
    fi
    echo "its threads' backtraces:" >&2
    gdb -batch -ex 'thread apply all bt' "$1" "$core" 2>&1 | gdb_noise_out >&2
}
gdb_noise_out() { grep -vE '^\[(New LWP|Thread debugging)|^Using host libthread_db|^warning: ' || true; }

# run_test_program TEST LIMIT DIR: runs a test program (less its left-out tests) in DIR, ended
# with SIGABRT after LIMIT seconds; when it passed, passed_line holds its summary, else it shows
# why and sets failed=1.
failed=0
run_test_program() {
    local test=$1 limit=$2 dir=$3 status=0
    mkdir -p "$dir"
    (cd "$dir" && exec timeout -s ABRT "$limit" "$build/tests/$test" --gtest_filter="*-${left_out[$test]}") \
        >"$dir/log" 2>&1 || status=$?
    if [ "$status" -eq 0 ]; then
        passed_line="$(grep -E '^\[  PASSED  \]' "$dir/log" | tail -1)"
        return 0
    fi
    [ "$status" -eq 124 ] && status="$status, hung for $limit s"
    echo "wayland: $test FAILED (exit status $status):" >&2
    # A crash or a hang leaves no failure lines: then the end of its output and the backtraces tell.
    grep -E 'Failure|FAILED|Which is|Expected' "$dir/log" | head -40 >&2 || tail -20 "$dir/log" >&2
    show_backtrace "$build/tests/$test" "$dir"
    failed=1
    return 1
}
for test in finder_test_Ftovrin finder_test_FtovrinSaveList finder_test_FtovrinCommands finder_test_FtovrinNetwork \
    gotoproj_test_Fgotoprojdlg memo_test_Fmemo ipsettings_test_Fipsettings ipsettings_test_Fselipaddr \
    upload_test_Fupload; do
    run_test_program "$test" 300 "$runtime_dir/$test" && echo "wayland: $test: $passed_line"
done
# Qt's Wayland client could hang while a program ended (gui/ProcessEnd.h): the shortest program is
# started and ended 20 times more, each given 30 s.
ended=0
while [ "$ended" -lt 20 ] && run_test_program ipsettings_test_Fselipaddr 30 "$runtime_dir/ending-$ended"; do
    ended=$((ended + 1))
done
[ "$ended" -lt 20 ] || echo "wayland: ipsettings_test_Fselipaddr started and ended 20 times more"

# The program itself, natively: it must run on, and its list fills (see the screenshot).
network=tvw$$
bash "$root/scripts/testnet.sh" up "$network" 6 >/dev/null
bash "$root/scripts/testnet.sh" exec "$network" amp "$build/ampsim" --count 6 \
    --names Stage-Left,Stage-Right,FOH-Rack-1,FOH-Rack-2,Monitor-World,Sub-Array-L >"$runtime_dir/ampsim.log" 2>&1 &
simulator=$!
pids+=("$simulator")
# With TOVRIN_DISCOVERY_STATS set, SIGTERM closes the program as its window would (see below).
mkdir "$runtime_dir/tovrin"
(cd "$runtime_dir/tovrin" && TOVRIN_DISCOVERY_STATS=1 exec bash "$root/scripts/testnet.sh" exec "$network" app \
    "$build/tovrin") >"$runtime_dir/tovrin.log" 2>&1 &
tovrin=$!
pids+=("$tovrin")
# The interface dialog has the keyboard (weston activates new windows): Return confirms its only
# entry, the app side's address.
sleep 3
xdotool mousemove 512 740 sleep 0.3 key Return
sleep 4
if kill -0 "$tovrin" 2>/dev/null; then
    import -window root "$screenshot"
    # The simulator counts the hellos it answered: none would mean the interface dialog was never
    # confirmed and no discovery ran.
    kill "$simulator"
    wait "$simulator" 2>/dev/null || true
    hellos=$(sed -n 's/.* \([0-9]*\) hello(s) received.*/\1/p' "$runtime_dir/ampsim.log")
    if [ "${hellos:-0}" -gt 0 ]; then
        echo "wayland: tovrin runs natively under weston and said hello $hellos times; screenshot in $screenshot"
    else
        echo "wayland: tovrin runs under weston but its discovery never reached the amplifiers" >&2
        failed=1
    fi
    # Closed, it must end, and cleanly: a hang is shown with its threads' backtraces.
    kill -TERM "$tovrin"
    for _ in $(seq 100); do kill -0 "$tovrin" 2>/dev/null || break; sleep 0.2; done
    if kill -0 "$tovrin" 2>/dev/null; then
        echo "wayland: tovrin did not end within 20 s of being closed; its threads' backtraces:" >&2
        gdb -batch -p "$tovrin" -ex 'thread apply all bt' 2>&1 | gdb_noise_out >&2
        failed=1
    else
        status=0
        wait "$tovrin" || status=$?
        if [ "$status" -ne 0 ]; then
            echo "wayland: tovrin ended with exit status $status when closed:" >&2
            tail -20 "$runtime_dir/tovrin.log" >&2
            show_backtrace "$build/tovrin" "$runtime_dir/tovrin"
            failed=1
        fi
    fi
else
    echo "wayland: tovrin ended under weston:" >&2
    cat "$runtime_dir/tovrin.log" >&2
    failed=1
fi
exit $failed
