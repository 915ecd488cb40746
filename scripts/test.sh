#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: a plain build with warnings as errors, the
# whole suite again under AddressSanitizer + UndefinedBehaviorSanitizer, and every window-free
# test (the GUI is not built there) under ThreadSanitizer. Exits non-zero on any failure or sanitizer report.
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

step "build (warnings as errors)"
bash scripts/build.sh build/ci -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVRIN_WERROR=ON
step "tests"
ctest --test-dir build/ci --output-on-failure -j"$jobs"

step "build with AddressSanitizer + UndefinedBehaviorSanitizer"
bash scripts/build.sh build/asan -DCMAKE_BUILD_TYPE=Debug -DTOVRIN_WERROR=ON \
  -DTOVRIN_SANITIZE=address,undefined -DTOVRIN_BENCH=OFF
step "tests under AddressSanitizer + UndefinedBehaviorSanitizer"
ctest --test-dir build/asan --output-on-failure -j"$jobs"

step "build with ThreadSanitizer (window-free)"
bash scripts/build.sh build/tsan -DCMAKE_BUILD_TYPE=Debug -DTOVRIN_WERROR=ON \
  -DTOVRIN_SANITIZE=thread -DTOVRIN_GUI=OFF -DTOVRIN_BENCH=OFF
step "window-free tests under ThreadSanitizer"
ctest --test-dir build/tsan --output-on-failure -j"$jobs"

step "fuzz the discovery reply reader (clang, libFuzzer, 20 s)"
CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTOVRIN_FUZZ=ON \
  -DTOVRIN_GUI=OFF -DTOVRIN_BENCH=OFF -DTOVRIN_WERROR=ON >/dev/null
cmake --build build/fuzz --target fuzz_ParseTovrinReply -j"$jobs"
build/fuzz/fuzz/fuzz_ParseTovrinReply -max_total_time=20 -print_final_stats=1 2>&1 | tail -4

printf '\nAll test runs passed.\n'
