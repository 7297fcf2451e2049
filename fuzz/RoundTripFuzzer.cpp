// decrypt(encrypt(x)) == x for every length and AES key size, with the sizes the format
// relies on, the length argument honoured, and a cut ciphertext refused.

#include "Crypto/AESUtils.h"
#include "Key/Encodings.h"

#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    static constexpr std::size_t kKeySizes[] = {16, 24, 32};
    const auto keySize = provider.PickValueInArray(kKeySizes);
    const corvix::Bytes key = provider.ConsumeBytes<std::uint8_t>(keySize);
    const corvix::Bytes iv = provider.ConsumeBytes<std::uint8_t>(16);
    const auto prefix = provider.ConsumeIntegral<std::uint16_t>();
    const corvix::Bytes plain = provider.ConsumeRemainingBytes<std::uint8_t>();
    if (key.size() != keySize || iv.size() != 16) {
        // Key material that is too short is refused, never read past.
        if (corvix::AESUtils::encryptBytes(plain, static_cast<std::int64_t>(plain.size()), key,
                                           iv)) {
            std::abort();
        }
        return 0;
    }

    const auto length = static_cast<std::int64_t>(plain.size());
    const auto sealed = corvix::AESUtils::encryptBytes(plain, length, key, iv);
    if (!sealed || sealed->size() != 16 * (plain.size() / 16 + 1)) {
        std::abort();
    }
    const auto opened =
        corvix::AESUtils::decryptBytes(*sealed, static_cast<std::int64_t>(sealed->size()), key, iv);
    if (opened != plain) {
        std::abort();
    }
    const auto sealedLength = static_cast<std::int64_t>(sealed->size());
    if (corvix::AESUtils::decryptBytes(*sealed, sealedLength - 1, key, iv) ||
        corvix::AESUtils::decryptBytes(*sealed, sealedLength + 1, key, iv) ||
        corvix::AESUtils::encryptBytes(plain, length + 1, key, iv)) {
        std::abort();
    }
    // Only the first `length` bytes count.
    const std::size_t part = plain.empty() ? 0 : prefix % (plain.size() + 1);
    if (corvix::AESUtils::encryptBytes(plain, static_cast<std::int64_t>(part), key, iv) !=
        corvix::AESUtils::encryptBytes(corvix::copyPrefix(part, plain),
                                       static_cast<std::int64_t>(part), key, iv)) {
        std::abort();
    }
    return 0;
}
