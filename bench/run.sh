#!/usr/bin/env bash
# Measures corvix-cli against the machine's own limits and the openssl command, in one run.
# Prints medians of several runs and the ratios the performance goals are stated in.
#
#   bash bench/run.sh [SIZE_MIB] [RUNS]      (defaults: 1024 MiB, 5 runs)
#
# Work files go to tmpfs (/dev/shm) when there is room, so the disk does not dominate.
set -euo pipefail
cd "$(dirname "$0")/.."

size_mib=${1:-1024}
runs=${2:-5}

cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DCORVIX_BUILD_GUI=OFF \
    -DCORVIX_BUILD_TESTS=OFF -DCORVIX_BUILD_BENCH=ON >/dev/null
cmake --build build-bench -j "$(nproc)" >/dev/null
cli=$PWD/build-bench/cli/corvix-cli

work=/dev/shm/corvix-bench.$$
[[ -d /dev/shm && -w /dev/shm ]] || work=$PWD/build-bench/work.$$
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
cd "$work"

key=$("$cli" key | sed -n 's/^key://p')
iv=$("$cli" key | sed -n 's/^iv://p')
cores=$(nproc)

# median_seconds SETUP COMMAND: runs SETUP (untimed) then COMMAND, $runs times; prints the median.
# One untimed run first: on a virtual machine the first touch of freshly freed memory is slow,
# and it would land on whichever command happens to run first.
median_seconds() {
    local setup=$1 command=$2 times=() start end
    eval "$setup"
    eval "$command" >/dev/null
    for ((i = 0; i < runs; i++)); do
        eval "$setup"
        start=$EPOCHREALTIME
        eval "$command" >/dev/null
        end=$EPOCHREALTIME
        times+=("$(echo "$end - $start" | bc -l)")
    done
    printf '%s\n' "${times[@]}" | sort -g | awk '{a[NR]=$1} END {printf "%.3f", (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'
}
ratio() { echo "scale=2; $1 / $2" | bc -l; }
row() { printf '  %-44s %8s s\n' "$1" "$2"; }

echo "machine: $cores cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs)"
echo "chunk encryption: $(sed -n 's/^CORVIX_ENCRYPTION_BACKEND:INTERNAL=//p' "$OLDPWD/build-bench/CMakeCache.txt")"
echo "work folder: $work; $runs runs each, medians"
echo

head -c $((size_mib * 1048576)) /dev/urandom >big
"$cli" encrypt big >/dev/null
mkdir -p out dec

dd_copy=$(median_seconds "rm -f out/copy" "dd if=big of=out/copy bs=1M status=none")

echo "1. encrypt ${size_mib} MiB"
enc=$(median_seconds "rm -f out/big.enc" "$cli encrypt -o out big")
ossl_enc=$(median_seconds "rm -f out/big.ossl" "openssl enc -aes-256-cbc -K $key -iv $iv -in big -out out/big.ossl")
openssl genpkey -algorithm ed25519 -out sign.pem
listed=$(median_seconds "rm -f out/big.enc out/assets.manifest" "$cli encrypt -o out --manifest out/assets.manifest --sign-key sign.pem big")
row "corvix-cli encrypt" "$enc"
row "corvix-cli encrypt --manifest --sign-key" "$listed"
row "openssl enc -aes-256-cbc" "$ossl_enc"
row "dd bs=1M copy" "$dd_copy"
echo "  corvix / dd = $(ratio "$enc" "$dd_copy")   (goal <= 1.25)"
echo "  corvix / openssl = $(ratio "$enc" "$ossl_enc")   (goal <= 0.2)"
echo "  with manifest / without = $(ratio "$listed" "$enc")   (goal <= 1.3)"
echo

