#pragma once

#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <vector>

namespace corvix {

/// A folder held open by its descriptor. Whatever lies below it is reached relative to that
/// descriptor and never through a symbolic link, so a folder on the way that is renamed, or
/// swapped for a link while a run goes on, cannot send a read or a write anywhere else.
class OpenFolder {
public:
    /// Not open.
    OpenFolder() = default;
    ~OpenFolder();
    OpenFolder(OpenFolder&& other) noexcept;
    OpenFolder& operator=(OpenFolder&& other) noexcept;
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;

    /// Opens the folder at `path` as its caller names it: a link there is followed, since the
    /// path is the caller's own choice.
    [[nodiscard]] static OpenFolder open(const std::filesystem::path& path, std::error_code& error);

    /// Opens the folder `relative` (plain names only) below this one without following any link;
    /// with `create`, missing folders on the way are made. On failure `error` says why (ELOOP: a
    /// link on the way, ENOTDIR: something else than a folder) and `failedAt`, when given, the
    /// leading part of `relative` that failed.
    [[nodiscard]] OpenFolder openBeneath(const std::filesystem::path& relative, bool create,
                                         std::error_code& error,
                                         std::filesystem::path* failedAt = nullptr) const;

    /// Another handle on the same folder.
    [[nodiscard]] OpenFolder duplicate(std::error_code& error) const;

    /// The names in the folder, "." and ".." left out, in no particular order.
    [[nodiscard]] std::vector<std::string> names(std::error_code& error) const;

    /// The status of `name` in the folder, of a link itself unless `followLink`.
    [[nodiscard]] bool status(const std::string& name, struct stat& info, bool followLink,
                              std::error_code& error) const;

    [[nodiscard]] bool isOpen() const { return fd_ >= 0; }
    [[nodiscard]] int descriptor() const { return fd_; }

private:
    explicit OpenFolder(int fd) : fd_(fd) {}

    /// One name, no link followed; made first when missing and `create` is set.
    [[nodiscard]] OpenFolder openChild(const std::string& name, bool create,
                                       std::error_code& error) const;

    int fd_ = -1;
};

} // namespace corvix
