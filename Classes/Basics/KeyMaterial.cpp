#include "Basics/Encodings.h"

#include <corvix/KeyMaterial.h>
#include <openssl/rand.h>

namespace corvix {

namespace {
constexpr std::size_t kIvSize = 16;
} // namespace

Outcome<KeyMaterial> KeyMaterial::from(Bytes key, Bytes iv) {
    if ((key.size() != 16 && key.size() != 24 && key.size() != 32) || iv.size() < kIvSize) {
        return Error::of(Errc::badKeyMaterial, {},
                         "the key must be 16, 24 or 32 bytes and the IV at least 16");
    }
    iv.resize(kIvSize);
    return KeyMaterial(std::move(key), std::move(iv));
}

Outcome<KeyMaterial> KeyMaterial::generate() {
    Bytes key(32);
    Bytes iv(kIvSize);
    if (RAND_bytes(key.data(), static_cast<int>(key.size())) != 1 ||
        RAND_bytes(iv.data(), static_cast<int>(iv.size())) != 1) {
        return Error::of(Errc::cipherUnavailable, {},
                         "the system's random source gave no key material");
    }
    return KeyMaterial(std::move(key), std::move(iv));
}

std::string KeyMaterial::fingerprint() const {
    return hexText(sha256(key_)).substr(0, 16);
}

} // namespace corvix
