#pragma once

#include <cstddef>
#include <cstdint>

namespace corvix {

/// A source of bytes, read in order.
class InputStream {
public:
    virtual ~InputStream() = default;

    /// True while a read may still deliver bytes: a stream that has not yet met its end or an
    /// error keeps answering true, even when the next read will find the end.
    [[nodiscard]] virtual bool hasBytesAvailable() const = 0;

    /// Reads up to n bytes; returns the count read, 0 at the end, a negative number on error.
    virtual std::ptrdiff_t read(std::uint8_t* buffer, std::size_t n) = 0;
};

} // namespace corvix
