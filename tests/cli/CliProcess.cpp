#include "CliProcess.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <pty.h>
#include <sstream>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace corvix::test {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void execCli(const std::vector<std::string>& args, const fs::path& folder) {
    std::vector<char*> argv;
    std::string program = CORVIX_CLI_PATH;
    argv.push_back(program.data());
    std::vector<std::string> copies(args);
    for (std::string& arg : copies) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    if (::chdir(folder.c_str()) == 0) {
        ::execv(program.c_str(), argv.data());
    }
    ::_exit(127);
}

int openForOutput(const fs::path& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
}

int waitFor(pid_t child) {
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

CliRun runCli(const std::vector<std::string>& args, const fs::path& folder) {
    const TempFolder capture;
    const fs::path outPath = capture / "out";
    const fs::path errPath = capture / "err";
    const pid_t child = ::fork();
    if (child == 0) {
        const int out = openForOutput(outPath);
        const int err = openForOutput(errPath);
        if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) {
            ::_exit(126);
        }
        execCli(args, folder);
    }
    CliRun run;
    run.exitCode = waitFor(child);
    run.out = readFile(outPath);
    run.err = readFile(errPath);
    return run;
}

CliRun runCliOnTerminal(const std::vector<std::string>& args, const fs::path& folder) {
    const TempFolder capture;
    const fs::path outPath = capture / "out";
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        throw std::runtime_error("no pseudo-terminal");
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(master);
        const int out = openForOutput(outPath);
        if (out < 0 || ::dup2(out, 1) < 0 || ::dup2(slave, 2) < 0) {
            ::_exit(126);
        }
        execCli(args, folder);
    }
    ::close(slave);
    CliRun run;
    char buffer[4096];
    // Reading ends with EIO once the child, the last holder of the terminal, has closed it.
    for (;;) {
        const ssize_t count = ::read(master, buffer, sizeof buffer);
        if (count > 0) {
            run.err.append(buffer, static_cast<std::size_t>(count));
        } else if (count == 0 || errno != EINTR) {
            break;
        }
    }
    ::close(master);
    run.exitCode = waitFor(child);
    run.out = readFile(outPath);
    return run;
}

TempFolder::TempFolder() {
    std::string pattern = (fs::temp_directory_path() / "corvix-cli-test.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary folder");
    }
    path_ = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

void writeFile(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

} // namespace corvix::test
