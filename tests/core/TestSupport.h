#pragma once

// Helpers shared by the core tests: scratch folders, deterministic data, a recorder for the
// file operations' callbacks, and a way to run a piece of code in a child process.

#include "Crypto/AESUtils.h"
#include "Key/Bytes.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace corvix::test {

constexpr std::size_t kMiB = 1048576;
constexpr std::size_t kCipherChunk = kMiB + 16;

/// A fresh folder under the build tree, removed with everything in it at the end of the test.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }
    /// The path of `name` inside the folder, as text.
    [[nodiscard]] std::string file(std::string_view name) const;
    /// The names in the folder, sorted: shows a temporary file that was left behind.
    [[nodiscard]] std::vector<std::string> entries() const;

private:
    std::filesystem::path path_;
};

/// Deterministic bytes that differ from chunk to chunk (no two 16-byte blocks alike).
[[nodiscard]] Bytes patternBytes(std::size_t count, std::uint32_t seed = 1);

void writeFile(const std::string& path, const Bytes& bytes);
[[nodiscard]] Bytes readFile(const std::string& path);
[[nodiscard]] Bytes slice(const Bytes& bytes, std::size_t offset, std::size_t count);

/// Size of an encrypted file with an 8-byte header text, from the layout: 24 + 1 bytes of
/// header line, then 1048592 bytes per full chunk and the padded rest.
[[nodiscard]] std::uint64_t encryptedSize(std::uint64_t sourceSize);

/// The header line every file written with "quorveth" and the built-in key material starts
/// with (computed once with `openssl enc -aes-256-cbc -a`); it pins the key string.
inline constexpr std::string_view kQuorvethHeaderLine = "UR4g+z0OV5YSSpHIpEA4ag==";

/// Records the callbacks of one file operation in the order they came.
class CallbackLog {
public:
    /// shouldCancel answers true on its `cancelOnCall`-th call (counting from 1); 0 = never.
    explicit CallbackLog(int cancelOnCall = 0) : cancelOnCall_(cancelOnCall) {}

    [[nodiscard]] AESUtils::ProgressCallback progress();
    [[nodiscard]] AESUtils::CompleteCallback complete();
    [[nodiscard]] AESUtils::FailureCallback failure();
    [[nodiscard]] AESUtils::CancelQuery cancel();

    /// Runs before shouldCancel answers, with the call's number: lets a test change the source
    /// between chunks.
    std::function<void(int call)> beforeCancelAnswer;

    /// "complete", "failure(false)", "failure(true)" in order, without the progress calls.
    std::vector<std::string> outcomes;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> progressCalls;
    int cancelQueries = 0;

private:
    int cancelOnCall_;
};

/// Runs `body` in a forked child and gives its exit code, or -1 when it was killed by a signal
/// or had not finished after `timeout` (then it is killed). The child inherits no gtest state
/// worth reporting, so `body` answers through its exit code.
[[nodiscard]] int runInChild(const std::function<int()>& body,
                             std::chrono::milliseconds timeout = std::chrono::seconds(20));

/// Runs a shell command; its exit status, or -1 when it did not exit normally.
[[nodiscard]] int runCommand(const std::string& command);

} // namespace corvix::test
