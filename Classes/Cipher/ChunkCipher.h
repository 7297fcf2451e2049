#pragma once

#include <corvix/KeyMaterial.h>
#include <corvix/Outcome.h>
#include <cstddef>
#include <cstdint>
#include <memory>

struct evp_cipher_ctx_st;

namespace corvix {

/// AES-CBC with PKCS#7 padding over one whole message at a time, each starting from the key
/// material's IV. The key length picks AES-128, AES-192 or AES-256. One instance keeps its
/// OpenSSL context for many messages (one per chunk of a file); it is not shared between
/// threads.
class ChunkCipher {
public:
    enum class Direction { Encrypt, Decrypt };

    /// Overhead a message may gain: output buffers need the input length plus this.
    static constexpr std::size_t kBlockSize = 16;

    /// `material` must outlive the cipher.
    ChunkCipher(Direction direction, const KeyMaterial& material);
    ~ChunkCipher();
    ChunkCipher(const ChunkCipher&) = delete;
    ChunkCipher& operator=(const ChunkCipher&) = delete;

    /// Whether OpenSSL provides the cipher for this material's key size (Errc::cipherUnavailable
    /// with its name when it does not).
    [[nodiscard]] static Outcome<> available(const KeyMaterial& material);

    /// Runs `length` bytes from `input` through the cipher into `output`, which must hold
    /// length + kBlockSize bytes, starting from `iv` (16 bytes) when given. Returns the count
    /// produced; fails with Errc::cipherUnavailable, or Errc::chunkDoesNotDecrypt when a
    /// decryption input is not whole blocks or its padding does not verify.
    [[nodiscard]] Outcome<std::size_t> run(const std::uint8_t* input, std::size_t length,
                                           std::uint8_t* output, const std::uint8_t* iv = nullptr);

private:
    struct ContextDeleter {
        void operator()(evp_cipher_ctx_st* context) const;
    };

    Direction direction_;
    const KeyMaterial& material_;
    std::unique_ptr<evp_cipher_ctx_st, ContextDeleter> context_;
};

} // namespace corvix
