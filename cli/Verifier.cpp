#include "Verifier.h"

#include "Crypto/FileCipher.h"
#include "Crypto/HeaderCheck.h"
#include "DiscardingOutputStream.h"

namespace corvix::cli {

Verifier::Verifier(const Bytes& key, const Bytes& iv, std::string headerText)
    : key_(key), iv_(iv), headerText_(std::move(headerText)) {}

RunOutcome Verifier::verify(const std::string& path, const ChunkCallbacks& callbacks) const {
    RunOutcome header = HeaderCheck::check(path, headerText_, key_, iv_);
    if (!header.succeeded()) {
        return header;
    }
    // The body streams through one chunk buffer at a time, so memory does not grow with it.
    DiscardingOutputStream nowhere;
    return FileCipher::decryptInto(path, nowhere, key_, iv_, callbacks);
}

} // namespace corvix::cli
