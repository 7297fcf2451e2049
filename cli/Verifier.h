#pragma once

#include "Crypto/RunOutcome.h"
#include "Key/KeyMaterial.h"

#include <string>

namespace corvix {
class FileInputStream;
}

namespace corvix::cli {

/// Reads an encrypted file the way the runtime does, without writing anything, and says whether
/// it reads back: the header line must decrypt to the header text and every chunk must decrypt.
class Verifier {
public:
    Verifier(KeyMaterial material, std::string headerText);

    /// Reads `input`, open and at its start, to the end.
    [[nodiscard]] RunOutcome verify(FileInputStream& input, const ChunkCallbacks& callbacks) const;

private:
    KeyMaterial material_;
    std::string headerText_;
};

} // namespace corvix::cli
