#!/usr/bin/env bash
# Installs the build dependencies, builds Corvix and runs every test through CTest, then again on
# the file layer's portable paths and under the sanitizers, then the fuzzers.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
ctest --test-dir build --output-on-failure -j "$(nproc)"

# Then the file layer's portable paths alone (CORVIX_PORTABLE_FS: no openat2, O_TMPFILE, O_PATH
# or /proc, as on macOS and the BSDs) under the tests that write through it (label "files"), built
# lean: -O1, only those programs (build-portable).
cmake -S . -B build-portable -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-O1 \
    -DCORVIX_PORTABLE_FS=ON -DCORVIX_BUILD_GUI=OFF -DCORVIX_BUILD_RUNTIME=OFF \
    -DCORVIX_WITH_IPSEC_MB=OFF > /dev/null
cmake --build build-portable -j "$(nproc)" --target corvix-cli atomic_writer_tests format_tests \
    cli_tests reliability_tests hardening_tests
ctest --test-dir build-portable --output-on-failure -j "$(nproc)" -L files

# Then the same suite built with AddressSanitizer + UndefinedBehaviorSanitizer (build-asan),
# and each libFuzzer target over its seed corpus and for 30 s (build-fuzz).
bash tests/reliability/run-sanitized.sh
bash fuzz/run-fuzzers.sh
