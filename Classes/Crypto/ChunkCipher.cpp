#include "ChunkCipher.h"

#include <algorithm>
#include <climits>
#include <openssl/evp.h>

namespace corvix {

namespace {

// Fetched once per process: an implicit fetch on every init costs more than encrypting a
// small file.
const EVP_CIPHER* fetchedCipher(const char* name) {
    return EVP_CIPHER_fetch(nullptr, name, nullptr);
}

bool isAesKeyLength(std::size_t keyLength) {
    return keyLength == 16 || keyLength == 24 || keyLength == 32;
}

// Nothing for another key length, and when OpenSSL cannot give the cipher (no provider has it).
const EVP_CIPHER* cbcCipherFor(std::size_t keyLength) {
    static const EVP_CIPHER* const aes128 = fetchedCipher("AES-128-CBC");
    static const EVP_CIPHER* const aes192 = fetchedCipher("AES-192-CBC");
    static const EVP_CIPHER* const aes256 = fetchedCipher("AES-256-CBC");
    switch (keyLength) {
    case 16:
        return aes128;
    case 24:
        return aes192;
    case 32:
        return aes256;
    default:
        return nullptr;
    }
}

// EVP takes int lengths; larger messages are fed in whole-block pieces below INT_MAX.
constexpr std::size_t kLargestPiece = std::size_t{1} << 30;

} // namespace

void ChunkCipher::ContextDeleter::operator()(evp_cipher_ctx_st* context) const {
    EVP_CIPHER_CTX_free(context);
}

ChunkCipher::ChunkCipher(Direction direction, const Bytes& key, const Bytes& iv)
    : direction_(direction), key_(key), iv_(iv), context_(EVP_CIPHER_CTX_new()) {}

ChunkCipher::~ChunkCipher() = default;

bool ChunkCipher::acceptsKeyMaterial(const Bytes& key, const Bytes& iv) {
    return !problemWith(key, iv);
}

std::optional<std::string> ChunkCipher::problemWith(const Bytes& key, const Bytes& iv) {
    if (!isAesKeyLength(key.size()) || iv.size() < kBlockSize) {
        return "the key must be 16, 24 or 32 bytes and the IV at least 16";
    }
    if (cbcCipherFor(key.size()) == nullptr) {
        return "OpenSSL cannot provide AES-" + std::to_string(key.size() * 8) +
               "-CBC (EVP_CIPHER_fetch failed)";
    }
    return std::nullopt;
}

std::optional<std::size_t> ChunkCipher::run(const std::uint8_t* input, std::size_t length,
                                            std::uint8_t* output) {
    if (!context_ || !acceptsKeyMaterial(key_, iv_)) {
        return std::nullopt;
    }
    const int encrypting = direction_ == Direction::Encrypt ? 1 : 0;
    if (EVP_CipherInit_ex(context_.get(), cbcCipherFor(key_.size()), nullptr, key_.data(),
                          iv_.data(), encrypting) != 1) {
        return std::nullopt;
    }
    std::size_t produced = 0;
    for (std::size_t offset = 0; offset < length;) {
        const std::size_t piece = std::min(length - offset, kLargestPiece);
        int count = 0;
        if (EVP_CipherUpdate(context_.get(), output + produced, &count, input + offset,
                             static_cast<int>(piece)) != 1) {
            return std::nullopt;
        }
        produced += static_cast<std::size_t>(count);
        offset += piece;
    }
    int last = 0;
    if (EVP_CipherFinal_ex(context_.get(), output + produced, &last) != 1) {
        return std::nullopt;
    }
    return produced + static_cast<std::size_t>(last);
}

} // namespace corvix
