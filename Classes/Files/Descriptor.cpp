#include "Files/Descriptor.h"

#include <cerrno>
#include <unistd.h>

namespace corvix {

void Descriptor::reset(int fd) {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = fd;
}

std::error_code Descriptor::close() {
    const int fd = std::exchange(fd_, -1);
    return fd >= 0 && ::close(fd) != 0 ? systemError(errno) : std::error_code();
}

std::error_code systemError(int number) {
    return {number, std::generic_category()};
}

std::error_code writeAll(int fd, const void* data, std::size_t size) {
    const auto* next = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t count = ::write(fd, next, size);
        if (count > 0) {
            next += count;
            size -= static_cast<std::size_t>(count);
        } else if (count == 0 || errno != EINTR) {
            return systemError(count == 0 ? EIO : errno);
        }
    }
    return {};
}

} // namespace corvix
