#pragma once

#include "Crypto/OpenFolder.h"

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <variant>

namespace corvix::cli {

/// The folder that outputs are written under. It is made and opened once, on first use, and
/// every output is then reached from that open folder one name at a time: plain names only (no
/// "..", ".", root or empty part), and a folder on the way that is a symbolic link is refused
/// rather than followed, so nothing lands outside the folder even while the tree changes.
class OutputFolder {
public:
    /// An empty root stands for the current folder.
    explicit OutputFolder(std::string root);

    /// Where the output `relative` is shown to be.
    [[nodiscard]] std::string pathOf(const std::string& relative) const;
    /// `relative` below `folder` as one path; an empty folder is the current one.
    [[nodiscard]] static std::string joined(const std::string& folder, const std::string& relative);

    /// Whether `relative` names a place below the folder without leaving it.
    [[nodiscard]] static bool isPlainRelative(const std::filesystem::path& relative);

    /// The open folder that is to hold the output `relative`, made where missing; or the reason
    /// it cannot be had.
    [[nodiscard]] std::variant<OpenFolder, std::string> prepare(const std::string& relative) const;

private:
    /// The root, opened by the first task that needs it and shared by every copy.
    struct Opened {
        std::once_flag once;
        OpenFolder folder;
        std::string problem;
    };

    std::string root_;
    std::shared_ptr<Opened> opened_ = std::make_shared<Opened>();
};

} // namespace corvix::cli
