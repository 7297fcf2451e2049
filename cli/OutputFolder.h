#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace corvix::cli {

/// The folder that outputs are written under. It hands out paths below itself only: every
/// name must be a plain name (no "..", ".", root or empty part), and a folder on the way that
/// is a symbolic link is refused rather than followed, so nothing lands outside the folder.
class OutputFolder {
public:
    /// An empty root stands for the current folder.
    explicit OutputFolder(std::filesystem::path root);

    [[nodiscard]] const std::filesystem::path& root() const { return root_; }

    /// Whether `relative` names a place below the folder without leaving it.
    [[nodiscard]] static bool isPlainRelative(const std::filesystem::path& relative);

    /// Makes the folders on the way to `relative` (the folder itself included), refusing to
    /// pass through anything but real folders; the reason when it cannot.
    [[nodiscard]] std::optional<std::string> prepare(const std::filesystem::path& relative) const;

private:
    std::filesystem::path root_;
};

} // namespace corvix::cli
