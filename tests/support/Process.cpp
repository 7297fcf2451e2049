#include "Process.h"

#include <array>
#include <cerrno>
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

namespace {

using Clock = std::chrono::steady_clock;

/// Reads both descriptors to their end (a pipe's EOF, or EIO once a terminal's last holder has
/// closed it) without letting either fill up and stall the child. False at the deadline.
bool drain(std::array<int, 2> fds, std::array<std::string*, 2> targets, Clock::time_point deadline) {
    std::array<pollfd, 2> polled{pollfd{fds[0], POLLIN, 0}, pollfd{fds[1], POLLIN, 0}};
    int open = 2;
    char buffer[4096];
    while (open > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        const int ready = ::poll(polled.data(), polled.size(), static_cast<int>(std::max<long>(left.count(), 0)));
        if (ready == 0) {
            return false;
        }
        if (ready < 0 && errno != EINTR) {
            return true;
        }
        for (std::size_t i = 0; i < polled.size(); ++i) {
            if (polled[i].fd < 0 || polled[i].revents == 0) {
                continue;
            }
            const ssize_t count = ::read(polled[i].fd, buffer, sizeof buffer);
            if (count > 0) {
                targets[i]->append(buffer, static_cast<std::size_t>(count));
            } else if (count == 0 || errno != EINTR) {
                polled[i].fd = -1;
                --open;
            }
        }
    }
    return true;
}

int waitFor(pid_t child) {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

} // namespace

ProcessResult runProcess(const std::vector<std::string>& command, const ProcessOptions& options) {
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    const bool opened = ::pipe2(out, O_CLOEXEC) == 0 &&
                        (options.errOnTerminal ? ::openpty(&err[0], &err[1], nullptr, nullptr, nullptr)
                                               : ::pipe2(err, O_CLOEXEC)) == 0;
    if (!opened) {
        throw std::runtime_error("cannot make the child's output channels");
    }
    ::fcntl(err[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(err[1], F_SETFD, FD_CLOEXEC);
    std::vector<std::string> arguments(command);
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    std::fflush(stdout);
    const pid_t child = ::fork();
    if (child < 0) {
        throw std::runtime_error("fork failed");
    }
    if (child == 0) {
        const bool ready = ::dup2(out[1], STDOUT_FILENO) >= 0 && ::dup2(err[1], STDERR_FILENO) >= 0 &&
                           (options.folder.empty() || ::chdir(options.folder.c_str()) == 0);
        if (ready) {
            ::execvp(argv[0], argv.data());
        }
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    ProcessResult result;
    if (!drain({out[0], err[0]}, {&result.out, &result.err}, Clock::now() + options.timeout)) {
        ::kill(child, SIGKILL);
    }
    ::close(out[0]);
    ::close(err[0]);
    const int status = waitFor(child);
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
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

} // namespace corvix::test
