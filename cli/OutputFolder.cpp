#include "OutputFolder.h"

#include <cerrno>
#include <system_error>

namespace corvix::cli {

namespace fs = std::filesystem;

OutputFolder::OutputFolder(std::string root, bool shared)
    : root_(std::move(root)), opened_(shared ? std::make_shared<Opened>() : nullptr) {}

std::string OutputFolder::pathOf(const std::string& relative) const {
    return joined(root_, relative);
}

std::string OutputFolder::joined(const std::string& folder, const std::string& relative) {
    if (folder.empty()) {
        return relative;
    }
    return folder.ends_with('/') ? folder + relative : folder + "/" + relative;
}

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

std::variant<OpenFolder, std::string> OutputFolder::prepare(const std::string& relativeText) const {
    const fs::path relative(relativeText);
    if (!isPlainRelative(relative)) {
        return "output name " + relativeText + " would leave " + root_;
    }
    std::variant<OpenFolder, std::string> fresh;
    if (opened_) {
        std::call_once(opened_->once, [this] { opened_->root = openRoot(); });
    } else {
        fresh = openRoot();
    }
    const auto& root = opened_ ? opened_->root : fresh;
    if (const auto* problem = std::get_if<std::string>(&root)) {
        return *problem;
    }
    std::error_code error;
    fs::path failedAt;
    OpenFolder folder =
        std::get<OpenFolder>(root).openBeneath(relative.parent_path(), true, error, &failedAt);
    if (!error) {
        return folder;
    }
    const std::string at = pathOf(failedAt.string());
    if (error.value() == ELOOP) {
        return at + " is a symbolic link; outputs are not written through it";
    }
    if (error.value() == ENOTDIR) {
        return at + " is in the way and is not a folder";
    }
    return "cannot make the folder " + at + ": " + error.message();
}

std::variant<OpenFolder, std::string> OutputFolder::openRoot() const {
    // The root is the user's own choice, so a link there is followed.
    const fs::path base = root_.empty() ? fs::path(".") : fs::path(root_);
    std::error_code error;
    fs::create_directories(base, error);
    OpenFolder folder = error ? OpenFolder() : OpenFolder::open(base, error);
    if (error) {
        return "cannot make the folder " + base.string() + ": " + error.message();
    }
    return folder;
}

} // namespace corvix::cli
