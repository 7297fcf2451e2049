#include "Process.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace corvix::test {
// Being retired: new tests use TestKit.h.
inline namespace legacy {

namespace {

using Clock = std::chrono::steady_clock;

/// Reads both descriptors to their end (a pipe's EOF, or EIO once a terminal's last holder has
/// closed it) without letting either fill up and stall the child, and closes them. False at
/// the deadline.
bool drain(std::array<int, 2> fds, std::array<std::string*, 2> targets,
           Clock::time_point deadline) {
    std::array<pollfd, 2> polled{pollfd{fds[0], POLLIN, 0}, pollfd{fds[1], POLLIN, 0}};
    int open = 2;
    char buffer[4096];
    while (open > 0) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        const int ready = ::poll(polled.data(), polled.size(),
                                 static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
        if (ready == 0 || (ready < 0 && errno != EINTR)) {
            break;
        }
        for (std::size_t i = 0; ready > 0 && i < polled.size(); ++i) {
            if (polled[i].fd < 0 || polled[i].revents == 0) {
                continue;
            }
            const ssize_t count = ::read(polled[i].fd, buffer, sizeof buffer);
            if (count > 0) {
                targets[i]->append(buffer, static_cast<std::size_t>(count));
            } else if (count == 0 || errno != EINTR) {
                ::close(polled[i].fd);
                polled[i].fd = -1;
                --open;
            }
        }
    }
    for (const pollfd& left : polled) {
        if (left.fd >= 0) {
            ::close(left.fd);
        }
    }
    return open == 0;
}

int waitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

} // namespace

Process::Process(std::vector<std::string> command, ProcessOptions options)
    : command_(std::move(command)), options_(std::move(options)) {}

Process::~Process() {
    if (pid_ > 0) {
        kill();
        (void)wait();
    }
}

void Process::start() {
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    if (options_.captureOutput) {
        const bool opened =
            ::pipe2(out, O_CLOEXEC) == 0 &&
            (options_.errOnTerminal ? ::openpty(&err[0], &err[1], nullptr, nullptr, nullptr)
                                    : ::pipe2(err, O_CLOEXEC)) == 0;
        if (!opened) {
            throw std::runtime_error("cannot make the child's output channels");
        }
        ::fcntl(err[0], F_SETFD, FD_CLOEXEC);
        ::fcntl(err[1], F_SETFD, FD_CLOEXEC);
    } else {
        out[1] = err[1] = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    }
    std::vector<char*> argv;
    for (std::string& argument : command_) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    std::fflush(stdout);
    pid_ = ::fork();
    if (pid_ < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) {
        const rlim_t size = options_.fileSizeLimit.value_or(RLIM_INFINITY);
        const rlimit limit{size, size};
        const bool ready = ::dup2(out[1], STDOUT_FILENO) >= 0 &&
                           ::dup2(err[1], STDERR_FILENO) >= 0 &&
                           (options_.folder.empty() || ::chdir(options_.folder.c_str()) == 0) &&
                           (!options_.fileSizeLimit || ::setrlimit(RLIMIT_FSIZE, &limit) == 0);
        if (ready) {
            ::signal(SIGXFSZ, SIG_DFL);
            ::execvp(argv[0], argv.data());
        }
        ::_exit(127);
    }
    ::close(out[1]);
    if (err[1] != out[1]) {
        ::close(err[1]);
    }
    out_ = out[0];
    err_ = err[0];
}

void Process::kill() {
    if (pid_ > 0 && !status_) {
        ::kill(pid_, SIGKILL);
    }
}

bool Process::hasEnded() {
    int status = 0;
    if (!status_ && pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = status;
    }
    return status_.has_value();
}

ProcessResult Process::wait() {
    ProcessResult result;
    if (out_ >= 0 &&
        !drain({out_, err_}, {&result.out, &result.err}, Clock::now() + options_.timeout)) {
        kill();
    }
    out_ = err_ = -1;
    const int status = status_ ? *status_ : waitFor(pid_);
    pid_ = -1;
    status_.reset();
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

ProcessResult runProcess(std::vector<std::string> command, ProcessOptions options) {
    Process child(std::move(command), std::move(options));
    child.start();
    return child.wait();
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
    const auto deadline = Clock::now() + timeout;
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace legacy
} // namespace corvix::test
