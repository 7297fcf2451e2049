#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace corvix {

/// The memory of the chunks in flight, shared by every run in the process: a fixed number of
/// buffers, so that memory stays the same whatever the number of files at once and their sizes.
/// A buffer is made on first use, grows to the largest size asked of it, and is kept for the
/// next run.
class ChunkBuffers {
public:
    /// A buffer taken from the pool; it goes back when the lease ends.
    class Lease {
    public:
        Lease(Lease&& other) noexcept = default;
        Lease& operator=(Lease&&) = delete;
        ~Lease();

        [[nodiscard]] std::uint8_t* data() const { return bytes_.get(); }

    private:
        friend class ChunkBuffers;
        Lease(ChunkBuffers& owner, std::unique_ptr<std::uint8_t[]> bytes, std::size_t capacity);

        ChunkBuffers* owner_;
        std::unique_ptr<std::uint8_t[]> bytes_;
        std::size_t capacity_;
    };

    explicit ChunkBuffers(std::size_t count);
    ChunkBuffers(const ChunkBuffers&) = delete;
    ChunkBuffers& operator=(const ChunkBuffers&) = delete;

    /// The process's buffers: sixteen, one for each lane of the multi-buffer cipher.
    [[nodiscard]] static ChunkBuffers& shared();

    /// A buffer of at least `size` bytes, waiting until one is free. A run that waits here must
    /// hold no other lease, so that the runs holding them can finish.
    [[nodiscard]] Lease take(std::size_t size);
    /// A buffer of at least `size` bytes when one is free now.
    [[nodiscard]] std::optional<Lease> tryTake(std::size_t size);

private:
    [[nodiscard]] bool available() const { return !free_.empty() || unmade_ > 0; }
    [[nodiscard]] Lease takeLocked(std::unique_lock<std::mutex>& lock, std::size_t size);
    void giveBack(std::unique_ptr<std::uint8_t[]> bytes, std::size_t capacity);

    struct Buffer {
        std::unique_ptr<std::uint8_t[]> bytes;
        std::size_t capacity = 0;
    };

    std::mutex mutex_;
    std::condition_variable returned_;
    std::vector<Buffer> free_;
    std::size_t unmade_;
};

} // namespace corvix
