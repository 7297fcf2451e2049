#pragma once

#include "Crypto/RunOutcome.h"
#include "Key/KeyMaterial.h"

#include <string>

namespace corvix::cli {

/// Reads an encrypted file the way the runtime does, without writing anything, and says whether
/// it reads back: the header line must decrypt to the header text and every chunk must decrypt.
class Verifier {
public:
    Verifier(KeyMaterial material, std::string headerText);

    [[nodiscard]] RunOutcome verify(const std::string& path, const ChunkCallbacks& callbacks) const;

private:
    KeyMaterial material_;
    std::string headerText_;
};

} // namespace corvix::cli
