#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace corvix::test {
// Being retired: new tests use TestKit.h.
inline namespace legacy {

/// A fresh private folder under the build tree (not /tmp, which may be a small RAM disk),
/// removed with everything in it at the end of the test. Tests run in parallel, each in its own.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }
    [[nodiscard]] std::filesystem::path operator/(std::string_view name) const {
        return path_ / name;
    }
    /// The path of `name` inside the folder, as the core's file operations take it.
    [[nodiscard]] std::string file(std::string_view name) const { return (path_ / name).string(); }
    /// The names in the folder, hidden ones included, sorted: shows a temporary file left behind.
    [[nodiscard]] std::vector<std::string> entries() const;

private:
    std::filesystem::path path_;
};

} // namespace legacy
} // namespace corvix::test
