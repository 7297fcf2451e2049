#pragma once

#include "Cipher/ChunkBuffers.h"
#include "Cipher/ChunkCipher.h"
#include "Cipher/CipherBackends.h"
#include "Cipher/CipherPool.h"
#include "Files/Streams.h"
#include "Format/FileFormat.h"

#include <corvix/KeyMaterial.h>
#include <corvix/Outcome.h>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

namespace corvix {

/// The optional callbacks of a chunked run; an empty one is skipped. Both run on the thread
/// that started the run.
struct ChunkCallbacks {
    /// After each chunk is written: bytes consumed so far and the total to consume.
    std::function<void(std::uint64_t bytesDone, std::uint64_t total)> onProgress;
    /// Asked before each chunk; true stops the run (Errc::cancelled).
    std::function<bool()> shouldCancel;
    /// Encrypting: after each chunk is written, its ciphertext's length and SHA-256, made by a
    /// thread of the run's own while the chunk is written: listing a run costs no second read.
    std::function<void(std::size_t length, const Bytes& digest)> onChunkDigest{};
};

/// One input of a batch run (see ChunkPipeline::runEach) and, afterwards, how it ended.
struct ChunkRun {
    InputStream& input;
    std::uint64_t total;
    OutputStream& output;
    const ChunkCallbacks& callbacks;
    Outcome<> outcome = {};
};

/// Moves `total` bytes from an input stream to an output stream, cutting them into chunks and
/// running each chunk through the cipher on its own: plaintext chunks of `plainChunkSize`
/// bytes when encrypting, ciphertext chunks of 16 bytes more when decrypting, where every
/// chunk must also keep the format's chunk rule.
///
/// Chunks are independent, so the cipher pool's threads encrypt or decrypt several at once
/// (those of other runs too) while the calling thread reads and writes the streams in order.
/// The chunks in flight live in buffers leased from a pool shared by every run, so memory does
/// not grow with the file or with the number of runs at once. Callbacks run on the calling
/// thread: shouldCancel before each chunk is read, onProgress after each chunk is written, with
/// the bytes consumed by the chunks written so far. An input of at most one chunk runs on the
/// calling thread when the pool has an engine free. Failures name no path; the caller knows
/// the files.
///
/// Several inputs go through one pipeline as a batch, one after another, each to its own
/// output and with its own outcome, as if each had a run of its own: the chunks of inputs that
/// fit one chunk are read ahead together and handed to the pool at once, so that small files
/// share the cipher's lanes.
class ChunkPipeline {
public:
    ChunkPipeline(ChunkCipher::Direction direction, KeyMaterial material,
                  std::size_t plainChunkSize = FileFormat::kPlainChunkSize,
                  const CipherBackend& backend = CipherBackends::chosen());

    [[nodiscard]] Outcome<> run(InputStream& input, std::uint64_t total, OutputStream& output,
                                const ChunkCallbacks& callbacks,
                                CipherPool& pool = CipherPool::shared(),
                                ChunkBuffers& buffers = ChunkBuffers::shared()) const;
    void runEach(std::span<ChunkRun> runs, CipherPool& pool = CipherPool::shared(),
                 ChunkBuffers& buffers = ChunkBuffers::shared()) const;

private:
    /// Whether a finished chunk may be written: it ciphered, and (decrypting) keeps the rule.
    [[nodiscard]] Outcome<> check(const CipherJob& job, std::uint64_t index, bool last) const;

    ChunkCipher::Direction direction_;
    KeyMaterial material_;
    std::size_t plainChunkSize_;
    std::size_t chunkSize_; // what is read for one chunk
    const CipherBackend& backend_;
};

} // namespace corvix
