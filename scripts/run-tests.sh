#!/usr/bin/env bash
# Installs the build dependencies, builds Corvix and runs every test through CTest; then the
# suite again under the sanitizers on the file layer's portable paths, then the fuzzers.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
ctest --test-dir build --output-on-failure -j "$(nproc)"

# The same suite (but the window and the packaging tests) with AddressSanitizer and
# UndefinedBehaviorSanitizer, built with the file layer's portable paths alone (build-asan).
bash tests/reliability/run-sanitized.sh
# Each libFuzzer target over its seed corpus, then for 10 s (build-fuzz).
FUZZ_SECONDS=${FUZZ_SECONDS:-10} bash fuzz/run-fuzzers.sh
