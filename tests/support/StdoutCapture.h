#pragma once

#include <cstdio>
#include <string>

namespace corvix::test {
// Being retired: new tests use TestKit.h.
inline namespace legacy {

/// Sends everything written to standard output (file descriptor 1, from any thread) to a
/// temporary file until `stop` gives it back; the destructor stops too.
class StdoutCapture {
public:
    StdoutCapture();
    ~StdoutCapture();
    StdoutCapture(const StdoutCapture&) = delete;
    StdoutCapture& operator=(const StdoutCapture&) = delete;

    /// What was written since the start, or since the last `stop`; output goes back to where
    /// it went before.
    [[nodiscard]] std::string stop();

private:
    std::FILE* file_ = nullptr;
    int savedStdout_ = -1;
};

} // namespace legacy
} // namespace corvix::test
