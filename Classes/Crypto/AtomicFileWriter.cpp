#include "AtomicFileWriter.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace corvix {

namespace {

constexpr std::string_view kAlphabet = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t kSuffixLength = 6;
constexpr std::string_view kTemporaryEnd = ".part";

std::string randomSuffix() {
    thread_local std::mt19937_64 generator{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, kAlphabet.size() - 1);
    std::string suffix(kSuffixLength, ' ');
    for (char& c : suffix) {
        c = kAlphabet[pick(generator)];
    }
    return suffix;
}

// A name near the file system's limit (255 bytes) would not fit with the dot and the suffix
// around it, so the temporary file keeps only the start of it, cut between UTF-8 sequences.
std::string temporaryStem(const std::string& name) {
    constexpr std::size_t kLongestStem = 200;
    if (name.size() <= kLongestStem) {
        return name;
    }
    std::size_t cut = kLongestStem;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    return name.substr(0, cut);
}

// Tries `attempt` with fresh temporary names for `name` until one is free: 0 with the name in
// `chosen`, or the errno that stopped it.
template <typename Attempt>
int tryTemporaryNames(const std::string& name, std::string& chosen, Attempt attempt) {
    constexpr int kAttempts = 16;
    const std::string stem = temporaryStem(name);
    for (int i = 0; i < kAttempts; ++i) {
        chosen = "." + stem + "." + randomSuffix() + std::string(kTemporaryEnd);
        if (attempt(chosen)) {
            return 0;
        }
        if (errno != EEXIST) {
            const int failure = errno;
            chosen.clear();
            return failure;
        }
    }
    chosen.clear();
    return EEXIST;
}

// The umask is read once; Linux shows it without changing it, elsewhere it is set and put back.
unsigned processUmask() {
    static const unsigned mask = [] {
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);) {
            if (line.starts_with("Umask:")) {
                return static_cast<unsigned>(std::stoul(line.substr(6), nullptr, 8));
            }
        }
        const mode_t old = ::umask(077);
        ::umask(old);
        return static_cast<unsigned>(old);
    }();
    return mask;
}

bool isPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

} // namespace

AtomicFileWriter::AtomicFileWriter(std::string destination) : shown_(std::move(destination)) {
    const std::filesystem::path target(shown_);
    folderPath_ = target.has_parent_path() ? target.parent_path().string() : ".";
    name_ = target.filename().string();
}

AtomicFileWriter::AtomicFileWriter(const OpenFolder& folder, std::string name,
                                   std::string shownPath)
    : name_(std::move(name)), shown_(std::move(shownPath)) {
    std::error_code error;
    folder_ = folder.duplicate(error);
    if (error) {
        fail(error.value());
    }
}

AtomicFileWriter::~AtomicFileWriter() {
    discard();
}

bool AtomicFileWriter::openFolder() {
    if (!folder_.isOpen() && !error_) {
        std::error_code error;
        folder_ = OpenFolder::open(folderPath_, error);
        if (error) {
            fail(error.value());
        }
    }
    return folder_.isOpen() && !error_;
}

bool AtomicFileWriter::create(unsigned permissions) {
    if (!openFolder()) {
        return false;
    }
    if (!isPlainName(name_)) {
        fail(EISDIR);
        return false;
    }
    struct stat info {};
    std::error_code error;
    replacing_ = folder_.status(name_, info, false, error);
    if (error && error != std::errc::no_such_file_or_directory) {
        fail(error.value());
        return false;
    }
    mode_ = permissions & 0777 & ~processUmask();
    // A link at the destination is replaced, never written through; a dangling one is replaced
    // like a new file, one to anything but a regular file is refused like the thing itself.
    if (replacing_ && (!S_ISLNK(info.st_mode) || folder_.status(name_, info, true, error))) {
        if (!S_ISREG(info.st_mode)) {
            stage_ = Stage::NotRegular;
            fail(EEXIST);
            return false;
        }
        mode_ = info.st_mode & 07777;
    }
    if ((!replacing_ && openUnnamed()) || openNamed()) {
        stage_ = Stage::Writing;
        return true;
    }
    return false;
}

