#pragma once

#include "Files/Descriptor.h"

#include <corvix/Outcome.h>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace corvix {

/// A folder held open by its descriptor. Whatever lies below it is reached relative to that
/// descriptor and never through a symbolic link, so a folder on the way that is renamed, or
/// swapped for a link while a run goes on, cannot send a read or a write anywhere else.
class OpenFolder {
public:
    /// Not open.
    OpenFolder() = default;

    /// Opens the folder at `path` as its caller names it: a link there is followed, since the
    /// path is the caller's own choice.
    [[nodiscard]] static Outcome<OpenFolder> open(const std::filesystem::path& path);

    /// Opens the folder `relative` (one or more plain names) below this one without following
    /// any link; with `create`, missing folders on the way are made. A failure's code says why
    /// (ELOOP: a link on the way, ENOTDIR: something other than a folder) and its path is the
    /// leading part of `relative` that failed.
    [[nodiscard]] Outcome<OpenFolder> openBeneath(const std::filesystem::path& relative,
                                                  bool create) const;

    /// The folder `relative` below `folder`, as openBeneath() opens it, to be shared: `folder`
    /// itself when `relative` is empty.
    [[nodiscard]] static Outcome<std::shared_ptr<const OpenFolder>>
    sharedBeneath(const std::shared_ptr<const OpenFolder>& folder,
                  const std::filesystem::path& relative, bool create);

    /// The names in the folder, "." and ".." left out, in no particular order.
    [[nodiscard]] Outcome<std::vector<std::string>> names() const;

    /// The status of `name` in the folder, of a link itself unless `followLink`.
    [[nodiscard]] Outcome<struct stat> status(const std::string& name, bool followLink) const;

    [[nodiscard]] bool isOpen() const { return fd_.isOpen(); }
    [[nodiscard]] int descriptor() const { return fd_.get(); }

    /// Whether `name` is one plain name: not empty, ".", "..", and without a '/'.
    [[nodiscard]] static bool isPlainName(const std::string& name);

private:
    explicit OpenFolder(int fd) : fd_(fd) {}

    /// One name, no link followed; made first when missing and `create` is set.
    [[nodiscard]] Outcome<OpenFolder> openChild(const std::string& name, bool create) const;

    Descriptor fd_;
};

} // namespace corvix
