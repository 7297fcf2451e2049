#include "FileInputStream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvix {

namespace {
constexpr std::size_t kBufferSize = 64 * 1024;
// Reads at least this large skip the buffer and go straight to the caller's memory.
constexpr std::size_t kDirectReadSize = 4 * 1024;
} // namespace

FileInputStream::FileInputStream(std::string path)
    : folder_(AT_FDCWD), name_(path), shown_(std::move(path)), followLink_(true) {}

FileInputStream::FileInputStream(const OpenFolder& folder, std::string name, std::string shownPath)
    : folder_(folder.descriptor()), name_(std::move(name)), shown_(std::move(shownPath)),
      followLink_(false) {}

FileInputStream::~FileInputStream() {
    close();
}

bool FileInputStream::open() {
    // O_NONBLOCK keeps the open of a FIFO from waiting for a writer; it is refused below anyway.
    // On the regular files that are taken it changes nothing, so it is left set.
    fd_ = ::openat(folder_, name_.c_str(),
                   O_RDONLY | O_CLOEXEC | O_NONBLOCK | (followLink_ ? 0 : O_NOFOLLOW));
    if (fd_ < 0) {
        error_ = std::error_code(errno, std::generic_category());
        return false;
    }
    // Only a regular file has a size that tells how many bytes a read will deliver: a pipe or a
    // device reports 0 (or nothing useful) and would turn into an empty or endless body.
    struct stat info {};
    int refusal = 0;
    if (::fstat(fd_, &info) != 0) {
        refusal = errno;
    } else if (S_ISDIR(info.st_mode)) {
        refusal = EISDIR;
    } else if (!S_ISREG(info.st_mode)) {
        refusal = ENOTSUP;
    }
    if (refusal != 0) {
        error_ = std::error_code(refusal, std::generic_category());
        close();
        return false;
    }
    size_ = static_cast<std::uint64_t>(info.st_size);
    permissions_ = info.st_mode & 07777;
    return true;
}

void FileInputStream::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

std::optional<std::uint64_t> FileInputStream::size() const {
    if (fd_ < 0) {
        return std::nullopt;
    }
    return size_;
}

unsigned FileInputStream::permissions() const {
    return permissions_;
}

bool FileInputStream::rewind() {
    if (fd_ < 0 || error_) {
        return false;
    }
    if (::lseek(fd_, 0, SEEK_SET) != 0) {
        error_ = std::error_code(errno, std::generic_category());
        return false;
    }
    begin_ = 0;
    end_ = 0;
    atEnd_ = false;
    return true;
}

bool FileInputStream::hasBytesAvailable() const {
    return fd_ >= 0 && !atEnd_ && !error_;
}

std::ptrdiff_t FileInputStream::readFromFile(std::uint8_t* buffer, std::size_t n) {
    for (;;) {
        const ssize_t count = ::read(fd_, buffer, n);
        if (count > 0) {
            return count;
        }
        if (count == 0) {
            atEnd_ = true;
            return 0;
        }
        if (errno != EINTR) {
            error_ = std::error_code(errno, std::generic_category());
            return -1;
        }
    }
}

std::size_t FileInputStream::readAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t n,
                                    std::error_code& error) const {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t count =
            ::pread(fd_, buffer + done, n - done, static_cast<off_t>(offset + done));
        if (count > 0) {
            done += static_cast<std::size_t>(count);
        } else if (count == 0) {
            break;
        } else if (errno != EINTR) {
            error = std::error_code(errno, std::generic_category());
            break;
        }
    }
    return done;
}

bool FileInputStream::refill() {
    begin_ = 0;
    end_ = 0;
    if (!buffer_) {
        buffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(kBufferSize);
    }
    const std::ptrdiff_t count = readFromFile(buffer_.get(), kBufferSize);
    if (count <= 0) {
        return false;
    }
    end_ = static_cast<std::size_t>(count);
    return true;
}

std::ptrdiff_t FileInputStream::read(std::uint8_t* buffer, std::size_t n) {
    if (!hasBytesAvailable()) {
        return error_ ? -1 : 0;
    }
    if (n == 0) {
        return 0;
    }
    if (begin_ == end_) {
        if (n >= kDirectReadSize) {
            return readFromFile(buffer, n);
        }
        if (!refill()) {
            return error_ ? -1 : 0;
        }
    }
    const std::size_t count = std::min(n, end_ - begin_);
    std::memcpy(buffer, buffer_.get() + begin_, count);
    begin_ += count;
    return static_cast<std::ptrdiff_t>(count);
}

std::optional<std::uint64_t> FileInputStream::skipPast(std::uint8_t delimiter) {
    std::uint64_t skipped = 0;
    while (hasBytesAvailable()) {
        if (begin_ == end_ && !refill()) {
            break;
        }
        const auto* start = buffer_.get() + begin_;
        const auto* found =
            static_cast<const std::uint8_t*>(std::memchr(start, delimiter, end_ - begin_));
        if (found != nullptr) {
            const auto before = static_cast<std::size_t>(found - start);
            begin_ += before + 1;
            return skipped + before;
        }
        skipped += end_ - begin_;
        begin_ = end_;
    }
    return std::nullopt;
}

} // namespace corvix
