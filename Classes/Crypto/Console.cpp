#include "Crypto/Console.h"

#include "Files/Descriptor.h"

#include <cerrno>
#include <mutex>
#include <string>
#include <unistd.h>

namespace corvix {

namespace {

std::mutex writing;
std::error_code firstError; // guarded by `writing`

} // namespace

bool Console::write(std::string_view text) {
    const std::lock_guard lock(writing);
    if (!firstError) {
        firstError = writeAll(STDOUT_FILENO, text.data(), text.size());
    }
    return !firstError;
}

bool Console::printLine(std::string_view line) {
    return write(std::string(line) + '\n');
}

std::error_code Console::error() {
    const std::lock_guard lock(writing);
    return firstError;
}

bool Console::closed() {
    return error() == std::errc::broken_pipe;
}

} // namespace corvix
