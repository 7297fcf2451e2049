#pragma once

#include <corvix/Bytes.h>
#include <corvix/Outcome.h>
#include <string>

namespace corvix {

/// The AES key and IV that files and texts are encrypted with: valid from the moment it exists,
/// so nothing that takes one checks it again. The built-in material (CorvixKey::material()) is
/// one value of it; an app with a key of its own holds another.
class KeyMaterial {
public:
    /// A key of 16, 24 or 32 bytes (AES-128, AES-192, AES-256) and an IV of at least 16 bytes,
    /// of which the first 16 are kept; anything else fails with Errc::badKeyMaterial.
    [[nodiscard]] static Outcome<KeyMaterial> from(Bytes key, Bytes iv);
    /// New material for an app of its own: a 32-byte key and a 16-byte IV from OpenSSL's random
    /// generator.
    [[nodiscard]] static Outcome<KeyMaterial> generate();

    [[nodiscard]] const Bytes& key() const { return key_; }
    /// Exactly 16 bytes.
    [[nodiscard]] const Bytes& iv() const { return iv_; }

    /// The first 16 hexadecimal digits of SHA-256 over the key: lets two builds check that they
    /// share the key material without showing it.
    [[nodiscard]] std::string fingerprint() const;

    [[nodiscard]] bool operator==(const KeyMaterial&) const = default;

private:
    KeyMaterial(Bytes key, Bytes iv) : key_(std::move(key)), iv_(std::move(iv)) {}

    Bytes key_;
    Bytes iv_;
};

} // namespace corvix
