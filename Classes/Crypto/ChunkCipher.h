#pragma once

#include "../Key/Bytes.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct evp_cipher_ctx_st;

namespace corvix {

/// AES-CBC with PKCS#7 padding over one whole message at a time, always starting from the
/// same IV. The key length picks AES-128, AES-192 or AES-256; only the first 16 IV bytes count.
/// One instance keeps its OpenSSL context for many messages (one per chunk of a file); it is
/// not shared between threads.
class ChunkCipher {
public:
    enum class Direction { Encrypt, Decrypt };

    /// Overhead a message may gain: output buffers need the input length plus this.
    static constexpr std::size_t kBlockSize = 16;

    ChunkCipher(Direction direction, const Bytes& key, const Bytes& iv);
    ~ChunkCipher();
    ChunkCipher(const ChunkCipher&) = delete;
    ChunkCipher& operator=(const ChunkCipher&) = delete;

    /// A key of 16, 24 or 32 bytes and an IV of at least 16 bytes, with the cipher for that key
    /// available from OpenSSL.
    [[nodiscard]] static bool acceptsKeyMaterial(const Bytes& key, const Bytes& iv);
    /// Why acceptsKeyMaterial says no, in words; nothing when it says yes.
    [[nodiscard]] static std::optional<std::string> problemWith(const Bytes& key, const Bytes& iv);

    /// Runs `length` bytes from `input` through the cipher into `output`, which must hold
    /// length + kBlockSize bytes. Returns the count produced, or nothing when the key material
    /// is not accepted, a decryption input is not whole blocks, or the padding does not verify.
    [[nodiscard]] std::optional<std::size_t> run(const std::uint8_t* input, std::size_t length,
                                                 std::uint8_t* output);

private:
    struct ContextDeleter {
        void operator()(evp_cipher_ctx_st* context) const;
    };

    Direction direction_;
    Bytes key_;
    Bytes iv_;
    std::unique_ptr<evp_cipher_ctx_st, ContextDeleter> context_;
};

} // namespace corvix
