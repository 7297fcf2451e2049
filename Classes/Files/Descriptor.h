#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <system_error>
#include <utility>

namespace corvix {

/// A file descriptor owned by one object and closed when it goes.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.fd_, -1));
        }
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    [[nodiscard]] int get() const { return fd_; }
    [[nodiscard]] bool isOpen() const { return fd_ >= 0; }
    /// Closes the descriptor held, if any, and holds `fd` instead.
    void reset(int fd = -1);
    /// Closes it now and says whether the close reported an error (a write that failed late).
    [[nodiscard]] std::error_code close();

private:
    int fd_ = -1;
};

/// The errno `number` as an error code of the generic category.
[[nodiscard]] std::error_code systemError(int number);

/// Writes all `size` bytes to `fd`, after the bytes `before` when there are any (in the same
/// call, where the system takes them all), going on after partial writes and interruptions;
/// the error that stopped it, or none.
[[nodiscard]] std::error_code writeAll(int fd, const void* data, std::size_t size,
                                       std::span<const std::uint8_t> before = {});

} // namespace corvix
