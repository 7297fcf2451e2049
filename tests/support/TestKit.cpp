#include "TestKit.h"

#include "Basics/Encodings.h"
#include "Format/FileCipher.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <corvix/CorvixKey.h>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace corvix::test {

namespace {

// A new name under the scratch root, outside every folder a test looks into.
fs::path fresh(const char* stem) {
    static std::atomic<int> counter{0};
    fs::create_directories(CORVIX_TEST_SCRATCH);
    return fs::path(CORVIX_TEST_SCRATCH) /
           (std::string(stem) + "." + std::to_string(::getpid()) + "." + std::to_string(counter++));
}

} // namespace

Scratch::Scratch() : path_(fresh("run")) {
    fs::create_directory(path_);
}

Scratch::~Scratch() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::vector<std::string> Scratch::tree() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(path_)) {
        names.push_back(entry.path().lexically_relative(path_).string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

void writeFile(const fs::path& path, std::string_view content) {
    fs::create_directories(path.parent_path());
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file.write(content.data(), static_cast<std::streamsize>(content.size()))) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

void writeFile(const fs::path& path, const Bytes& content) {
    writeFile(path,
              std::string_view(reinterpret_cast<const char*>(content.data()), content.size()));
}

std::string readFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return {std::istreambuf_iterator<char>(file), {}};
}

Bytes readBytes(const fs::path& path) {
    return utf8Bytes(readFile(path));
}

bool writeEncrypted(const fs::path& path, std::string_view plain) {
    const fs::path source = fresh("plain");
    writeFile(source, plain);
    fs::create_directories(path.parent_path());
    const bool written = FileCipher::encrypt(source, path, "quorveth", *CorvixKey::material()).ok();
    fs::remove(source);
    return written;
}

Bytes pattern(std::size_t count, unsigned seed) {
    Bytes bytes(count);
    std::uint32_t state = seed * 2654435761U + 1;
    for (auto& byte : bytes) {
        state = state * 1664525U + 1013904223U;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
}

Child::Child(const std::vector<std::string>& command, const fs::path& folder, int out)
    : out_(fresh("out")), err_(fresh("err")) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out >= 0) {
        posix_spawn_file_actions_adddup2(&actions, out, 1);
    }
    posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    std::vector<char*> argv;
    for (const std::string& arg : command) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const int error = ::posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        throw std::runtime_error("cannot start " + command[0]);
    }
}

Child::~Child() {
    if (pid_ > 0) {
        signal(SIGKILL);
        std::ignore = wait();
    }
}

bool Child::freezeWhen(const std::function<bool()>& ready) const {
    for (;;) {
        signal(SIGSTOP);
        siginfo_t info{};
        while (::waitid(P_PID, pid_, &info, WSTOPPED | WEXITED | WNOWAIT) != 0 && errno == EINTR) {
        }
        if (info.si_code != CLD_STOPPED) {
            return false;
        }
        if (ready()) {
            return true;
        }
        signal(SIGCONT);
    }
}

Exit Child::wait() {
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    Exit exit;
    exit.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    exit.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    exit.out = readFile(out_);
    exit.err = readFile(err_);
    fs::remove(out_);
    fs::remove(err_);
    return exit;
}

std::ptrdiff_t FailingOutputStream::write(const std::uint8_t* buffer, std::size_t n) {
    if (!hasSpaceAvailable()) {
        return -1;
    }
    const std::size_t taken = std::min(n, capacity_ - written.size());
    written.insert(written.end(), buffer, buffer + taken);
    return static_cast<std::ptrdiff_t>(taken);
}

} // namespace corvix::test
