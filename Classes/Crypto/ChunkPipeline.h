#pragma once

#include "../Key/KeyMaterial.h"
#include "ChunkCipher.h"
#include "RunOutcome.h"

#include <cstddef>
#include <cstdint>

namespace corvix {

class InputStream;
class OutputStream;

/// Moves `total` bytes from an input stream to an output stream, cutting them into chunks of
/// `chunkSize` bytes and running each chunk through the cipher on its own.
///
/// Chunks are independent, so worker threads encrypt or decrypt several at once while the
/// calling thread reads and writes the streams in order. Memory stays bounded: workers + 2
/// chunk buffers, allocated once per run. Callbacks run on the calling thread: shouldCancel
/// before each chunk is read, onProgress after each chunk is written, with the bytes consumed
/// by the chunks written so far. An input of at most one chunk starts no thread and only
/// allocates its own size.
class ChunkPipeline {
public:
    ChunkPipeline(ChunkCipher::Direction direction, KeyMaterial material, std::size_t chunkSize);

    /// The number of worker threads a large input gets: one per core.
    [[nodiscard]] static std::size_t defaultWorkerCount();

    [[nodiscard]] RunOutcome run(InputStream& input, std::uint64_t total, OutputStream& output,
                                 const ChunkCallbacks& callbacks,
                                 std::size_t workerCount = defaultWorkerCount()) const;

private:
    [[nodiscard]] RunOutcome cipherFailure(std::uint64_t index, std::size_t length) const;

    ChunkCipher::Direction direction_;
    KeyMaterial material_;
    std::size_t chunkSize_;
};

} // namespace corvix
