#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/types.h>
#include <vector>

namespace corvix::test {
// Being retired: new tests use TestKit.h.
inline namespace legacy {

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
    /// Off: output goes to /dev/null, so nothing blocks when the child is killed mid-run.
    bool captureOutput = true;
    /// RLIMIT_FSIZE for the child: a write past it fails with EFBIG (SIGXFSZ is left at its
    /// default, so a program that does not ignore it dies, which a test may want to see).
    std::optional<rlim_t> fileSizeLimit;
    /// Then `wait` kills the child with SIGKILL.
    std::chrono::milliseconds timeout = std::chrono::seconds(60);
};

/// A program run in a child process (found on PATH unless it names a path), its stdout and
/// stderr captured so that neither is a terminal unless asked for.
class Process {
public:
    explicit Process(std::vector<std::string> command, ProcessOptions options = {});
    /// Kills and reaps a child still running.
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    void start();
    void kill();
    /// True once the child has ended (it is then reaped, and `wait` returns at once).
    [[nodiscard]] bool hasEnded();
    /// Waits for the end, reading the captured output meanwhile.
    ProcessResult wait();

private:
    std::vector<std::string> command_;
    ProcessOptions options_;
    pid_t pid_ = -1;
    std::optional<int> status_;
    int out_ = -1;
    int err_ = -1;
};

/// Starts `command` and waits for it.
[[nodiscard]] ProcessResult runProcess(std::vector<std::string> command,
                                       ProcessOptions options = {});

/// Runs `body` in a forked child and gives its exit code, or -1 when it was killed by a signal
/// or had not finished after `timeout` (then it is killed). The child's test assertions are not
/// reported, so `body` answers through its exit code.
[[nodiscard]] int runInChild(const std::function<int()>& body,
                             std::chrono::milliseconds timeout = std::chrono::seconds(20));

} // namespace legacy
} // namespace corvix::test
