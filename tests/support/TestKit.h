#pragma once

// What every test folder shares: a scratch folder, whole files, pattern bytes, child processes
// and a failing device. (Standard output is captured with GoogleTest's CaptureStdout.)

#include "Files/Streams.h"

#include <corvix/Bytes.h>
#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace corvix::test {

namespace fs = std::filesystem;

/// A fresh folder under the build tree, removed with its content when the test ends.
class Scratch {
public:
    Scratch();
    ~Scratch();
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;

    [[nodiscard]] const fs::path& path() const { return path_; }
    [[nodiscard]] fs::path operator/(std::string_view name) const { return path_ / name; }
    /// The names in the folder and below it (relative, sorted), hidden ones included.
    [[nodiscard]] std::vector<std::string> tree() const;

private:
    fs::path path_;
};

/// Whole files; a file that cannot be read or written throws, which fails the test.
void writeFile(const fs::path& path, std::string_view content);
void writeFile(const fs::path& path, const Bytes& content);
[[nodiscard]] std::string readFile(const fs::path& path);
[[nodiscard]] Bytes readBytes(const fs::path& path);

/// `plain` encrypted with the built-in key material into `path`; false when that fails.
[[nodiscard]] bool writeEncrypted(const fs::path& path, std::string_view plain);

/// Deterministic bytes in which no two 16-byte blocks are alike, so a misplaced block shows.
[[nodiscard]] Bytes pattern(std::size_t count, unsigned seed = 1);

/// How a child process ended and what it printed.
struct Exit {
    int code = -1;  ///< -1 when a signal ended it
    int signal = 0; ///< the signal that ended it, or 0
    std::string out;
    std::string err;
};

/// A program started in `folder` with stdout and stderr going to files (nothing can block it),
/// or stdout into the descriptor `out` when one is given; stdin is /dev/null.
class Child {
public:
    Child(const std::vector<std::string>& command, const fs::path& folder, int out = -1);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    void signal(int number) const { ::kill(pid_, number); }
    /// Stops the program (SIGSTOP) and lets it go on again until `ready` holds while it stands
    /// still; then leaves it stopped (signal it, then SIGCONT). False when it ends first.
    [[nodiscard]] bool freezeWhen(const std::function<bool()>& ready) const;
    /// Waits for the end and collects what it printed.
    Exit wait();

private:
    pid_t pid_ = -1;
    fs::path out_;
    fs::path err_;
};

/// Runs `command` in `folder` to its end.
[[nodiscard]] inline Exit run(const std::vector<std::string>& command,
                              const fs::path& folder = ".") {
    return Child(command, folder).wait();
}

/// The failing device: once `capacity` bytes are in, every write fails as on a full disk.
class FailingOutputStream final : public OutputStream {
public:
    explicit FailingOutputStream(std::size_t capacity) : capacity_(capacity) {}
    [[nodiscard]] bool hasSpaceAvailable() const override { return written.size() < capacity_; }
    std::ptrdiff_t write(const std::uint8_t* buffer, std::size_t n) override;
    Bytes written;

private:
    std::size_t capacity_;
};

} // namespace corvix::test
