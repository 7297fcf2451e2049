#include "Files/FileInputStream.h"

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

Outcome<> FileInputStream::open() {
    if (fd_.isOpen()) {
        return {};
    }
    // O_NONBLOCK keeps the open of a FIFO from waiting for a writer; it is refused below anyway.
    // On the regular files that are taken it changes nothing, so it is left set.
    fd_.reset(::openat(folder_, name_.c_str(),
                       O_RDONLY | O_CLOEXEC | O_NONBLOCK | (followLink_ ? 0 : O_NOFOLLOW)));
    // Only a regular file has a size that tells how many bytes a read will deliver: a pipe or a
    // device reports 0 (or nothing useful) and would turn into an empty or endless body.
    struct stat info {};
    if (!fd_.isOpen() || ::fstat(fd_.get(), &info) != 0) {
        error_ = systemError(errno);
    } else if (!S_ISREG(info.st_mode)) {
        error_ = systemError(S_ISDIR(info.st_mode) ? EISDIR : ENOTSUP);
    }
    if (error_) {
        close();
        return Error::system(error_, shown_, "cannot open");
    }
    size_ = static_cast<std::uint64_t>(info.st_size);
    permissions_ = info.st_mode & 07777;
    return {};
}

Outcome<std::string> FileInputStream::readText(const std::string& path, std::size_t limit) {
    FileInputStream input(path);
    if (Outcome<> opened = input.open(); !opened) {
        return opened.error();
    }
    // Sized by the file, not by the limit, and grown should the file grow meanwhile.
    std::string text;
    for (std::size_t piece = std::min<std::uint64_t>(input.size(), limit) + 1;
         text.size() <= limit && input.hasBytesAvailable(); piece = limit + 1 - text.size()) {
        const std::size_t done = text.size();
        text.resize(done + piece);
        text.resize(done + readFully(input, reinterpret_cast<std::uint8_t*>(&text[done]), piece));
    }
    if (input.error()) {
        return Error::system(input.error(), path, "cannot read");
    }
    return text;
}

bool FileInputStream::hasBytesAvailable() const {
    return fd_.isOpen() && !atEnd_ && !error_;
}

std::ptrdiff_t FileInputStream::readFromFile(std::uint8_t* buffer, std::size_t n) {
    for (;;) {
        const ssize_t count = ::read(fd_.get(), buffer, n);
        if (count > 0) {
            return count;
        }
        if (count == 0) {
            atEnd_ = true;
            return 0;
        }
        if (errno != EINTR) {
            error_ = systemError(errno);
            return -1;
        }
    }
}

Outcome<std::size_t> FileInputStream::readAt(std::uint64_t offset, std::uint8_t* buffer,
                                             std::size_t n) const {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t count =
            ::pread(fd_.get(), buffer + done, n - done, static_cast<off_t>(offset + done));
        if (count > 0) {
            done += static_cast<std::size_t>(count);
        } else if (count == 0) {
            break;
        } else if (errno != EINTR) {
            return Error::system(errno, shown_, "cannot read");
        }
    }
    return done;
}

bool FileInputStream::refill() {
    if (!buffer_) {
        buffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(kBufferSize);
    }
    const std::ptrdiff_t count = readFromFile(buffer_.get(), kBufferSize);
    begin_ = 0;
    end_ = count > 0 ? static_cast<std::size_t>(count) : 0;
    return count > 0;
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

std::optional<Bytes> FileInputStream::readThrough(std::uint8_t delimiter, std::size_t limit) {
    Bytes before;
    while (hasBytesAvailable() && before.size() <= limit) {
        if (begin_ == end_ && !refill()) {
            break;
        }
        const auto* start = buffer_.get() + begin_;
        const std::size_t looked = std::min(end_ - begin_, limit + 1 - before.size());
        const auto* found = static_cast<const std::uint8_t*>(std::memchr(start, delimiter, looked));
        const std::size_t taken =
            found != nullptr ? static_cast<std::size_t>(found - start) : looked;
        before.insert(before.end(), start, start + taken);
        if (found != nullptr) {
            begin_ += taken + 1;
            return before;
        }
        begin_ += taken;
    }
    return std::nullopt;
}

} // namespace corvix
