#include "Format/ChunkPipeline.h"

#include "Basics/Encodings.h"

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
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

// Makes the SHA-256 of the chunks of a batch's longer runs on a thread of its own, in the order
// they are handed over, while the calling thread writes them and the pool encrypts the next
// ones: the pool's threads stay with the cipher, whose lanes they keep full.
class ChunkHasher {
public:
    ChunkHasher() : thread_([this] { work(); }) {}
    ~ChunkHasher() {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    ChunkHasher(const ChunkHasher&) = delete;
    ChunkHasher& operator=(const ChunkHasher&) = delete;

    void hash(const std::uint8_t* data, std::size_t n) {
        {
            const std::lock_guard lock(mutex_);
            waiting_.emplace_back(data, n);
        }
        changed_.notify_all();
    }

    /// The digest of the oldest chunk handed over and not taken yet, once it is made; empty
    /// when it failed.
    Bytes digest() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !made_.empty(); });
        Bytes digest = std::move(made_.front());
        made_.pop_front();
        return digest;
    }

private:
    void work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [this] { return !waiting_.empty() || stopping_; });
            if (stopping_) {
                return;
            }
            const auto [data, n] = waiting_.front();
            lock.unlock();
            Bytes made = sha256(data, n);
            lock.lock();
            waiting_.pop_front();
            made_.push_back(std::move(made));
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::pair<const std::uint8_t*, std::size_t>> waiting_;
    std::deque<Bytes> made_;
    bool stopping_ = false;
    std::thread thread_; // last: it starts once the state above is made
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

    const bool encrypting = direction_ == ChunkCipher::Direction::Encrypt;
    const auto listing = [&](std::size_t run) {
        return encrypting && static_cast<bool>(runs[run].callbacks.onChunkDigest);
    };
    std::optional<ChunkHasher> hasher; // for more than one chunk, when the system gives a thread
    try {
        for (std::size_t i = 0; i < runs.size() && !hasher; ++i) {
            if (listing(i) && !fitsOneChunk(i)) {
                hasher.emplace();
            }
        }
    } catch (const std::system_error&) {
    }
    const auto listDigest = [&](std::size_t run, std::size_t length, const Bytes& digest) {
        if (digest.empty()) {
            states[run].stopped =
                Error::of(Errc::cipherUnavailable, {}, "OpenSSL's SHA-256 failed");
        } else {
            runs[run].callbacks.onChunkDigest(length, digest);
        }
    };
    // The chunks whose digests the hasher makes stay out of use until their digests are taken,
    // a few chunks later, so that the hashing runs beside the next chunks' reads and writes.
    constexpr std::size_t kHashedAhead = 3;
    std::deque<Slot*> hashed;
    const auto takeDigest = [&] {
        Slot* slot = hashed.front();
        const Bytes digest = hasher->digest();
        if (!states[slot->run].stopped) {
            listDigest(slot->run, *slot->job.produced, digest);
        }
        hashed.pop_front();
        freeSlots.push_back(slot);
    };

    // Write the oldest chunk once it is ready; after a stop, the rest of its run only drains.
    const auto writeOldest = [&] {
        Slot* slot = inFlight.slots.front();
        pool.waitFor(slot->job);
        inFlight.slots.pop_front();
        if (hashed.size() >= kHashedAhead) {
            takeDigest();
        }
        const ChunkRun& run = runs[slot->run];
        RunState& state = states[slot->run];
        const CipherJob& job = slot->job;
        if (state.stopped) {
            freeSlots.push_back(slot);
            return;
        }
        if (Outcome<> usable = check(job, slot->index, slot->last); !usable) {
            freeSlots.push_back(slot);
            state.stopped = usable.error();
            return;
        }
        const bool hashing = hasher && listing(slot->run) && !fitsOneChunk(slot->run);
        if (hashing) {
            hasher->hash(job.data, *job.produced);
            hashed.push_back(slot);
        }
        const bool written = writeFully(run.output, job.data, *job.produced) == *job.produced;
        if (written && listing(slot->run) && !hashing) {
            listDigest(slot->run, *job.produced, sha256(job.data, *job.produced));
        }
        if (!hashing) {
            freeSlots.push_back(slot);
        }
        if (!written) {
            state.stopped = Error::system(EIO, {}, "cannot write");
            return;
        }
        if (state.stopped) {
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
        if (inFlight.slots.empty() && (hashed.empty() || reading == runs.size())) {
            break;
        }
        if (inFlight.slots.empty()) {
            takeDigest(); // its buffer is the one the next chunk needs
            continue;
        }
        // The chunks of a batch are all finished, so they are written before reading on.
        do {
            writeOldest();
        } while (!inFlight.slots.empty() && fitsOneChunk(inFlight.slots.front()->run));
    }
    while (!hashed.empty()) {
        takeDigest();
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
