// decryptFileToBytes over arbitrary bytes in a file, checked against a plain reading of the
// format: skip to the first 0x0D, cut the rest into 1048592-byte chunks, decrypt each alone.

#include "Crypto/AESUtils.h"
#include "Crypto/FileCipher.h"
#include "FuzzFile.h"
#include "Key/CorvixKey.h"

#include <algorithm>
#include <cstdlib>

namespace {

std::optional<corvix::Bytes> readingByHand(const std::uint8_t* data, std::size_t size,
                                           const corvix::Bytes& key, const corvix::Bytes& iv) {
    const auto* end = data + size;
    const auto* terminator = std::find(data, end, corvix::FileCipher::kHeaderEnd);
    if (terminator == end) {
        return std::nullopt;
    }
    corvix::Bytes plain;
    for (const auto* chunk = terminator + 1; chunk < end;
         chunk += corvix::FileCipher::kCipherChunkSize) {
        const auto length =
            std::min<std::size_t>(corvix::FileCipher::kCipherChunkSize, end - chunk);
        const corvix::Bytes sealed(chunk, chunk + length);
        const auto opened =
            corvix::AESUtils::decryptBytes(sealed, static_cast<std::int64_t>(length), key, iv);
        if (!opened) {
            return std::nullopt;
        }
        plain.insert(plain.end(), opened->begin(), opened->end());
    }
    return plain;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const corvix::Bytes key = corvix::CorvixKey::aesKey();
    static const corvix::Bytes iv = corvix::CorvixKey::ivBytes();
    FuzzFile& file = FuzzFile::instance();
    if (!file.write(data, size)) {
        return 0;
    }
    const auto plain = corvix::AESUtils::decryptFileToBytes(file.path(), key, iv);
    if (plain != readingByHand(data, size, key, iv)) {
        std::abort();
    }
    return 0;
}
