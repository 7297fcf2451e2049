#include "Verifier.h"

#include "Crypto/FileCipher.h"
#include "Crypto/FileInputStream.h"
#include "Crypto/HeaderCheck.h"
#include "DiscardingOutputStream.h"

namespace corvix::cli {

Verifier::Verifier(KeyMaterial material, std::string headerText)
    : material_(std::move(material)), headerText_(std::move(headerText)) {}

RunOutcome Verifier::verify(FileInputStream& input, const ChunkCallbacks& callbacks) const {
    RunOutcome header = HeaderCheck::check(input, headerText_, material_);
    if (!header.succeeded()) {
        return header;
    }
    // The body streams through one chunk buffer at a time, so memory does not grow with it.
    DiscardingOutputStream nowhere;
    return FileCipher::decryptInto(input, nowhere, material_, callbacks);
}

} // namespace corvix::cli
