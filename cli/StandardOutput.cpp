#include "StandardOutput.h"

#include <atomic>
#include <cerrno>
#include <unistd.h>

namespace corvix::cli {

namespace {

std::atomic<int> firstError{0};

} // namespace

bool StandardOutput::write(std::string_view text) {
    while (!text.empty() && firstError.load() == 0) {
        const ssize_t count = ::write(STDOUT_FILENO, text.data(), text.size());
        if (count > 0) {
            text.remove_prefix(static_cast<std::size_t>(count));
        } else if (count == 0 || errno != EINTR) {
            firstError.store(count == 0 ? EIO : errno);
        }
    }
    return text.empty();
}

std::error_code StandardOutput::error() {
    return {firstError.load(), std::generic_category()};
}

bool StandardOutput::closed() {
    return firstError.load() == EPIPE;
}

} // namespace corvix::cli
