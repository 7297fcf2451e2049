#include "Format/ChunkPipeline.h"

#include <algorithm>
#include <cerrno>
#include <deque>
#include <string>
#include <vector>

namespace corvix {

namespace {

Error endedEarly() {
    return Error::of(Errc::sourceChanged, {},
                     "input ended early (the file shrank while it was read)");
}

struct Slot {
    ChunkBuffers::Lease buffer;
    CipherJob job;
    std::uint64_t index = 0;
    bool last = false;
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
                             std::size_t plainChunkSize, const CipherBackend& backend)
    : direction_(direction), material_(std::move(material)), plainChunkSize_(plainChunkSize),
      chunkSize_(direction == ChunkCipher::Direction::Encrypt
                     ? plainChunkSize
                     : plainChunkSize + ChunkCipher::kBlockSize),
      backend_(backend) {}

Outcome<> ChunkPipeline::check(const CipherJob& job, std::uint64_t index, bool last) const {
    if (direction_ == ChunkCipher::Direction::Encrypt) {
        return job.produced ? Outcome<>()
                            : Error::of(Errc::cipherUnavailable, {},
                                        "chunk " + std::to_string(index + 1) + " does not encrypt");
    }
    if (!job.produced) {
        return FileFormat::chunkFailure({}, index);
    }
    return FileFormat::checkChunk({}, index, last, *job.produced, plainChunkSize_);
}

Outcome<> ChunkPipeline::run(InputStream& input, std::uint64_t total, OutputStream& output,
                             const ChunkCallbacks& callbacks, CipherPool& pool,
                             ChunkBuffers& buffers) const {
    if (Outcome<> cipher = ChunkCipher::available(material_); !cipher) {
        return cipher;
    }
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
    std::optional<Error> stopped;

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
                stopped = Error::of(Errc::cancelled, {}, "cancelled");
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
                slot->last = bytesRead == total;
                if (got < slot->job.length) {
                    stopped = endedEarly();
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
        if (Outcome<> usable = check(job, slot->index, slot->last); !usable) {
            stopped = usable.error();
            continue;
        }
        if (writeFully(output, job.data, *job.produced) != *job.produced) {
            stopped = Error::system(EIO, {}, "cannot write");
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
        return endedEarly();
    }
    return {};
}

} // namespace corvix
