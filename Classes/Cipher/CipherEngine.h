#pragma once

#include "Cipher/ChunkCipher.h"

#include <corvix/KeyMaterial.h>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace corvix {

struct CipherBackend;

/// One chunk to run through the cipher on its own, in place: AES-CBC from the key material's
/// IV, with PKCS#7 padding, exactly as ChunkCipher does for one message.
struct CipherJob {
    ChunkCipher::Direction direction = ChunkCipher::Direction::Encrypt;
    const KeyMaterial* material = nullptr;
    const CipherBackend* backend = nullptr;
    std::uint8_t* data = nullptr; ///< holds length + ChunkCipher::kBlockSize bytes
    std::size_t length = 0;
    /// The count produced at the start of data; nothing when the cipher failed.
    std::optional<std::size_t> produced;
    bool done = false;
};

/// Runs one job on the calling thread with OpenSSL: the count produced, or nothing.
[[nodiscard]] std::optional<std::size_t> runAlone(const CipherJob& job);

/// Runs jobs through one backend's cipher, as a stream: jobs go in one by one, and each comes
/// out finished (with `produced` set) once its cipher work is done, which for a multi-buffer
/// cipher is after the work of the jobs beside it. An engine keeps its state between calls and
/// is used by one thread at a time. Jobs may mix directions and key material.
class CipherEngine {
public:
    virtual ~CipherEngine() = default;

    /// Takes a job in; jobs that finish meanwhile, this one or earlier ones, join `finished`.
    virtual void start(CipherJob& job, std::vector<CipherJob*>& finished) = 0;
    /// Works on the jobs in progress for a step; those that finish join `finished`.
    virtual void advance(std::vector<CipherJob*>& finished) = 0;
    /// The jobs taken in and not finished yet.
    [[nodiscard]] virtual std::size_t inProgress() const = 0;
};

} // namespace corvix
