#include "KeyMaterial.h"

#include "CorvixKey.h"
#include "Encodings.h"

namespace corvix {

KeyMaterial KeyMaterial::builtIn() { return {CorvixKey::aesKey(), CorvixKey::ivBytes()}; }

std::string KeyMaterial::fingerprint() const { return hexText(sha256(key)).substr(0, 16); }

} // namespace corvix
