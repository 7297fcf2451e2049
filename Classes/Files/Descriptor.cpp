#include "Files/Descriptor.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <sys/uio.h>
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

std::error_code writeAll(int fd, const void* data, std::size_t size,
                         std::span<const std::uint8_t> before) {
    std::array<iovec, 2> parts{{{const_cast<std::uint8_t*>(before.data()), before.size()},
                                {const_cast<void*>(data), size}}};
    for (std::size_t left = before.size() + size; left > 0;) {
        const ssize_t count = ::writev(fd, parts.data(), static_cast<int>(parts.size()));
        if (count <= 0 && (count == 0 || errno != EINTR)) {
            return systemError(count == 0 ? EIO : errno);
        }
        auto done = static_cast<std::size_t>(std::max<ssize_t>(count, 0));
        left -= done;
        for (iovec& part : parts) {
            const std::size_t taken = std::min(done, part.iov_len);
            part.iov_base = static_cast<char*>(part.iov_base) + taken;
            part.iov_len -= taken;
            done -= taken;
        }
    }
    return {};
}

} // namespace corvix