echo "2. decrypt ${size_mib} MiB"
dec=$(median_seconds "rm -f dec/big" "$cli decrypt -o dec big.enc")
ossl_dec=$(median_seconds "rm -f dec/big.plain" "openssl enc -d -aes-256-cbc -K $key -iv $iv -in out/big.ossl -out dec/big.plain")
dd_enc=$(median_seconds "rm -f dec/copy" "dd if=big.enc of=dec/copy bs=1M status=none")
cmp -s big dec/big || { echo "decrypted file differs from the source" >&2; exit 1; }
row "corvix-cli decrypt" "$dec"
row "openssl enc -d -aes-256-cbc" "$ossl_dec"
row "dd bs=1M copy" "$dd_enc"
echo "  corvix / dd = $(ratio "$dec" "$dd_enc")   (goal <= 1.3)"
echo "  corvix / openssl = $(ratio "$dec" "$ossl_dec")"
# Checking against a manifest reads and hashes the ciphertext; it needs no key.
"$cli" manifest -o big.manifest big.enc >/dev/null
verify_listed=$(median_seconds ":" "$cli verify --manifest big.manifest big.enc")
cat_file=$(median_seconds ":" "cat big.enc")
sha=$(median_seconds ":" "openssl dgst -sha256 big.enc")
row "corvix-cli verify --manifest (no key)" "$verify_listed"
row "cat of the file" "$cat_file"
row "openssl dgst -sha256 of the file" "$sha"
row "corvix-cli verify (decrypts)" "$(median_seconds ":" "$cli verify big.enc")"
echo "  verify --manifest / openssl dgst = $(ratio "$verify_listed" "$sha")"
echo
rm -f out/* dec/*

echo "3. small files: corvix-cli encrypt against cp -r of the same tree"
# calls_per_file COUNT COMMAND: the system calls COMMAND makes (all its threads, strace -c),
# divided by the COUNT files it handles; "-" without strace.
calls_per_file() {
    command -v strace >/dev/null || { echo -; return; }
    strace -f -c -o calls.txt bash -c "exec $2" >/dev/null
    awk -v n="$1" '$NF == "total" {printf "%.1f", $4 / n}' calls.txt
}
# small_case COUNT KIB HOW: COUNT files of KIB KiB in small/, encrypted as HOW says ("named":
# every file named on the command line; "tree": the folder walked with -r) and copied by cp -r.
small_case() {
    local count=$1 kib=$2 how=$3 args enc copy
    mkdir -p small
    head -c $((count * kib * 1024)) /dev/urandom |
        split -b "${kib}K" -a 6 -d --additional-suffix=.json - small/f
    if [[ $how == named ]]; then args="-o small-out small/*"; else args="-r -o small-out small"; fi
    enc=$(median_seconds "rm -rf small-out; mkdir small-out" "$cli encrypt $args")
    copy=$(median_seconds "rm -rf small-cp" "cp -r small small-cp")
    rm -rf small-out small-cp
    printf '  %-44s %8s s  %5s calls a file\n' "$count x $kib KiB, corvix-cli encrypt ($how)" "$enc" \
        "$(rm -rf small-out; calls_per_file "$count" "$cli encrypt $args")"
    printf '  %-44s %8s s  %5s calls a file\n' "$count x $kib KiB, cp -r" "$copy" \
        "$(rm -rf small-cp; calls_per_file "$count" "cp -r small small-cp")"
    echo "  corvix / cp = $(ratio "$enc" "$copy")   (goal <= 1.6)"
    rm -rf small small-out small-cp calls.txt
}
small_case 2000 16 named
small_case 20000 4 tree
echo

echo "4. peak resident memory and threads of corvix-cli encrypt"
# peak ARGS...: runs corvix-cli encrypt ARGS; prints its peak resident KiB and, sampled from
# /proc while it runs, its peak thread count.
peak() {
    /usr/bin/time -f %M -o rss "$cli" encrypt "$@" >/dev/null &
    local timer=$! pid="" threads=0 count
    while kill -0 "$timer" 2>/dev/null; do
        pid=${pid:-$(pgrep -P "$timer" || true)}
        count=$(awk '/^Threads:/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
        ((count > threads)) && threads=$count
        sleep 0.01
    done
    wait "$timer"
    echo "$(tail -1 rss) $threads"
}
memory_row() {
    read -r kib threads <<<"$2"
    printf '  %-44s %8s MiB  %4s threads\n' "$1" "$(echo "scale=1; $kib / 1024" | bc)" "$threads"
}
rm -f out/big.enc
memory_row "${size_mib} MiB file" "$(peak -o out big)"
rm -f out/big.enc big.enc
truncate -s 4G huge
memory_row "4 GiB file" "$(peak -o out huge)"
rm -f huge out/huge.enc
mkdir -p many
for ((i = 0; i < 64; i++)); do head -c 20000000 /dev/urandom >"many/f$i"; done
for jobs in 1 2 64; do
    rm -rf many-out
    memory_row "64 files of 20 MB, -j $jobs" "$(peak -j "$jobs" -o many-out many/*)"
done
rm -rf many many-out
echo "  (goal < 32 MiB for each)"
echo

echo "5. the cipher alone: byte-array wrappers against a bare EVP call (1 MiB), and 16 chunks"
echo "   of 1 MiB through each backend (and the multi-buffer library's own CBC decryption)"
"$OLDPWD/build-bench/bench/cipher_bench" --benchmark_min_time=0.5 2>/dev/null | grep -E '^BM_'

echo
echo "6. the window encrypting through its button (offscreen, progress shown): ${size_mib} MiB,"
echo "   then 2000 files of 16 KiB"
# The window needs its own build: the one above leaves the GUI out.
repo=$(dirname "$(dirname "$(dirname "$cli")")")
cmake -S "$repo" -B "$repo/build-bench-gui" -DCMAKE_BUILD_TYPE=Release -DCORVIX_BUILD_TESTS=OFF \
    -DCORVIX_BUILD_BENCH=ON >/dev/null
cmake --build "$repo/build-bench-gui" -j "$cores" --target window_gap >/dev/null
# Its standard output also carries the screen's own lines; the figures start with two spaces.
for files in "$size_mib $work 1" "16K $work 2000"; do
    # shellcheck disable=SC2086 # the arguments are meant to split
    QT_QPA_PLATFORM=offscreen "$repo/build-bench-gui/bench/window_gap" $files 2>/dev/null | grep '^  '
done

echo
echo "7. reading in place (EncryptedFileReader) against decrypting whole, ${size_mib} MiB"
benches=$(dirname "$(dirname "$cli")")/bench
peak_of() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }
mib() { echo "scale=1; $1 / 1024" | bc; }
"$cli" encrypt -f big >/dev/null
read -r random_median random_slowest < <("$benches/reader_bench" random big.enc 200)
printf '  %-44s %8s ms (slowest %s ms; goal < 2)\n' "open and read 4 KiB at a random offset" \
    "$random_median" "$random_slowest"
"$cli" manifest -o big.manifest big.enc >/dev/null
read -r random_median random_slowest < <("$benches/reader_bench" random big.enc 200 big.manifest)
printf '  %-44s %8s ms (slowest %s ms; goal < 2)\n' "the same, each chunk checked with the manifest" \
    "$random_median" "$random_slowest"
printf '  %-44s %8s MiB (goal < 8)\n' "peak memory, a process doing only that" \
    "$(mib "$(peak_of "$benches/reader_bench" random big.enc 1)")"
printf '  %-44s %8s s, %s MiB\n' "decryptFileToBytes, time and peak memory" \
    "$("$benches/reader_bench" to-bytes big.enc)" \
    "$(mib "$(peak_of "$benches/reader_bench" to-bytes big.enc)")"
rates() { for ((i = 0; i < runs; i++)); do "$benches/reader_bench" "$1" big.enc; done | sort -g |
    awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
sequential=$(rates sequential)
whole=$(rates decrypt)
printf '  %-44s %8s MB/s\n' "whole file through the reader" "$sequential"
printf '  %-44s %8s MB/s\n' "FileCipher decryption into nothing" "$whole"
echo "  reader / decrypt = $(ratio "$sequential" "$whole")   (goal >= 0.8)"
rm -f big.enc big.manifest
if [[ -x $benches/utils_bench ]]; then
    echo "  CorvixUtils on a 100 MiB asset (peak memory of a process doing one call):"
    mkdir -p assets
    "$benches/utils_bench" make assets
    for call in text text-whole image image-whole; do
        printf '    %-42s %8s MiB\n' "$call" \
            "$(mib "$(peak_of "$benches/utils_bench" "$call" "assets/${call%-whole}.enc")")"
    done
    echo "    (-whole: the plaintext in memory first, as these calls worked before)"
    rm -rf assets
fi
