#pragma once

#include "../Key/Bytes.h"
#include "ChunkCipher.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace corvix {

/// Threads that run the cipher over chunks handed to them, each with a cipher context of its
/// own. Chunks are transformed in place. With no threads, submit() does the work at once on
/// the calling thread, so small inputs never start one.
class ChunkWorkers {
public:
    struct Chunk {
        std::uint8_t* data = nullptr; // holds length + ChunkCipher::kBlockSize bytes
        std::size_t length = 0;
        std::uint64_t index = 0;
        std::optional<std::size_t> produced; // nothing when the cipher failed
        bool done = false;
    };

    ChunkWorkers(std::size_t threadCount, ChunkCipher::Direction direction, const Bytes& key,
                 const Bytes& iv);
    ~ChunkWorkers();
    ChunkWorkers(const ChunkWorkers&) = delete;
    ChunkWorkers& operator=(const ChunkWorkers&) = delete;

    /// Queues a chunk; it must stay alive and untouched until waitUntilDone() returns for it.
    void submit(Chunk& chunk);
    void waitUntilDone(const Chunk& chunk);

private:
    void work(ChunkCipher::Direction direction, const Bytes& key, const Bytes& iv);

    ChunkCipher inlineCipher_;
    std::mutex mutex_;
    std::condition_variable chunkQueued_;
    std::condition_variable chunkDone_;
    std::deque<Chunk*> queue_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace corvix
