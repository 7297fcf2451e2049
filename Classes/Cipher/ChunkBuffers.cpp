#include "Cipher/ChunkBuffers.h"

#include "Cipher/ProcessWide.h"

namespace corvix {

ChunkBuffers::Lease::Lease(ChunkBuffers& owner, std::unique_ptr<std::uint8_t[]> bytes,
                           std::size_t capacity)
    : owner_(&owner), bytes_(std::move(bytes)), capacity_(capacity) {}

ChunkBuffers::Lease::~Lease() {
    if (bytes_) {
        owner_->giveBack(std::move(bytes_), capacity_);
    }
}

ChunkBuffers::ChunkBuffers(std::size_t count) : unmade_(count) {}

namespace {

// One buffer for each lane of the multi-buffer cipher.
ChunkBuffers* newProcessBuffers() {
    return new ChunkBuffers(16);
}

} // namespace

ChunkBuffers& ChunkBuffers::shared() {
    return processWide<ChunkBuffers, &newProcessBuffers>();
}

ChunkBuffers::Lease ChunkBuffers::take(std::size_t size) {
    std::unique_lock lock(mutex_);
    returned_.wait(lock, [this] { return available(); });
    return takeLocked(lock, size);
}

std::optional<ChunkBuffers::Lease> ChunkBuffers::tryTake(std::size_t size) {
    std::unique_lock lock(mutex_);
    if (!available()) {
        return std::nullopt;
    }
    return takeLocked(lock, size);
}

ChunkBuffers::Lease ChunkBuffers::takeLocked(std::unique_lock<std::mutex>& lock, std::size_t size) {
    Buffer buffer;
    if (!free_.empty()) {
        buffer = std::move(free_.back());
        free_.pop_back();
    } else {
        --unmade_;
    }
    lock.unlock();
    if (buffer.capacity < size) {
        buffer = {};
        try {
            // Every byte is read into before it is used, so none is zero-filled first.
            buffer.bytes = std::make_unique_for_overwrite<std::uint8_t[]>(size);
        } catch (...) {
            giveBack(nullptr, 0); // the pool keeps its count; the next taker allocates again
            throw;
        }
        buffer.capacity = size;
    }
    return Lease(*this, std::move(buffer.bytes), buffer.capacity);
}

void ChunkBuffers::giveBack(std::unique_ptr<std::uint8_t[]> bytes, std::size_t capacity) {
    {
        const std::lock_guard lock(mutex_);
        free_.push_back({std::move(bytes), capacity});
    }
    returned_.notify_one();
}

} // namespace corvix
