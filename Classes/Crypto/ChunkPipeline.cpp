#include "ChunkPipeline.h"

#include "../Key/Encodings.h"
#include "InputStream.h"
#include "OutputStream.h"

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

namespace corvix {

namespace {

const char* const kEndedEarly = "input ended early (the file shrank while it was read)";

struct Slot {
    ChunkBuffers::Lease buffer;
    CipherJob job;
    std::uint64_t index = 0;
};

// The chunks handed to the pool; whatever ends the run, they are waited for before their
// buffers go.
struct InFlight {
    CipherPool& pool;
    std::deque<Slot*> slots;

    explicit InFlight(CipherPool& owner) : pool(owner) {}
    InFlight(const InFlight&) = delete;
    InFlight& operator=(const InFlight&) = delete;
    ~InFlight() {
        for (Slot* slot : slots) {
            pool.waitFor(slot->job);
        }
    }
};

} // namespace

ChunkPipeline::ChunkPipeline(ChunkCipher::Direction direction, KeyMaterial material,
                             std::size_t chunkSize, const CipherBackend& backend)
    : direction_(direction), material_(std::move(material)), chunkSize_(chunkSize),
      backend_(backend) {}

RunOutcome ChunkPipeline::cipherFailure(std::uint64_t index, std::size_t length) const {
    if (direction_ == ChunkCipher::Direction::Encrypt) {
        return RunOutcome::failed("chunk " + std::to_string(index + 1) + " does not encrypt");
    }
    if (length % ChunkCipher::kBlockSize != 0) {
        return RunOutcome::failed("truncated body (it ends inside a 16-byte block)");
    }
    return RunOutcome::failed("chunk " + std::to_string(index + 1) +
                              " does not decrypt (wrong key or damaged data)");
}

RunOutcome ChunkPipeline::run(InputStream& input, std::uint64_t total, OutputStream& output,
                              const ChunkCallbacks& callbacks, CipherPool& pool,
                              ChunkBuffers& buffers) const {
    const bool fitsOneChunk = total <= chunkSize_;
    const std::size_t slotSize =
        static_cast<std::size_t>(std::min<std::uint64_t>(total, chunkSize_)) +
        ChunkCipher::kBlockSize;

    std::deque<Slot> slots; // grows at the back only, so the slots never move
    std::vector<Slot*> freeSlots;
    const auto addSlot = [&](ChunkBuffers::Lease buffer) {
        CipherJob job;
        job.direction = direction_;
        job.material = &material_;
        job.backend = &backend_;
        job.data = buffer.data();
        job.done = true; // not in the pool
        slots.push_back({std::move(buffer), job});
        freeSlots.push_back(&slots.back());
    };
    InFlight inFlight(pool);

    std::uint64_t bytesRead = 0;
    std::uint64_t bytesDone = 0;
    std::uint64_t nextIndex = 0;
    bool readingDone = false;
    std::optional<RunOutcome> stopped;

    for (;;) {
        // Read ahead while a buffer is free or can be had at once. The cancellation check
        // comes before the end check, so a stream that has not yet met its end after the last
        // chunk gives shouldCancel one more say.
        while (!readingDone && !stopped) {
            if (freeSlots.empty() && !slots.empty()) {
                auto buffer = buffers.tryTake(slotSize);
                if (!buffer) {
                    break;
                }
                addSlot(std::move(*buffer));
            }
            if (!input.hasBytesAvailable()) {
                readingDone = true;
            } else if (callbacks.shouldCancel && callbacks.shouldCancel()) {
                stopped = RunOutcome::cancelled();
            } else if (bytesRead >= total) {
                readingDone = true;
            } else {
                if (slots.empty()) {
                    // The first chunk waits for memory, holding none.
                    addSlot(buffers.take(slotSize));
                }
                Slot* slot = freeSlots.back();
                slot->job.length = static_cast<std::size_t>(
                    std::min<std::uint64_t>(total - bytesRead, chunkSize_));
                slot->index = nextIndex++;
                const std::size_t got = readFully(input, slot->job.data, slot->job.length);
                bytesRead += got;
                if (got < slot->job.length) {
                    stopped = RunOutcome::failed(kEndedEarly);
                } else {
                    freeSlots.pop_back();
                    inFlight.slots.push_back(slot);
                    if (fitsOneChunk) {
                        pool.runHere(slot->job);
                    } else {
                        pool.submit(slot->job);
                    }
                }
            }
        }
        if (inFlight.slots.empty()) {
            break;
        }

        // Write the oldest chunk once it is ready; after a stop, the rest only drain.
        Slot* slot = inFlight.slots.front();
        pool.waitFor(slot->job);
        inFlight.slots.pop_front();
        freeSlots.push_back(slot);
        if (stopped) {
            continue;
        }
        const CipherJob& job = slot->job;
        if (!job.produced) {
            stopped = cipherFailure(slot->index, job.length);
            continue;
        }
        if (writeFully(output, job.data, *job.produced) != *job.produced) {
            stopped = RunOutcome::failed("write error");
            continue;
        }
        bytesDone += job.length;
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
