#pragma once

#include <corvix/Bytes.h>
#include <corvix/KeyMaterial.h>
#include <corvix/Outcome.h>
#include <string>

namespace corvix {

/// The built-in key material: every file and text the system encrypts uses exactly this AES key
/// and IV, so files written by one build read back in every other.
class CorvixKey {
public:
    CorvixKey() = delete;

    /// The 16-character key string: digits at even positions, lowercase letters at odd ones.
    [[nodiscard]] static std::string keyString();
    /// SHA-256 of the key string's UTF-8 bytes (32 bytes: AES-256).
    [[nodiscard]] static Bytes aesKey();
    /// The AES key as 64 lowercase hexadecimal digits.
    [[nodiscard]] static std::string aesKeyHex();
    [[nodiscard]] static std::string ivText();
    /// The IV text's 16 UTF-8 bytes.
    [[nodiscard]] static Bytes ivBytes();
    /// aesKey() and ivBytes() as key material, the material built into every Corvix program.
    /// Fails only when OpenSSL gives no SHA-256 (then there is no key, rather than one of zeros).
    [[nodiscard]] static Outcome<KeyMaterial> material();
};

} // namespace corvix
