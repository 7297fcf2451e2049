#include "ChunkWorkers.h"

#include <system_error>

namespace corvix {

ChunkWorkers::ChunkWorkers(std::size_t threadCount, ChunkCipher::Direction direction,
                           const Bytes& key, const Bytes& iv)
    : inlineCipher_(direction, key, iv) {
    threads_.reserve(threadCount);
    try {
        for (std::size_t i = 0; i < threadCount; ++i) {
            threads_.emplace_back([this, direction, key, iv] { work(direction, key, iv); });
        }
    } catch (const std::system_error&) {
        // Out of threads: carry on with those that started, or on the calling thread alone.
    }
}

ChunkWorkers::~ChunkWorkers() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    chunkQueued_.notify_all();
    for (std::thread& thread : threads_) {
        thread.join();
    }
}

void ChunkWorkers::submit(Chunk& chunk) {
    chunk.done = false;
    chunk.produced.reset();
    if (threads_.empty()) {
        chunk.produced = inlineCipher_.run(chunk.data, chunk.length, chunk.data);
        chunk.done = true;
        return;
    }
    {
        const std::lock_guard lock(mutex_);
        queue_.push_back(&chunk);
    }
    chunkQueued_.notify_one();
}

void ChunkWorkers::waitUntilDone(const Chunk& chunk) {
    std::unique_lock lock(mutex_);
    chunkDone_.wait(lock, [&chunk] { return chunk.done; });
}

void ChunkWorkers::work(ChunkCipher::Direction direction, const Bytes& key, const Bytes& iv) {
    ChunkCipher cipher(direction, key, iv);
    std::unique_lock lock(mutex_);
    for (;;) {
        chunkQueued_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) {
            return;
        }
        Chunk* chunk = queue_.front();
        queue_.pop_front();
        lock.unlock();
        const auto produced = cipher.run(chunk->data, chunk->length, chunk->data);
        lock.lock();
        chunk->produced = produced;
        chunk->done = true;
        chunkDone_.notify_all();
    }
}

} // namespace corvix
