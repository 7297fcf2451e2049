#include "TestSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <signal.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace corvix::test {

ScratchDir::ScratchDir() {
    const std::filesystem::path root(CORVIX_TEST_SCRATCH);
    std::filesystem::create_directories(root);
    std::string pattern = (root / "core.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed under " + root.string());
    }
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ScratchDir::file(std::string_view name) const {
    return (path_ / name).string();
}

std::vector<std::string> ScratchDir::entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

Bytes patternBytes(std::size_t count, std::uint32_t seed) {
    Bytes bytes(count);
    std::uint64_t state = 0x9E3779B97F4A7C15ULL * (seed + 1);
    for (std::size_t i = 0; i < count; ++i) {
        // xorshift64*: fast, and no two chunks or blocks of the result coincide.
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        bytes[i] = static_cast<std::uint8_t>((state * 0x2545F4914F6CDD1DULL) >> 56);
    }
    return bytes;
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

Bytes readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes slice(const Bytes& bytes, std::size_t offset, std::size_t count) {
    const std::size_t start = std::min(offset, bytes.size());
    const std::size_t length = std::min(count, bytes.size() - start);
    const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(start);
    return Bytes(first, first + static_cast<std::ptrdiff_t>(length));
}

std::uint64_t encryptedSize(std::uint64_t sourceSize) {
    const std::uint64_t fullChunks = sourceSize / kMiB;
    const std::uint64_t rest = sourceSize % kMiB;
    return 25 + fullChunks * kCipherChunk + (rest > 0 ? 16 * (rest / 16 + 1) : 0);
}

AESUtils::ProgressCallback CallbackLog::progress() {
    return [this](std::uint64_t done, std::uint64_t total) {
        progressCalls.emplace_back(done, total);
    };
}

AESUtils::CompleteCallback CallbackLog::complete() {
    return [this] { outcomes.emplace_back("complete"); };
}

AESUtils::FailureCallback CallbackLog::failure() {
    return [this](bool cancelled) {
        outcomes.emplace_back(cancelled ? "failure(true)" : "failure(false)");
    };
}

AESUtils::CancelQuery CallbackLog::cancel() {
    return [this] {
        ++cancelQueries;
        if (beforeCancelAnswer) {
            beforeCancelAnswer(cancelQueries);
        }
        return cancelQueries == cancelOnCall_;
    };
}

int runInChild(const std::function<int()>& body, std::chrono::milliseconds timeout) {
    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child < 0) {
        return -1;
    }
    if (child == 0) {
        ::_exit(body());
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int runCommand(const std::string& command) {
    const int status = std::system(command.c_str());
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace corvix::test
