#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: a plain build with warnings as errors, the
# whole suite again under AddressSanitizer + UndefinedBehaviorSanitizer, every window-free test (the
# GUI is not built there) under ThreadSanitizer, and the window tests whose code crosses threads
# (the worker's delivery to the window thread, the upload thread) under ThreadSanitizer too,
# offscreen. After the plain tests the window tests that matter run again natively under a Wayland
# compositor (scripts/wayland-tests.sh). In between it builds the Debian package, validates it,
# and runs the unpacked program as an ordinary user (scripts/check-package.sh). Exits non-zero on
# any failure or sanitizer report.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export LSAN_OPTIONS=suppressions=$root/scripts/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$root/scripts/tsan.supp
jobs=$(nproc)

step() { printf '\n==== %s ====\n' "$*"; }
passed=0
# Runs ctest on one build tree and counts its tests; any failure ends the script (set -e).
run_ctest() {
  local log dir=$1
  shift
  log=$(mktemp)
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" "$@" 2>&1 | tee "$log"
  passed=$((passed + $(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -1)))
  rm -f "$log"
}

step "build (warnings as errors)"
bash scripts/build.sh build/ci -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVRIN_WERROR=ON
step "tests"
run_ctest build/ci

step "the monitor's systemd unit and alerting rules (systemd-analyze, promtool)"
bash scripts/check-monitor.sh --program build/ci/tovrinctl
passed=$((passed + 1))

step "window tests and the program under Wayland (weston, QT_QPA_PLATFORM=wayland)"
bash scripts/wayland-tests.sh build/ci
passed=$((passed + 1))

step "Debian package: build, validate, unpack, run as an ordinary user"
deb=$(bash scripts/package.sh build/package | tail -1)
bash scripts/check-package.sh "$deb" --build build/ci
passed=$((passed + 1))

step "build with AddressSanitizer + UndefinedBehaviorSanitizer"
bash scripts/build.sh build/asan -DCMAKE_BUILD_TYPE=Debug -DTOVRIN_WERROR=ON \
  -DTOVRIN_SANITIZE=address,undefined -DTOVRIN_BENCH=OFF
step "tests under AddressSanitizer + UndefinedBehaviorSanitizer"
# The monitor's junk-flood test fills its list with 65,536 fakes, whose scrapes take many times
# longer under the sanitizers than their time limit; its parts run here in tests of their own.
plain_only='-TovrinctlMonitorFloodTest.*'
# The monitor's alerting story waits out the rules' times (about 80 s) while the monitor idles; it
# runs in the plain build and under ThreadSanitizer (discovery reopened while scrapes run), not here.
GTEST_FILTER=$plain_only:TovrinctlMonitorAlertsTest.* run_ctest build/asan

step "build with ThreadSanitizer (window-free)"
bash scripts/build.sh build/tsan -DCMAKE_BUILD_TYPE=Debug -DTOVRIN_WERROR=ON \
  -DTOVRIN_SANITIZE=thread -DTOVRIN_GUI=OFF -DTOVRIN_BENCH=OFF
step "window-free tests under ThreadSanitizer"
GTEST_FILTER=$plain_only run_ctest build/tsan

# Only the window tests with cross-thread code: the whole window suite under TSan would cost more
# build and run time than it finds. Their threads hand calls to the window thread through
# PostToThreadOf (gui/GuiDelivery.h), which ThreadSanitizer can follow.
tsan_window_tests="finder_test_Ftovrin finder_test_FtovrinNetwork finder_test_FtovrinSettings upload_test_Fupload"
step "build the cross-thread window tests with ThreadSanitizer"
BUILD_TARGETS="$tsan_window_tests" bash scripts/build.sh build/tsan-gui -DCMAKE_BUILD_TYPE=Debug \
  -DTOVRIN_WERROR=ON -DTOVRIN_SANITIZE=thread -DTOVRIN_GUI=ON -DTOVRIN_BENCH=OFF
step "cross-thread window tests under ThreadSanitizer (offscreen)"
run_ctest build/tsan-gui -R "^(${tsan_window_tests// /|})\$"

step "fuzz the discovery reply reader (clang, libFuzzer, 20 s)"
CXX=clang++ BUILD_TARGETS=fuzz_ParseTovrinReply bash scripts/build.sh build/fuzz \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVRIN_FUZZ=ON -DTOVRIN_GUI=OFF -DTOVRIN_BENCH=OFF -DTOVRIN_WERROR=ON
build/fuzz/fuzz/fuzz_ParseTovrinReply -max_total_time=20 -print_final_stats=1 2>&1 | tail -4
passed=$((passed + 1))

printf '\nAll test runs passed (plain, Wayland, package, ASan+UBSan, TSan, TSan windows, fuzz).\n%d passed, 0 failed\n' "$passed"
