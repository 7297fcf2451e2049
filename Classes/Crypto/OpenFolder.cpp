#include "OpenFolder.h"

#include <atomic>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

#ifdef __linux__
#include <linux/openat2.h>
#include <sys/syscall.h>
#endif

namespace corvix {

namespace fs = std::filesystem;

namespace {

// A folder is only ever a place to look names up in, so it is opened for that alone where the
// system allows it; its names are read through a descriptor of their own (see names()).
#ifdef O_PATH
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

std::error_code systemError(int number) {
    return {number, std::generic_category()};
}

bool isPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

#ifdef SYS_openat2
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

OpenFolder::~OpenFolder() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

OpenFolder::OpenFolder(OpenFolder&& other) noexcept : fd_(other.fd_) {
    other.fd_ = -1;
}

OpenFolder& OpenFolder::operator=(OpenFolder&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

OpenFolder OpenFolder::open(const fs::path& path, std::error_code& error) {
    error.clear();
    const int fd = ::open(path.empty() ? "." : path.c_str(), kFolderFlags);
    if (fd < 0) {
        error = systemError(errno);
        return {};
    }
    return OpenFolder(fd);
}

OpenFolder OpenFolder::duplicate(std::error_code& error) const {
    error.clear();
    const int fd = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        error = systemError(errno);
        return {};
    }
    return OpenFolder(fd);
}

OpenFolder OpenFolder::openBeneath(const fs::path& relative, bool create, std::error_code& error,
                                   fs::path* failedAt) const {
    error.clear();
    if (relative.empty()) {
        return duplicate(error);
    }
#ifdef SYS_openat2
    if (const int fd = openBeneathAtOnce(fd_, relative); fd >= 0) {
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
        walked = current->openChild(part.string(), create, error);
        if (error) {
            if (failedAt != nullptr) {
                *failedAt = done;
            }
            return {};
        }
        current = &walked;
    }
    return walked;
}

OpenFolder OpenFolder::openChild(const std::string& name, bool create,
                                 std::error_code& error) const {
    if (!isPlainName(name)) {
        error = systemError(EINVAL);
        return {};
    }
    int fd = ::openat(fd_, name.c_str(), kFolderFlags | O_NOFOLLOW);
    if (fd < 0 && errno == ENOENT && create) {
        // Another run or worker may make the same folder at the same moment; both are fine.
        if (::mkdirat(fd_, name.c_str(), 0777) != 0 && errno != EEXIST) {
            error = systemError(errno);
            return {};
        }
        fd = ::openat(fd_, name.c_str(), kFolderFlags | O_NOFOLLOW);
    }
    if (fd < 0) {
        int cause = errno;
        struct stat info {};
        // With O_DIRECTORY a link is reported as "not a folder"; it deserves its own reason.
        if (cause == ENOTDIR && ::fstatat(fd_, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(info.st_mode)) {
            cause = ELOOP;
        }
        error = systemError(cause);
        return {};
    }
    return OpenFolder(fd);
}

std::vector<std::string> OpenFolder::names(std::error_code& error) const {
    error.clear();
    std::vector<std::string> found;
    const int fd = ::openat(fd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const std::unique_ptr<DIR, int (*)(DIR*)> listing(fd < 0 ? nullptr : ::fdopendir(fd),
                                                      ::closedir);
    if (!listing) {
        error = systemError(errno);
        if (fd >= 0) {
            ::close(fd);
        }
        return found;
    }
    errno = 0;
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            found.push_back(name);
        }
        errno = 0;
    }
    if (errno != 0) {
        error = systemError(errno);
    }
    return found;
}

bool OpenFolder::status(const std::string& name, struct stat& info, bool followLink,
                        std::error_code& error) const {
    error.clear();
    if (::fstatat(fd_, name.c_str(), &info, followLink ? 0 : AT_SYMLINK_NOFOLLOW) != 0) {
        error = systemError(errno);
        return false;
    }
    return true;
}

} // namespace corvix
