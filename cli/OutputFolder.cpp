#include "OutputFolder.h"

#include <system_error>

namespace corvix::cli {

namespace fs = std::filesystem;

namespace {

std::string described(const fs::path& path, const std::error_code& error) {
    return "cannot make the folder " + path.string() + ": " + error.message();
}

} // namespace

OutputFolder::OutputFolder(fs::path root) : root_(std::move(root)) {}

bool OutputFolder::isPlainRelative(const fs::path& relative) {
    if (relative.empty() || relative.has_root_path()) {
        return false;
    }
    for (const fs::path& part : relative) {
        if (part.empty() || part == "." || part == "..") {
            return false;
        }
    }
    return true;
}

std::optional<std::string> OutputFolder::prepare(const fs::path& relative) const {
    if (!isPlainRelative(relative)) {
        return "output name " + relative.string() + " would leave " + root_.string();
    }
    // An empty root is the current folder. The root is the user's own choice, so a link
    // there is followed.
    const fs::path base = root_.empty() ? fs::path(".") : root_;
    std::error_code error;
    fs::create_directories(base, error);
    if (error || !fs::is_directory(base, error)) {
        return error ? described(base, error) : base.string() + " is not a folder";
    }
    fs::path at = root_;
    for (const fs::path& part : relative.parent_path()) {
        at /= part;
        const fs::file_status status = fs::symlink_status(at, error);
        if (fs::is_symlink(status)) {
            return at.string() + " is a symbolic link; outputs are not written through it";
        }
        if (fs::exists(status)) {
            if (!fs::is_directory(status)) {
                return at.string() + " is in the way and is not a folder";
            }
            continue;
        }
        // Another worker may make the same folder at the same moment; both are fine.
        if (!fs::create_directory(at, error) && !fs::is_directory(fs::symlink_status(at))) {
            return described(at, error);
        }
    }
    return std::nullopt;
}

} // namespace corvix::cli
