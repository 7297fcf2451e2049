#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace corvix::reliability {

/// A fresh private folder under the build tree (not /tmp, which may be a small RAM disk),
/// removed again with the object. Tests run in parallel, each in a folder of its own.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }
    [[nodiscard]] std::filesystem::path operator/(const std::string& name) const {
        return path_ / name;
    }

    /// Names of everything in `folder` (hidden files included), sorted.
    [[nodiscard]] static std::vector<std::string> entries(const std::filesystem::path& folder);
    /// The hidden temporary files (".NAME.XXXXXX.part") in `folder`.
    [[nodiscard]] static std::vector<std::string>
    temporaryFiles(const std::filesystem::path& folder);

private:
    std::filesystem::path path_;
};

} // namespace corvix::reliability
