#!/usr/bin/env bash
# Builds the whole project (core, corvix-cli, the window, every test) with AddressSanitizer and
# UndefinedBehaviorSanitizer (CORVIX_SANITIZE=ON) into build-asan and runs the suite there. A
# sanitizer report fails the test it comes from.
set -euo pipefail
cd "$(dirname "$0")/../.."

build="$PWD/build-asan"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVIX_SANITIZE=ON > /dev/null
cmake --build "$build" -j "$(nproc)"

export ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:check_initialization_order=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
