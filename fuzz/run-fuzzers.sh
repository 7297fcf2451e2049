#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (CORVIX_FUZZ=ON) into build-fuzz, replays each seed
# corpus in fuzz/corpus/NAME, then fuzzes each target for FUZZ_SECONDS (default 30) seconds.
# A crash or a failed check stops the script with a non-zero status; the input is left in
# build-fuzz/artifacts/, to be fixed and then added to fuzz/corpus/NAME.
set -euo pipefail
cd "$(dirname "$0")/.."
build="$PWD/build-fuzz"
trap 'rm -f /dev/shm/corvix-fuzz-*' EXIT
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVIX_FUZZ=ON \
    -DCORVIX_BUILD_GUI=OFF -DCORVIX_BUILD_TESTS=OFF -DCORVIX_BUILD_RUNTIME=OFF > /dev/null
cmake --build "$build" -j "$(nproc)" --target fuzz_decrypt fuzz_round_trip fuzz_encodings fuzz_manifest
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p "$build/artifacts" "$build"/corpus/{decrypt,round_trip,encodings,manifest}
for name in decrypt round_trip encodings manifest; do
    fuzzer="$build/fuzz/fuzz_$name" seeds="fuzz/corpus/$name" log="$build/fuzz/$name.log"
    { "$fuzzer" -runs=0 "$seeds" && "$fuzzer" -max_total_time="${FUZZ_SECONDS:-30}" \
        -artifact_prefix="$build/artifacts/$name-" "$build/corpus/$name" "$seeds"; } >"$log" 2>&1 ||
        { tail -n 60 "$log"; echo "fuzz_$name FAILED; the input is in $build/artifacts/" >&2; exit 1; }
    echo "fuzz_$name: seed corpus replayed, then $(tail -n 1 "$log")"
done
