#include "ChildProcess.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace corvix::reliability {

namespace {

ChildResult resultOf(int status) {
    ChildResult result;
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

int waitFor(pid_t pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

void applyLimit(const ChildOptions& options) {
    if (options.fileSizeLimit) {
        const rlimit limit{*options.fileSizeLimit, *options.fileSizeLimit};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            ::_exit(126);
        }
    }
}

// Reads both pipes to their end without letting either fill up and stall the child.
void drain(int outputPipe, int errorPipe, std::string& output, std::string& errors) {
    std::array<pollfd, 2> fds{pollfd{outputPipe, POLLIN, 0}, pollfd{errorPipe, POLLIN, 0}};
    std::array<std::string*, 2> targets{&output, &errors};
    int open = 2;
    std::array<char, 4096> buffer{};
    while (open > 0) {
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            const ssize_t count = ::read(fds[i].fd, buffer.data(), buffer.size());
            if (count > 0) {
                targets[i]->append(buffer.data(), static_cast<std::size_t>(count));
            } else if (count == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
}

} // namespace

ChildProcess::ChildProcess(std::vector<std::string> arguments, ChildOptions options)
    : arguments_(std::move(arguments)), options_(std::move(options)) {}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        kill();
        wait();
    }
}

void ChildProcess::start() {
    int output[2] = {-1, -1};
    int errors[2] = {-1, -1};
    if (options_.captureOutput &&
        (::pipe2(output, O_CLOEXEC) != 0 || ::pipe2(errors, O_CLOEXEC) != 0)) {
        throw std::runtime_error("pipe failed");
    }
    std::vector<char*> argv;
    for (auto& argument : arguments_) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    pid_ = ::fork();
    if (pid_ < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) {
        applyLimit(options_);
        ::signal(SIGXFSZ, SIG_DFL);
        if (options_.captureOutput) {
            ::dup2(output[1], STDOUT_FILENO);
            ::dup2(errors[1], STDERR_FILENO);
        } else {
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
        }
        for (const auto& entry : options_.environment) {
            ::putenv(const_cast<char*>(entry.c_str()));
        }
        ::execv(argv[0], argv.data());
        ::dprintf(STDERR_FILENO, "cannot run %s: %s\n", argv[0], std::strerror(errno));
        ::_exit(127);
    }
    if (options_.captureOutput) {
        ::close(output[1]);
        ::close(errors[1]);
        outputPipe_ = output[0];
        errorPipe_ = errors[0];
    }
}

void ChildProcess::kill() {
    if (pid_ > 0 && !status_) {
        ::kill(pid_, SIGKILL);
    }
}

bool ChildProcess::hasEnded() {
    int status = 0;
    if (!status_ && pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = status;
    }
    return status_.has_value();
}

ChildResult ChildProcess::wait() {
    std::string output;
    std::string errors;
    if (outputPipe_ >= 0) {
        drain(outputPipe_, errorPipe_, output, errors);
        outputPipe_ = errorPipe_ = -1;
    }
    ChildResult result = resultOf(status_ ? *status_ : waitFor(pid_));
    pid_ = -1;
    status_.reset();
    result.output = std::move(output);
    result.errors = std::move(errors);
    return result;
}

ChildResult ChildProcess::run(std::vector<std::string> arguments, ChildOptions options) {
    ChildProcess child(std::move(arguments), std::move(options));
    child.start();
    return child.wait();
}

ChildResult ChildProcess::runForked(const std::function<int()>& body, const ChildOptions& options) {
    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        applyLimit(options);
        ::signal(SIGXFSZ, SIG_IGN);
        ::_exit(body());
    }
    return resultOf(waitFor(pid));
}

} // namespace corvix::reliability
