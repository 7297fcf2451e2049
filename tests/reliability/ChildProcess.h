#pragma once

#include <functional>
#include <optional>
#include <string>
#include <sys/resource.h>
#include <sys/types.h>
#include <vector>

namespace corvix::reliability {

/// How a child process ended, and what it printed when its output was captured.
struct ChildResult {
    int exitCode = -1; ///< -1 when it was ended by a signal
    int signal = 0;
    std::string output;
    std::string errors;
};

struct ChildOptions {
    /// RLIMIT_FSIZE for the child: a write past it fails with EFBIG (SIGXFSZ is left at its
    /// default, so a program that does not ignore it dies, which the tests want to see).
    std::optional<rlim_t> fileSizeLimit;
    /// Extra KEY=VALUE entries for the child's environment.
    std::vector<std::string> environment;
    /// Off: the child writes to /dev/null, so nothing blocks when it is killed mid-run.
    bool captureOutput = true;

    [[nodiscard]] static ChildOptions limitedTo(rlim_t fileSize) {
        ChildOptions options;
        options.fileSizeLimit = fileSize;
        return options;
    }
    [[nodiscard]] static ChildOptions uncaptured() {
        ChildOptions options;
        options.captureOutput = false;
        return options;
    }
    [[nodiscard]] static ChildOptions withEnvironment(std::vector<std::string> entries) {
        ChildOptions options;
        options.environment = std::move(entries);
        return options;
    }
};

/// A program run in a child process with fork and exec.
class ChildProcess {
public:
    explicit ChildProcess(std::vector<std::string> arguments, ChildOptions options = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void start();
    void kill();
    /// True once the child has ended (it is then reaped, and wait() returns at once).
    [[nodiscard]] bool hasEnded();
    /// Waits for the end, reading the captured output meanwhile.
    ChildResult wait();

    static ChildResult run(std::vector<std::string> arguments, ChildOptions options = {});

    /// Runs `body` in a forked copy of this process under `options.fileSizeLimit` (with
    /// SIGXFSZ ignored, as a program must for the limit to show as a failed write) and gives
    /// the value it returns as the exit code.
    static ChildResult runForked(const std::function<int()>& body, const ChildOptions& options);

private:
    std::vector<std::string> arguments_;
    ChildOptions options_;
    pid_t pid_ = -1;
    std::optional<int> status_;
    int outputPipe_ = -1;
    int errorPipe_ = -1;
};

} // namespace corvix::reliability
