#!/usr/bin/env bash
# Installs the build dependencies, builds Corvix and runs every test through CTest, then again
# under the sanitizers, then the fuzzers.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
ctest --test-dir build --output-on-failure -j "$(nproc)"

# Then the same suite built with AddressSanitizer + UndefinedBehaviorSanitizer (build-asan),
# and each libFuzzer target over its seed corpus and for 30 s (build-fuzz).
bash tests/reliability/run-sanitized.sh
bash fuzz/run-fuzzers.sh
