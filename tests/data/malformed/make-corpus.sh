#!/usr/bin/env bash
# Regenerates tests/data/malformed/ from scratch with the openssl command only, so the corpus
# does not depend on the code it tests. The key and IV come from `corvix-cli key`.
#
#   bash tests/data/malformed/make-corpus.sh build/cli/corvix-cli
#
# Every file holds one fault; the table of expected outcomes is tests/data/malformed/README.md.
# For each file that reads, expected/NAME (NAME without .enc) is what `openssl enc -d` makes of
# its body, the independent answer the tests compare against.
set -euo pipefail

cli=${1:?usage: make-corpus.sh PATH/TO/corvix-cli}
out="$(cd "$(dirname "$0")" && pwd)"
key=$("$cli" key | sed -n 's/^key://p')
iv=$("$cli" key | sed -n 's/^iv://p')
other_key=$(printf 'not the built-in key' | openssl dgst -sha256 -r | cut -d' ' -f1)
zero_iv=00000000000000000000000000000000

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

enc() { openssl enc -aes-256-cbc -K "$key" -iv "$iv"; }
enc_raw() { openssl enc -aes-256-cbc -K "$key" -iv "$iv" -nopad; }
# The body of FILE: everything after its first carriage return.
body_of() {
    local at
    at=$(LC_ALL=C grep -abo $'\r' "$1" | head -1 | cut -d: -f1)
    tail -c +$((at + 2)) "$1"
}
# flip FILE OFFSET MASK: xor one byte of FILE in place.
flip() {
    local value
    value=$(od -An -tu1 -j "$2" -N1 "$1" | tr -d ' ')
    printf "\\$(printf %o $((value ^ $3)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}
# repeat TEXT COUNT
repeat() { local i; for ((i = 0; i < $2; i++)); do printf '%s' "$1"; done; }
# Every byte value except 0x0D, in order.
all_but_cr() { local b; for ((b = 0; b < 256; b++)); do ((b == 13)) || printf "\\$(printf %o $b)"; done; }

rm -rf "$out"/*.enc "$out"/plain.txt "$out"/expected
mkdir -p "$out/expected"
cd "$out"

printf 'Corvix test corpus: one hundred bytes of plain ASCII text, and every valid case here reads it back.\n' > plain.txt
[[ $(wc -c < plain.txt) == 100 ]] || { echo "plain.txt must be 100 bytes" >&2; exit 1; }
printf 'quorveth' | enc | base64 -w0 > "$work/H"
printf '\r' > "$work/CR"
enc < plain.txt > "$work/E"
# Several files rely on the ciphertext holding no carriage return of its own.
if grep -q $'\r' "$work/E"; then echo "the ciphertext holds a 0x0D: change plain.txt" >&2; exit 1; fi
H="$work/H" CR="$work/CR" E="$work/E"

: > 01-empty.enc
cat "$H" > 02-header-no-cr.enc
head -c 4096 /dev/zero | tr '\0' A > 03-no-cr-at-all.enc
{ cat "$H"; printf '\n'; cat "$E"; } > 04-lf-instead-of-cr.enc
cat "$CR" > 05-cr-only.enc
cat "$H" "$CR" > 06-header-and-cr-only.enc
cat "$H" "$CR" "$E" > 07-valid.enc
cat "$CR" "$E" > 08-cr-at-0-valid-body.enc
{ cat "$CR"; repeat 'garbage!' 4; } > 09-cr-at-0-garbage.enc
{ cat "$H" "$CR"; printf '\n'; cat "$E"; } > 10-crlf-after-header.enc
cat "$H" "$CR" "$CR" "$E" > 11-two-cr.enc
{ printf 'this is *not* base64!'; cat "$CR" "$E"; } > 12-header-not-base64.enc
{ all_but_cr; cat "$CR" "$E"; } > 13-header-binary.enc
head -c -1 07-valid.enc > 14-body-short-by-1.enc
head -c -16 07-valid.enc > 15-body-short-by-16.enc
{ cat "$H" "$CR"; head -c 15 "$E"; } > 16-body-15-bytes.enc
{ cat "$H" "$CR"; head -c 16 "$E"; } > 17-body-one-block.enc
{ cat "$H" "$CR"; { head -c 96 plain.txt; printf 'fifteen bytes..\000'; } | enc_raw; } > 18-padding-zero.enc
{ cat "$H" "$CR"; { head -c 96 plain.txt; printf 'fifteen bytes..\021'; } | enc_raw; } > 19-padding-seventeen.enc
{ cat "$H" "$CR"; { head -c 96 plain.txt; printf 'thirteen byte\002\003\003'; } | enc_raw; } > 20-padding-inconsistent.enc
cp 07-valid.enc 21-padding-byte-flipped.enc && flip 21-padding-byte-flipped.enc $((25 + 95)) 0x01
cp 07-valid.enc 22-first-block-flipped.enc && flip 22-first-block-flipped.enc 25 0x80
{ cat 07-valid.enc; printf 'seven!!'; } > 23-trailing-7-bytes.enc
{ cat 07-valid.enc; repeat 'garbage!' 2; } > 24-trailing-block.enc
cat 07-valid.enc "$E" > 25-two-chunks-joined.enc
{ cat "$H" "$CR"; openssl enc -aes-256-cbc -K "$other_key" -iv "$iv" < plain.txt; } > 26-wrong-key.enc
{ cat "$H" "$CR"; openssl enc -aes-256-cbc -K "$key" -iv "$zero_iv" < plain.txt; } > 27-wrong-iv.enc
printf 'a text file with Windows line ends\r\nis not an encrypted file\r\n' > 28-plain-text-crlf.enc
{ printf '\211PNG\r\n\032\n'; repeat 'PNG data' 5; printf '12345'; } > 29-png-signature.enc
{ head -c 102400 /dev/zero | tr '\0' A; cat "$CR" "$E"; } > 30-header-100-kib.enc
{ head -c 65535 /dev/zero | tr '\0' A; cat "$CR" "$E"; } > 31-cr-at-byte-65535.enc
{ head -c 65536 /dev/zero | tr '\0' A; cat "$CR" "$E"; } > 32-cr-at-byte-65536.enc
{ cat "$H"; printf '\n'; cat "$CR" "$E"; } > 33-lf-before-cr.enc
{ printf 'quorvetx' | enc | base64 -w0; cat "$CR" "$E"; } > 34-header-other-text.enc

# The independent answer for every file whose body openssl decrypts.
for file in *.enc; do
    if grep -q $'\r' "$file" && body_of "$file" > "$work/body" &&
        openssl enc -d -aes-256-cbc -K "$key" -iv "$iv" < "$work/body" > "$work/plain" 2>/dev/null; then
        cp "$work/plain" "expected/${file%.enc}"
    fi
done
# An empty body is an empty source (no chunk at all), which openssl, made for single messages,
# refuses to decrypt.
: > expected/05-cr-only
: > expected/06-header-and-cr-only
ls -l expected
