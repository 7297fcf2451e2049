#pragma once

#include <cstddef>
#include <cstdint>

namespace corvix {

/// A sink of bytes, written in order.
class OutputStream {
public:
    virtual ~OutputStream() = default;

    /// False once a write has failed.
    [[nodiscard]] virtual bool hasSpaceAvailable() const = 0;

    /// Writes up to n bytes; returns the count written or a negative number on error.
    virtual std::ptrdiff_t write(const std::uint8_t* buffer, std::size_t n) = 0;
};

} // namespace corvix
