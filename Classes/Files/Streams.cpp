#include "Files/Streams.h"

namespace corvix {

std::size_t readFully(InputStream& stream, std::uint8_t* buffer, std::size_t n) {
    std::size_t total = 0;
    while (total < n && stream.hasBytesAvailable()) {
        const std::ptrdiff_t count = stream.read(buffer + total, n - total);
        if (count <= 0) {
            break;
        }
        total += static_cast<std::size_t>(count);
    }
    return total;
}

std::size_t writeFully(OutputStream& stream, const std::uint8_t* buffer, std::size_t n) {
    std::size_t total = 0;
    while (total < n && stream.hasSpaceAvailable()) {
        const std::ptrdiff_t count = stream.write(buffer + total, n - total);
        if (count <= 0) {
            break;
        }
        total += static_cast<std::size_t>(count);
    }
    return total;
}

} // namespace corvix
