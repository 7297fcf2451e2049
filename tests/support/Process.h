#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace corvix::test {

/// How a child process ended and what it wrote.
struct ProcessResult {
    int exitCode = -1; ///< -1 when a signal ended it
    int signal = 0;
    std::string out;
    std::string err;
};

struct ProcessOptions {
    /// The child's working folder; empty: this process's.
    std::filesystem::path folder;
    /// Standard error on a pseudo-terminal instead of a pipe; `err` is what the terminal got.
    bool errOnTerminal = false;
    /// Then the child is killed with SIGKILL.
    std::chrono::milliseconds timeout = std::chrono::seconds(60);
};

/// Runs `command` (its program found on PATH unless it names a path) with stdout and stderr
/// captured, so neither is a terminal unless asked for.
[[nodiscard]] ProcessResult runProcess(const std::vector<std::string>& command,
                                       const ProcessOptions& options = {});

/// Runs `body` in a forked child and gives its exit code, or -1 when it was killed by a signal
/// or had not finished after `timeout` (then it is killed). The child's test assertions are not
/// reported, so `body` answers through its exit code.
[[nodiscard]] int runInChild(const std::function<int()>& body,
                             std::chrono::milliseconds timeout = std::chrono::seconds(20));

} // namespace corvix::test