bool AtomicFileWriter::openUnnamed() {
#ifdef O_TMPFILE
    // An unnamed file is linked in through /proc/self/fd, without which it could not be named.
    static const bool canLink = ::access("/proc/self/fd", X_OK) == 0;
    if (canLink) {
        fd_ = ::openat(folder_.descriptor(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    }
#endif
    return fd_ >= 0;
}

bool AtomicFileWriter::openNamed() {
    const int folder = folder_.descriptor();
    const int failure = tryTemporaryNames(name_, temporary_, [&](const std::string& candidate) {
        fd_ = ::openat(folder, candidate.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        return fd_ >= 0;
    });
    if (failure != 0) {
        fail(failure);
        return false;
    }
    return true;
}

bool AtomicFileWriter::hasSpaceAvailable() const {
    return fd_ >= 0 && !error_;
}

std::ptrdiff_t AtomicFileWriter::write(const std::uint8_t* buffer, std::size_t n) {
    if (!hasSpaceAvailable()) {
        return -1;
    }
    for (;;) {
        const ssize_t count = ::write(fd_, buffer, n);
        if (count >= 0) {
            return count;
        }
        if (errno != EINTR) {
            fail(errno);
            return -1;
        }
    }
}

bool AtomicFileWriter::linkUnnamed() {
    const std::string self = "/proc/self/fd/" + std::to_string(fd_);
    const int folder = folder_.descriptor();
    if (::linkat(AT_FDCWD, self.c_str(), folder, name_.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        return true;
    }
    if (errno != EEXIST) {
        fail(errno);
        return false;
    }
    // The name was taken while the file was written: the file replaces it like any other.
    replacing_ = true;
    const int failure = tryTemporaryNames(name_, temporary_, [&](const std::string& candidate) {
        return ::linkat(AT_FDCWD, self.c_str(), folder, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0;
    });
    if (failure != 0) {
        fail(failure);
    }
    return false;
}

bool AtomicFileWriter::flushIfReplacing() {
    // EINVAL: a file system that has nothing to flush.
    if (replacing_ && ::fdatasync(fd_) != 0 && errno != EINVAL) {
        fail(errno);
        return false;
    }
    return true;
}

bool AtomicFileWriter::commit() {
    if (!hasSpaceAvailable()) {
        discard();
        return false;
    }
    if (::fchmod(fd_, mode_) != 0) {
        fail(errno);
        discard();
        return false;
    }
    const bool linkedNew = temporary_.empty() && linkUnnamed();
    if (error_ || (!linkedNew && !flushIfReplacing())) {
        discard();
        return false;
    }
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        fail(errno);
        if (linkedNew) {
            ::unlinkat(folder_.descriptor(), name_.c_str(), 0);
        }
        discard();
        return false;
    }
    if (linkedNew) {
        return true;
    }
    if (::renameat(folder_.descriptor(), temporary_.c_str(), folder_.descriptor(), name_.c_str()) !=
        0) {
        fail(errno);
        discard();
        return false;
    }
    temporary_.clear();
    return true;
}

void AtomicFileWriter::discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temporary_.empty()) {
        ::unlinkat(folder_.descriptor(), temporary_.c_str(), 0);
        temporary_.clear();
    }
}

void AtomicFileWriter::fail(int errorNumber) {
    if (!error_) {
        error_ = std::error_code(errorNumber, std::generic_category());
    }
}

std::string AtomicFileWriter::failure() const {
    switch (stage_) {
    case Stage::NotRegular:
        return shown_ + " exists and is not a regular file; it is left as it is";
    case Stage::Creating:
        return "cannot create a file beside " + shown_ + ": " + error_.message();
    case Stage::Writing:
        break;
    }
    return "cannot write " + shown_ + ": " + error_.message();
}

bool AtomicFileWriter::isTemporaryName(std::string_view name) {
    const std::size_t tail = kSuffixLength + kTemporaryEnd.size();
    // "." + at least one byte of the name + "." + suffix + ".part"
    if (name.size() < tail + 3 || name.front() != '.' || !name.ends_with(kTemporaryEnd) ||
        name[name.size() - tail - 1] != '.') {
        return false;
    }
    const std::string_view suffix = name.substr(name.size() - tail, kSuffixLength);
    return std::all_of(suffix.begin(), suffix.end(),
                       [](char c) { return kAlphabet.find(c) != std::string_view::npos; });
}

} // namespace corvix
