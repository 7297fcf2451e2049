#include "ChunkPipeline.h"

#include "../Key/Encodings.h"
#include "InputStream.h"
#include "OutputStream.h"

#include <algorithm>
#include <string>

namespace corvix {

ChunkPipeline::ChunkPipeline(ChunkCipher::Direction direction, const Bytes& key, const Bytes& iv,
                             std::size_t chunkSize)
    : direction_(direction), key_(key), iv_(iv), chunkSize_(chunkSize) {}

RunOutcome ChunkPipeline::run(InputStream& input, std::uint64_t total, OutputStream& output,
                              const ChunkCallbacks& callbacks) const {
    ChunkCipher cipher(direction_, key_, iv_);
    // A file smaller than one chunk only pays for its own size.
    const auto bufferSize = static_cast<std::size_t>(std::min<std::uint64_t>(total, chunkSize_));
    Bytes in(bufferSize);
    Bytes out(bufferSize + ChunkCipher::kBlockSize);

    std::uint64_t bytesDone = 0;
    std::uint64_t chunkIndex = 0;
    // The cancellation check comes before the end check, so a stream that has not yet met its
    // end after the last chunk gives shouldCancel one more say.
    while (input.hasBytesAvailable()) {
        if (callbacks.shouldCancel && callbacks.shouldCancel()) {
            return RunOutcome::cancelled();
        }
        if (bytesDone >= total) {
            break;
        }
        const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(total - bytesDone, chunkSize_));
        const std::size_t got = readFully(input, in.data(), length);
        bytesDone += got;
        if (got < length) {
            return RunOutcome::failed("input ended early (the file shrank while it was read)");
        }
        const auto produced = cipher.run(in.data(), length, out.data());
        if (!produced) {
            if (direction_ == ChunkCipher::Direction::Decrypt && length % ChunkCipher::kBlockSize != 0) {
                return RunOutcome::failed("truncated body (it ends inside a 16-byte block)");
            }
            return RunOutcome::failed("chunk " + std::to_string(chunkIndex + 1) +
                                      " does not decrypt (wrong key or damaged data)");
        }
        if (writeFully(output, out.data(), *produced) != *produced) {
            return RunOutcome::failed("write error");
        }
        ++chunkIndex;
        if (callbacks.onProgress) {
            callbacks.onProgress(bytesDone, total);
        }
    }
    if (bytesDone != total) {
        return RunOutcome::failed("input ended early (the file shrank while it was read)");
    }
    return RunOutcome::completed();
}

} // namespace corvix
