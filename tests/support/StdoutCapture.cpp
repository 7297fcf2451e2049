#include "StdoutCapture.h"

#include <unistd.h>

namespace corvix::test {
// Being retired: new tests use TestKit.h.
inline namespace legacy {

StdoutCapture::StdoutCapture() : file_(std::tmpfile()) {
    std::fflush(stdout);
    if (file_ != nullptr) {
        savedStdout_ = ::dup(STDOUT_FILENO);
        ::dup2(::fileno(file_), STDOUT_FILENO);
    }
}

StdoutCapture::~StdoutCapture() {
    (void)stop();
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

std::string StdoutCapture::stop() {
    if (savedStdout_ < 0) {
        return {};
    }
    std::fflush(stdout);
    ::dup2(savedStdout_, STDOUT_FILENO);
    ::close(savedStdout_);
    savedStdout_ = -1;
    std::string text;
    std::rewind(file_);
    char buffer[4096];
    for (std::size_t count; (count = std::fread(buffer, 1, sizeof buffer, file_)) > 0;) {
        text.append(buffer, count);
    }
    return text;
}

} // namespace legacy
} // namespace corvix::test
