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
    std::size_t run = 0; // of the batch
    std::uint64_t index = 0;
    bool last = false;
};

// Where one run of a batch stands.
struct RunState {
    std::uint64_t bytesRead = 0;
    std::uint64_t bytesDone = 0;
    std::uint64_t nextIndex = 0;
    bool readingDone = false;
    std::optional<Error> stopped;
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
    ChunkRun alone{input, total, output, callbacks};
    runEach({&alone, 1}, pool, buffers);
    return alone.outcome;
}

void ChunkPipeline::runEach(std::span<ChunkRun> runs, CipherPool& pool,
                            ChunkBuffers& buffers) const {
    if (Outcome<> cipher = ChunkCipher::available(material_); !cipher) {
        for (ChunkRun& run : runs) {
            run.outcome = cipher;
        }
        return;
    }
    std::size_t slotSize = 0;
    for (const ChunkRun& run : runs) {
        slotSize = std::max(
            slotSize, static_cast<std::size_t>(std::min<std::uint64_t>(run.total, chunkSize_)) +
                          ChunkCipher::kBlockSize);
    }

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
    std::vector<RunState> states(runs.size());
    std::vector<CipherJob*> batch; // the chunks of inputs that fit one, handed over together
    const auto fitsOneChunk = [&](std::size_t run) { return runs[run].total <= chunkSize_; };

    // Write the oldest chunk once it is ready; after a stop, the rest of its run only drains.
    const auto writeOldest = [&] {
        Slot* slot = inFlight.slots.front();
        pool.waitFor(slot->job);
        inFlight.slots.pop_front();
        freeSlots.push_back(slot);
        const ChunkRun& run = runs[slot->run];
        RunState& state = states[slot->run];
        if (state.stopped) {
            return;
        }
        const CipherJob& job = slot->job;
        if (Outcome<> usable = check(job, slot->index, slot->last); !usable) {
            state.stopped = usable.error();
            return;
        }
        if (writeFully(run.output, job.data, *job.produced) != *job.produced) {
            state.stopped = Error::system(EIO, {}, "cannot write");
            return;
        }
        state.bytesDone += job.length;
        if (run.callbacks.onProgress) {
            run.callbacks.onProgress(state.bytesDone, run.total);
        }
    };

    for (std::size_t reading = 0;;) {
        // Read ahead while a buffer is free or can be had at once. The cancellation check
        // comes before the end check, so a stream that has not yet met its end after the last
        // chunk gives shouldCancel one more say (which needs no buffer).
        while (reading < runs.size()) {
            const ChunkRun& run = runs[reading];
            RunState& state = states[reading];
            if (state.readingDone || state.stopped) {
                ++reading;
                continue;
            }
            if (state.bytesRead < run.total && freeSlots.empty() && !slots.empty()) {
                auto buffer = buffers.tryTake(slotSize);
                if (!buffer) {
                    break;
                }
                addSlot(std::move(*buffer));
            }
            if (!run.input.hasBytesAvailable()) {
                state.readingDone = true;
            } else if (run.callbacks.shouldCancel && run.callbacks.shouldCancel()) {
                state.stopped = Error::of(Errc::cancelled, {}, "cancelled");
            } else if (state.bytesRead >= run.total) {
                state.readingDone = true;
            } else {
                if (slots.empty()) {
                    // The first chunk waits for memory, holding none.
                    addSlot(buffers.take(slotSize));
                }
                Slot* slot = freeSlots.back();
                slot->job.length = static_cast<std::size_t>(
                    std::min<std::uint64_t>(run.total - state.bytesRead, chunkSize_));
                slot->run = reading;
                slot->index = state.nextIndex++;
                const std::size_t got = readFully(run.input, slot->job.data, slot->job.length);
                state.bytesRead += got;
                slot->last = state.bytesRead == run.total;
                if (got < slot->job.length) {
                    state.stopped = endedEarly();
                } else {
                    freeSlots.pop_back();
                    inFlight.slots.push_back(slot);
                    if (fitsOneChunk(reading)) {
                        batch.push_back(&slot->job);
                    } else {
                        pool.submit(slot->job);
                    }
                }
            }
        }
        pool.runHere(batch);
        batch.clear();
        if (inFlight.slots.empty()) {
            break;
        }
        // The chunks of a batch are all finished, so they are written before reading on.
        do {
            writeOldest();
        } while (!inFlight.slots.empty() && fitsOneChunk(inFlight.slots.front()->run));
    }

    for (std::size_t i = 0; i < runs.size(); ++i) {
        if (states[i].stopped) {
            runs[i].outcome = *states[i].stopped;
        } else if (states[i].bytesDone != runs[i].total) {
            runs[i].outcome = endedEarly();
        }
    }
}

} // namespace corvix
