#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace corvix::test {

/// What one run of corvix-cli left behind.
struct CliRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

/// Runs the built corvix-cli in `folder` with stdout and stderr going to files, so neither
/// is a terminal.
CliRun runCli(const std::vector<std::string>& args, const std::filesystem::path& folder);

/// Runs it with stderr on a pseudo-terminal (stdout still to a file); `err` is what the
/// terminal received.
CliRun runCliOnTerminal(const std::vector<std::string>& args, const std::filesystem::path& folder);

/// A fresh folder under the system's temporary folder, removed with everything in it.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }
    [[nodiscard]] std::filesystem::path operator/(const std::string& name) const {
        return path_ / name;
    }

private:
    std::filesystem::path path_;
};

void writeFile(const std::filesystem::path& path, const std::string& content);
[[nodiscard]] std::string readFile(const std::filesystem::path& path);
/// Lines of a text, without their newlines.
[[nodiscard]] std::vector<std::string> linesOf(const std::string& text);

} // namespace corvix::test
