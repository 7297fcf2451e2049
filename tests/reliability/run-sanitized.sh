#!/usr/bin/env bash
# Builds the core, corvix-cli, the runtime and their tests with AddressSanitizer and
# UndefinedBehaviorSanitizer (CORVIX_SANITIZE=ON) into build-asan and runs them there; a
# sanitizer report fails the test it comes from. The window and the packaging tests stay with
# the normal build. The file layer is built on its portable paths alone (CORVIX_PORTABLE_FS: no
# openat2, O_TMPFILE, O_PATH or /proc, as on macOS and the BSDs), which the normal build leaves
# out, so the suite runs once over each.
set -euo pipefail
cd "$(dirname "$0")/../.."

build="$PWD/build-asan"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" \
    -DCORVIX_SANITIZE=ON -DCORVIX_PORTABLE_FS=ON -DCORVIX_BUILD_GUI=OFF > /dev/null
cmake --build "$build" -j "$(nproc)"

export ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:check_initialization_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j "$(nproc)" -LE packaging
