#pragma once

#include "../Key/KeyMaterial.h"
#include "ChunkBuffers.h"
#include "ChunkCipher.h"
#include "CipherBackends.h"
#include "CipherPool.h"
#include "RunOutcome.h"

#include <cstddef>
#include <cstdint>

namespace corvix {

class InputStream;
class OutputStream;

/// Moves `total` bytes from an input stream to an output stream, cutting them into chunks of
/// `chunkSize` bytes and running each chunk through the cipher on its own.
///
/// Chunks are independent, so the cipher pool's threads encrypt or decrypt several at once
/// (those of other runs too) while the calling thread reads and writes the streams in order.
/// The chunks in flight live in buffers leased from a pool shared by every run, so memory does
/// not grow with the file or with the number of runs at once. Callbacks run on the calling
/// thread: shouldCancel before each chunk is read, onProgress after each chunk is written, with
/// the bytes consumed by the chunks written so far. An input of at most one chunk runs on the
/// calling thread when the pool has an engine free.
class ChunkPipeline {
public:
    ChunkPipeline(ChunkCipher::Direction direction, KeyMaterial material, std::size_t chunkSize,
                  const CipherBackend& backend = CipherBackends::chosen());

    [[nodiscard]] RunOutcome run(InputStream& input, std::uint64_t total, OutputStream& output,
                                 const ChunkCallbacks& callbacks,
                                 CipherPool& pool = CipherPool::shared(),
                                 ChunkBuffers& buffers = ChunkBuffers::shared()) const;

private:
    [[nodiscard]] RunOutcome cipherFailure(std::uint64_t index, std::size_t length) const;

    ChunkCipher::Direction direction_;
    KeyMaterial material_;
    std::size_t chunkSize_;
    const CipherBackend& backend_;
};

} // namespace corvix
