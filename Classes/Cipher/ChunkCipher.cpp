#include "Cipher/ChunkCipher.h"

#include <algorithm>
#include <openssl/evp.h>
#include <string>

namespace corvix {

namespace {

// Nothing when OpenSSL cannot give the cipher (no provider has it). Fetched once per process: an
// implicit fetch on every init costs more than encrypting a small file.
const EVP_CIPHER* cbcCipherFor(std::size_t keyLength) {
    static const EVP_CIPHER* const aes128 = EVP_CIPHER_fetch(nullptr, "AES-128-CBC", nullptr);
    static const EVP_CIPHER* const aes192 = EVP_CIPHER_fetch(nullptr, "AES-192-CBC", nullptr);
    static const EVP_CIPHER* const aes256 = EVP_CIPHER_fetch(nullptr, "AES-256-CBC", nullptr);
    return keyLength == 16 ? aes128 : keyLength == 24 ? aes192 : aes256;
}

Error unavailable(std::size_t keyLength) {
    return Error::of(Errc::cipherUnavailable, {},
                     "OpenSSL cannot provide AES-" + std::to_string(keyLength * 8) +
                         "-CBC (EVP_CIPHER_fetch failed)");
}

Error refused() {
    return Error::of(Errc::chunkDoesNotDecrypt, {}, "does not decrypt");
}

// EVP takes int lengths; larger messages are fed in whole-block pieces below INT_MAX.
constexpr std::size_t kLargestPiece = std::size_t{1} << 30;

} // namespace

void ChunkCipher::ContextDeleter::operator()(evp_cipher_ctx_st* context) const {
    EVP_CIPHER_CTX_free(context);
}

ChunkCipher::ChunkCipher(Direction direction, const KeyMaterial& material)
    : direction_(direction), material_(material), context_(EVP_CIPHER_CTX_new()) {}

ChunkCipher::~ChunkCipher() = default;

Outcome<> ChunkCipher::available(const KeyMaterial& material) {
    return cbcCipherFor(material.key().size()) != nullptr ? Outcome<>()
                                                          : unavailable(material.key().size());
}

Outcome<std::size_t> ChunkCipher::run(const std::uint8_t* input, std::size_t length,
                                      std::uint8_t* output, const std::uint8_t* iv) {
    const EVP_CIPHER* cipher = cbcCipherFor(material_.key().size());
    const int encrypting = direction_ == Direction::Encrypt ? 1 : 0;
    if (!context_ || cipher == nullptr ||
        EVP_CipherInit_ex(context_.get(), cipher, nullptr, material_.key().data(),
                          iv != nullptr ? iv : material_.iv().data(), encrypting) != 1) {
        return unavailable(material_.key().size());
    }
    std::size_t produced = 0;
    for (std::size_t offset = 0; offset < length;) {
        const std::size_t piece = std::min(length - offset, kLargestPiece);
        int count = 0;
        if (EVP_CipherUpdate(context_.get(), output + produced, &count, input + offset,
                             static_cast<int>(piece)) != 1) {
            return refused();
        }
        produced += static_cast<std::size_t>(count);
        offset += piece;
    }
    int last = 0;
    if (EVP_CipherFinal_ex(context_.get(), output + produced, &last) != 1) {
        return refused();
    }
    return produced + static_cast<std::size_t>(last);
}

} // namespace corvix
