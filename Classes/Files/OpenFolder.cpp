#include "Files/OpenFolder.h"

#include <atomic>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

#if defined(__linux__) && !defined(CORVIX_PORTABLE_FS)
#include <linux/openat2.h>
#include <sys/syscall.h>
#endif

namespace corvix {

namespace fs = std::filesystem;

namespace {

// A folder is only ever a place to look names up in, so it is opened for that alone where the
// system allows it; its names are read through a descriptor of their own (see names()).
#if defined(O_PATH) && !defined(CORVIX_PORTABLE_FS)
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

#if defined(SYS_openat2) && !defined(CORVIX_PORTABLE_FS)
std::atomic<bool> kernelLacksOpenat2{false};

// The whole relative path in one call, the kernel refusing links and anything that leaves the
// folder; -1 with errno when it cannot.
int openBeneathAtOnce(int folder, const fs::path& relative) {
    if (kernelLacksOpenat2.load(std::memory_order_relaxed)) {
        errno = ENOSYS;
        return -1;
    }
    open_how how{};
    how.flags = static_cast<std::uint64_t>(kFolderFlags);
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
    const long fd = ::syscall(SYS_openat2, folder, relative.c_str(), &how, sizeof how);
    if (fd < 0 && errno == ENOSYS) {
        kernelLacksOpenat2.store(true, std::memory_order_relaxed);
    }
    return static_cast<int>(fd);
}
#endif

} // namespace

bool OpenFolder::isPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

Outcome<OpenFolder> OpenFolder::open(const fs::path& path) {
    const int fd = ::open(path.empty() ? "." : path.c_str(), kFolderFlags);
    if (fd < 0) {
        return Error::system(errno, path.string(), "cannot open the folder");
    }
    return OpenFolder(fd);
}

Outcome<OpenFolder> OpenFolder::openBeneath(const fs::path& relative, bool create) const {
    if (relative.empty()) {
        return Error::system(EINVAL, {}, "not a plain name");
    }
#if defined(SYS_openat2) && !defined(CORVIX_PORTABLE_FS)
    if (const int fd = openBeneathAtOnce(fd_.get(), relative); fd >= 0) {
        return OpenFolder(fd);
    }
    // A folder to make, a path too long for one call, a link to name: the walk below meets the
    // same outcome one name at a time and knows which name it was.
#endif
    OpenFolder walked;
    const OpenFolder* current = this;
    fs::path done;
    for (const fs::path& part : relative) {
        done /= part;
        auto child = current->openChild(part.string(), create);
        if (!child) {
            return Error{child.error().code, done.string(), child.error().reason};
        }
        walked = std::move(*child);
        current = &walked;
    }
    return walked;
}

Outcome<std::shared_ptr<const OpenFolder>>
OpenFolder::sharedBeneath(const std::shared_ptr<const OpenFolder>& folder, const fs::path& relative,
                          bool create) {
    if (relative.empty()) {
        return folder;
    }
    auto opened = folder->openBeneath(relative, create);
    if (!opened) {
        return opened.error();
    }
    return std::make_shared<const OpenFolder>(std::move(*opened));
}

Outcome<OpenFolder> OpenFolder::openChild(const std::string& name, bool create) const {
    if (!isPlainName(name)) {
        return Error::system(EINVAL, name, "not a plain name");
    }
    int fd = ::openat(fd_.get(), name.c_str(), kFolderFlags | O_NOFOLLOW);
    if (fd < 0 && errno == ENOENT && create) {
        // Another run or worker may make the same folder at the same moment; both are fine.
        if (::mkdirat(fd_.get(), name.c_str(), 0777) != 0 && errno != EEXIST) {
            return Error::system(errno, name, "cannot make the folder");
        }
        fd = ::openat(fd_.get(), name.c_str(), kFolderFlags | O_NOFOLLOW);
    }
    if (fd < 0) {
        int cause = errno;
        struct stat info {};
        // With O_DIRECTORY a link is reported as "not a folder"; it deserves its own reason.
        if (cause == ENOTDIR &&
            ::fstatat(fd_.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(info.st_mode)) {
            cause = ELOOP;
        }
        return Error::system(cause, name, "cannot open the folder");
    }
    return OpenFolder(fd);
}

Outcome<std::vector<std::string>> OpenFolder::names() const {
    const int fd = ::openat(fd_.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(fd < 0 ? nullptr : ::fdopendir(fd),
                                                      ::closedir);
    if (!listing) {
        const int cause = errno;
        if (fd >= 0) {
            ::close(fd);
        }
        return Error::system(cause, {}, "cannot read the folder");
    }
    std::vector<std::string> found;
    errno = 0;
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            found.push_back(name);
        }
        errno = 0;
    }
    if (errno != 0) {
        return Error::system(errno, {}, "cannot read the folder");
    }
    return found;
}

Outcome<struct stat> OpenFolder::status(const std::string& name, bool followLink) const {
    struct stat info {};
    if (::fstatat(fd_.get(), name.c_str(), &info, followLink ? 0 : AT_SYMLINK_NOFOLLOW) != 0) {
        return Error::system(errno, name, "cannot look at it");
    }
    return info;
}

} // namespace corvix
