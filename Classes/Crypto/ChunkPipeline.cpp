#include "ChunkPipeline.h"

#include "../Key/Encodings.h"
#include "ChunkWorkers.h"
#include "InputStream.h"
#include "OutputStream.h"

#include <algorithm>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace corvix {

namespace {

const char* const kEndedEarly = "input ended early (the file shrank while it was read)";

} // namespace

ChunkPipeline::ChunkPipeline(ChunkCipher::Direction direction, KeyMaterial material,
                             std::size_t chunkSize)
    : direction_(direction), material_(std::move(material)), chunkSize_(chunkSize) {}

std::size_t ChunkPipeline::defaultWorkerCount() {
    return std::max(1U, std::thread::hardware_concurrency());
}

RunOutcome ChunkPipeline::cipherFailure(std::uint64_t index, std::size_t length) const {
    if (direction_ == ChunkCipher::Direction::Decrypt && length % ChunkCipher::kBlockSize != 0) {
        return RunOutcome::failed("truncated body (it ends inside a 16-byte block)");
    }
    return RunOutcome::failed("chunk " + std::to_string(index + 1) +
                              " does not decrypt (wrong key or damaged data)");
}

RunOutcome ChunkPipeline::run(InputStream& input, std::uint64_t total, OutputStream& output,
                              const ChunkCallbacks& callbacks, std::size_t workerCount) const {
    const bool fitsOneChunk = total <= chunkSize_;
    const std::size_t threads = fitsOneChunk ? 0 : workerCount;
    const std::size_t slotCount = threads == 0 ? 1 : threads + 2;
    const auto slotSize =
        static_cast<std::size_t>(std::min<std::uint64_t>(total, chunkSize_)) + ChunkCipher::kBlockSize;

    // Every byte of a buffer is read into before it is used, so none is zero-filled first.
    std::vector<std::unique_ptr<std::uint8_t[]>> buffers;
    for (std::size_t slot = 0; slot < slotCount; ++slot) {
        buffers.push_back(std::make_unique_for_overwrite<std::uint8_t[]>(slotSize));
    }
    std::vector<ChunkWorkers::Chunk> chunks(slotCount);
    std::vector<std::size_t> freeSlots;
    for (std::size_t slot = 0; slot < slotCount; ++slot) {
        chunks[slot].data = buffers[slot].get();
        freeSlots.push_back(slot);
    }
    std::deque<std::size_t> inFlight;
    ChunkWorkers workers(threads, direction_, material_.key, material_.iv);

    std::uint64_t bytesRead = 0;
    std::uint64_t bytesDone = 0;
    std::uint64_t nextIndex = 0;
    bool readingDone = false;
    std::optional<RunOutcome> stopped;

    for (;;) {
        // Read ahead while a buffer is free. The cancellation check comes before the end
        // check, so a stream that has not yet met its end after the last chunk gives
        // shouldCancel one more say.
        while (!readingDone && !stopped && !freeSlots.empty()) {
            if (!input.hasBytesAvailable()) {
                readingDone = true;
            } else if (callbacks.shouldCancel && callbacks.shouldCancel()) {
                stopped = RunOutcome::cancelled();
            } else if (bytesRead >= total) {
                readingDone = true;
            } else {
                const std::size_t slot = freeSlots.back();
                ChunkWorkers::Chunk& chunk = chunks[slot];
                chunk.length = static_cast<std::size_t>(std::min<std::uint64_t>(total - bytesRead, chunkSize_));
                chunk.index = nextIndex++;
                const std::size_t got = readFully(input, chunk.data, chunk.length);
                bytesRead += got;
                if (got < chunk.length) {
                    stopped = RunOutcome::failed(kEndedEarly);
                } else {
                    freeSlots.pop_back();
                    workers.submit(chunk);
                    inFlight.push_back(slot);
                }
            }
        }
        if (inFlight.empty()) {
            break;
        }

        // Write the oldest chunk once it is ready; after a stop, the rest only drain.
        const std::size_t slot = inFlight.front();
        inFlight.pop_front();
        ChunkWorkers::Chunk& chunk = chunks[slot];
        workers.waitUntilDone(chunk);
        freeSlots.push_back(slot);
        if (stopped) {
            continue;
        }
        if (!chunk.produced) {
            stopped = cipherFailure(chunk.index, chunk.length);
            continue;
        }
        if (writeFully(output, chunk.data, *chunk.produced) != *chunk.produced) {
            stopped = RunOutcome::failed("write error");
            continue;
        }
        bytesDone += chunk.length;
        if (callbacks.onProgress) {
            callbacks.onProgress(bytesDone, total);
        }
    }

    if (stopped) {
        return *stopped;
    }
    if (bytesDone != total) {
        return RunOutcome::failed(kEndedEarly);
    }
    return RunOutcome::completed();
}

} // namespace corvix
