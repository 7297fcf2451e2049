#pragma once

#include "../Key/Bytes.h"
#include "ChunkCipher.h"
#include "RunOutcome.h"

#include <cstddef>
#include <cstdint>

namespace corvix {

class InputStream;
class OutputStream;

/// Moves `total` bytes from an input stream to an output stream, cutting them into chunks of
/// `chunkSize` bytes and running each chunk through the cipher on its own.
class ChunkPipeline {
public:
    ChunkPipeline(ChunkCipher::Direction direction, const Bytes& key, const Bytes& iv,
                  std::size_t chunkSize);

    [[nodiscard]] RunOutcome run(InputStream& input, std::uint64_t total, OutputStream& output,
                                 const ChunkCallbacks& callbacks) const;

private:
    ChunkCipher::Direction direction_;
    Bytes key_;
    Bytes iv_;
    std::size_t chunkSize_;
};

} // namespace corvix
