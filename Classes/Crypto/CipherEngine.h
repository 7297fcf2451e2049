#pragma once

#include "../Key/KeyMaterial.h"
#include "ChunkCipher.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace corvix {

class CipherBackend;

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

/// Runs jobs through one backend's cipher. An engine keeps its working state between calls and
/// is used by one thread at a time.
class CipherEngine {
public:
    virtual ~CipherEngine() = default;

    /// Runs every job and sets its `produced`; the jobs may mix directions and key material.
    virtual void run(std::span<CipherJob* const> jobs) = 0;
};

} // namespace corvix
