#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (CORVIX_FUZZ=ON) into build-fuzz, replays each seed
# corpus in fuzz/corpus/NAME, then fuzzes each target for FUZZ_SECONDS (default 30) seconds.
# A crash or a failed check stops the script with a non-zero status; the input is left in
# build-fuzz/artifacts/, to be fixed and then added to fuzz/corpus/NAME.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${FUZZ_SECONDS:-30}
build="$PWD/build-fuzz"
targets=(decrypt_file stream_reader hex base64 round_trip)

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVIX_FUZZ=ON \
    -DCORVIX_BUILD_GUI=OFF -DCORVIX_BUILD_TESTS=OFF -DCORVIX_BUILD_RUNTIME=OFF > /dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]/#/fuzz_}"

export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p "$build/artifacts" "$build/logs"
cd "$build"
for name in "${targets[@]}"; do
    fuzzer="$build/fuzz/fuzz_$name"
    seeds="$OLDPWD/fuzz/corpus/$name"
    work="$build/corpus/$name"
    log="$build/logs/$name.log"
    mkdir -p "$work"
    if ! "$fuzzer" -runs=0 "$seeds" > "$log" 2>&1 ||
        ! "$fuzzer" -max_total_time="$seconds" -artifact_prefix="$build/artifacts/$name-" \
            -print_final_stats=1 "$work" "$seeds" >> "$log" 2>&1; then
        tail -n 60 "$log"
        echo "fuzz_$name FAILED; the input is in $build/artifacts/" >&2
        exit 1
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    echo "fuzz_$name: seed corpus replayed, then ${runs:-?} runs in ${seconds} s, no crash"
done
