#include "FailingOutputStream.h"

#include <algorithm>

namespace corvix::test {
// Being retired: new tests use TestKit.h.
inline namespace legacy {

std::ptrdiff_t FailingOutputStream::write(const std::uint8_t* buffer, std::size_t n) {
    if (written.size() >= capacity_) {
        failed_ = true;
        return -1;
    }
    const std::size_t count = std::min({n, perWrite_, capacity_ - written.size()});
    written.insert(written.end(), buffer, buffer + count);
    return static_cast<std::ptrdiff_t>(count);
}

} // namespace legacy
} // namespace corvix::test
