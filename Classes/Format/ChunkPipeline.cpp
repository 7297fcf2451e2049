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
    std::uint64_t index = 0;
    bool last = false;
};

// Makes the SHA-256 of a run's chunks on a thread of its own, in the order they are handed over,
// while the calling thread writes them and the pool encrypts the next ones: the pool's threads
// stay with the cipher, whose lanes they keep full.
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
    const bool listing = callbacks.onChunkDigest && direction_ == ChunkCipher::Direction::Encrypt;
    std::optional<ChunkHasher> hasher; // for more than one chunk, when the system gives a thread
    try {
        if (listing && !fitsOneChunk) {
            hasher.emplace();
        }
    } catch (const std::system_error&) {
    }

    std::uint64_t bytesRead = 0;
    std::uint64_t bytesDone = 0;
    std::uint64_t nextIndex = 0;
    bool readingDone = false;
    std::optional<Error> stopped;

    const auto listDigest = [&](std::size_t length, const Bytes& digest) {
        if (digest.empty()) {
            stopped = Error::of(Errc::cipherUnavailable, {}, "OpenSSL's SHA-256 failed");
        } else {
            callbacks.onChunkDigest(length, digest);
        }
    };
    // The chunks whose digests the hasher makes stay out of use until their digests are taken,
    // a few chunks later, so that the hashing runs beside the next chunks' reads and writes.
    constexpr std::size_t kHashedAhead = 3;
    std::deque<Slot*> hashed;
    const auto takeDigest = [&] {
        const Bytes digest = hasher->digest();
        if (!stopped) {
            listDigest(*hashed.front()->job.produced, digest);
        }
        freeSlots.push_back(hashed.front());
        hashed.pop_front();
    };

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
        if (inFlight.slots.empty() && (hashed.empty() || readingDone || stopped)) {
            break;
        }
        if (inFlight.slots.empty()) {
            takeDigest(); // its buffer is the one the next chunk needs
            continue;
        }

        // Write the oldest chunk once it is ready; after a stop, the rest only drain.
        Slot* slot = inFlight.slots.front();
        pool.waitFor(slot->job);
        inFlight.slots.pop_front();
        if (hashed.size() >= kHashedAhead || (stopped && !hashed.empty())) {
            takeDigest();
        }
        if (stopped) {
            freeSlots.push_back(slot);
            continue;
        }
        const CipherJob& job = slot->job;
        if (Outcome<> usable = check(job, slot->index, slot->last); !usable) {
            freeSlots.push_back(slot);
            stopped = usable.error();
            continue;
        }
        if (hasher) {
            hasher->hash(job.data, *job.produced);
            hashed.push_back(slot);
        } else {
            freeSlots.push_back(slot);
        }
        if (writeFully(output, job.data, *job.produced) != *job.produced) {
            stopped = Error::system(EIO, {}, "cannot write");
            continue;
        }
        if (listing && !hasher) {
            listDigest(*job.produced, sha256(job.data, *job.produced));
        }
        bytesDone += job.length;
        if (callbacks.onProgress) {
            callbacks.onProgress(bytesDone, total);
        }
    }
    while (!hashed.empty()) {
        takeDigest();
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
