#include "ChunkCipher.h"

#include <algorithm>
#include <climits>
#include <openssl/evp.h>

namespace corvix {

namespace {

const EVP_CIPHER* cbcCipherFor(std::size_t keyLength) {
    switch (keyLength) {
    case 16:
        return EVP_aes_128_cbc();
    case 24:
        return EVP_aes_192_cbc();
    case 32:
        return EVP_aes_256_cbc();
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
    return cbcCipherFor(key.size()) != nullptr && iv.size() >= kBlockSize;
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
