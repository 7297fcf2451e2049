#include "KeyMaterial.h"

#include "CorvixKey.h"
#include "Encodings.h"

#include <openssl/rand.h>

namespace corvix {

KeyMaterial KeyMaterial::builtIn() {
    return {CorvixKey::aesKey(), CorvixKey::ivBytes()};
}

std::optional<KeyMaterial> KeyMaterial::generate() {
    KeyMaterial material{Bytes(32), Bytes(16)};
    if (RAND_bytes(material.key.data(), static_cast<int>(material.key.size())) != 1 ||
        RAND_bytes(material.iv.data(), static_cast<int>(material.iv.size())) != 1) {
        return std::nullopt;
    }
    return material;
}

std::string KeyMaterial::fingerprint() const {
    return hexText(sha256(key)).substr(0, 16);
}

} // namespace corvix
