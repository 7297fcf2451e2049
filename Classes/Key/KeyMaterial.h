#pragma once

#include "Bytes.h"

#include <optional>
#include <string>

namespace corvix {

/// The AES key and IV that files and texts are encrypted with. The built-in material is one
/// value of it; an app with a key of its own holds another. Every reader and writer of the file
/// format takes one.
struct KeyMaterial {
    /// 16, 24 or 32 bytes: AES-128, AES-192 or AES-256.
    Bytes key;
    /// The CBC initialisation vector; its first 16 bytes count.
    Bytes iv;

    /// The material built into every Corvix program (CorvixKey's key and IV).
    [[nodiscard]] static KeyMaterial builtIn();
    /// New material for an app of its own: a 32-byte key and a 16-byte IV from OpenSSL's random
    /// generator, or nothing when it cannot give them.
    [[nodiscard]] static std::optional<KeyMaterial> generate();

    /// The first 16 hexadecimal digits of SHA-256 over the key: lets two builds check that they
    /// share the key material without showing it.
    [[nodiscard]] std::string fingerprint() const;

    [[nodiscard]] bool operator==(const KeyMaterial&) const = default;
};

} // namespace corvix
