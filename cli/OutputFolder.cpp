#include "OutputFolder.h"

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace corvix::cli {

namespace fs = std::filesystem;

namespace {

// Whether `relative` names a place below the folder without leaving it.
bool isPlainRelative(const fs::path& relative) {
    return !relative.empty() && !relative.has_root_path() &&
           std::none_of(relative.begin(), relative.end(), [](const fs::path& part) {
               return part.empty() || part == "." || part == "..";
           });
}

} // namespace

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

Outcome<std::shared_ptr<const OpenFolder>>
OutputFolder::prepare(const std::string& relativeText) const {
    const fs::path relative(relativeText);
    if (!isPlainRelative(relative)) {
        return Error{std::make_error_code(std::errc::invalid_argument), pathOf(relativeText),
                     "would leave " + root_};
    }
    if (opened_) {
        std::call_once(opened_->once, [this] { opened_->root = openRoot(); });
    }
    const auto root = opened_ ? *opened_->root : openRoot();
    if (!root) {
        return root;
    }
    auto folder = OpenFolder::sharedBeneath(*root, relative.parent_path(), true);
    if (folder) {
        return folder;
    }
    const std::error_code code = folder.error().code;
    const std::string at = pathOf(folder.error().path);
    if (code.value() == ELOOP) {
        return Error{code, at, "is a symbolic link; outputs are not written through it"};
    }
    if (code.value() == ENOTDIR) {
        return Error{code, at, "is in the way and is not a folder"};
    }
    return Error::system(code, at, "cannot make the folder");
}

Outcome<std::shared_ptr<const OpenFolder>> OutputFolder::openRoot() const {
    // The root is the user's own choice, so a link there is followed.
    const fs::path base = root_.empty() ? fs::path(".") : fs::path(root_);
    std::error_code error;
    fs::create_directories(base, error);
    if (error) {
        return Error::system(error, base.string(), "cannot make the folder");
    }
    auto opened = OpenFolder::open(base);
    if (!opened) {
        return opened.error();
    }
    return std::make_shared<const OpenFolder>(std::move(*opened));
}

} // namespace corvix::cli
