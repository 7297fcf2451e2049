#include "Files/AtomicFileWriter.h"

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

// The umask is read once; Linux shows it without changing it, elsewhere it is set and put back.
unsigned processUmask() {
    static const unsigned mask = [] {
#if defined(__linux__) && !defined(CORVIX_PORTABLE_FS)
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);) {
            if (line.starts_with("Umask:")) {
                return static_cast<unsigned>(std::stoul(line.substr(6), nullptr, 8));
            }
        }
#endif
        const mode_t old = ::umask(077);
        ::umask(old);
        return static_cast<unsigned>(old);
    }();
    return mask;
}

} // namespace

AtomicFileWriter::AtomicFileWriter(std::string destination) : shown_(std::move(destination)) {
    const std::filesystem::path target(shown_);
    folderPath_ = target.has_parent_path() ? target.parent_path().string() : ".";
    name_ = target.filename().string();
}

AtomicFileWriter::AtomicFileWriter(std::shared_ptr<const OpenFolder> folder, std::string name,
                                   std::string shownPath)
    : folder_(std::move(folder)), name_(std::move(name)), shown_(std::move(shownPath)) {}

AtomicFileWriter::~AtomicFileWriter() {
    discard();
}

bool AtomicFileWriter::openFolder() {
    if (!folder_ && !failure_) {
        auto opened = OpenFolder::open(folderPath_);
        if (opened) {
            folder_ = std::make_shared<const OpenFolder>(std::move(*opened));
        } else {
            fail(opened.error().code.value(), "cannot open its folder");
        }
    }
    return folder_ && !failure_;
}

Outcome<std::optional<struct stat>> AtomicFileWriter::existing() {
    if (!existing_ && openFolder()) {
        if (!OpenFolder::isPlainName(name_)) {
            fail(EISDIR, "cannot create the file");
        } else if (auto found = folder_->status(name_, false)) {
            existing_ = *found;
        } else if (found.error().code == std::errc::no_such_file_or_directory) {
            existing_.emplace();
        } else {
            fail(found.error().code.value(), "cannot look at it");
        }
    }
    if (failure_) {
        return *failure_;
    }
    return *existing_;
}

Outcome<> AtomicFileWriter::create(unsigned permissions) {
    auto existing = this->existing();
    if (!existing) {
        return existing.error();
    }
    replacing_ = existing->has_value();
    mode_ = permissions & 0777 & ~processUmask();
    if (replacing_) {
        // A link at the destination is replaced, never written through; a dangling one is
        // replaced like a new file, one to anything but a regular file is refused like the
        // thing itself.
        auto target = S_ISLNK((*existing)->st_mode) ? folder_->status(name_, true)
                                                    : Outcome<struct stat>(**existing);
        if (target && !S_ISREG(target->st_mode)) {
            failure_ = Error::system(EEXIST, shown_,
                                     "exists and is not a regular file; it is left as it is");
            return failed();
        }
        if (target) {
            mode_ = target->st_mode & 07777;
        }
    }
    if ((!replacing_ && openUnnamed()) || openNamed()) {
        return {};
    }
    return failed();
}

bool AtomicFileWriter::openUnnamed() {
#if defined(O_TMPFILE) && !defined(CORVIX_PORTABLE_FS)
    // An unnamed file is linked in through /proc/self/fd, without which it could not be named.
    static const bool canLink = ::access("/proc/self/fd", X_OK) == 0;
    if (canLink) {
        fd_.reset(::openat(folder_->descriptor(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode_));
    }
#endif
    return fd_.isOpen();
}

template <typename Attempt>
bool AtomicFileWriter::takeTemporaryName(std::string_view what, Attempt attempt) {
    constexpr int kAttempts = 16;
    const std::string stem = temporaryStem(name_);
    for (int i = 0; i < kAttempts; ++i) {
        temporary_ = "." + stem + "." + randomSuffix() + std::string(kTemporaryEnd);
        if (attempt(temporary_)) {
            return true;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    fail(errno, what);
    temporary_.clear();
    return false;
}

bool AtomicFileWriter::openNamed() {
    return takeTemporaryName("cannot create a file beside it", [&](const std::string& candidate) {
        fd_.reset(::openat(folder_->descriptor(), candidate.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        return fd_.isOpen();
    });
}

bool AtomicFileWriter::hasSpaceAvailable() const {
    return fd_.isOpen() && !failure_;
}

std::ptrdiff_t AtomicFileWriter::write(const std::uint8_t* buffer, std::size_t n) {
    if (!hasSpaceAvailable()) {
        return -1;
    }
    if (heldSize_ + n <= held_.size()) {
        std::copy_n(buffer, n, held_.data() + heldSize_);
        heldSize_ += n;
    } else if (!writeHeld(buffer, n)) {
        return -1;
    }
    return static_cast<std::ptrdiff_t>(n);
}

bool AtomicFileWriter::writeHeld(const std::uint8_t* buffer, std::size_t n) {
    const std::error_code error = writeAll(fd_.get(), buffer, n, {held_.data(), heldSize_});
    heldSize_ = 0;
    if (error) {
        fail(error.value(), "cannot write");
    }
    return !error;
}

bool AtomicFileWriter::linkUnnamed() {
    const std::string self = "/proc/self/fd/" + std::to_string(fd_.get());
    const int folder = folder_->descriptor();
    if (::linkat(AT_FDCWD, self.c_str(), folder, name_.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        return true;
    }
    if (errno != EEXIST) {
        fail(errno, "cannot put it in place");
        return false;
    }
    // The name was taken while the file was written: the file replaces it like any other.
    replacing_ = true;
    (void)takeTemporaryName("cannot put it in place", [&](const std::string& candidate) {
        return ::linkat(AT_FDCWD, self.c_str(), folder, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0;
    });
    return false;
}

Outcome<> AtomicFileWriter::commit() {
    if (putInPlace()) {
        return {};
    }
    discard();
    return failed();
}

bool AtomicFileWriter::putInPlace() {
    if (!hasSpaceAvailable() || !writeHeld(nullptr, 0)) {
        return false;
    }
    // An unnamed file was made with its mode.
    if (!temporary_.empty() && ::fchmod(fd_.get(), mode_) != 0) {
        fail(errno, "cannot set its mode");
        return false;
    }
    const bool linkedNew = temporary_.empty() && linkUnnamed();
    if (failure_) {
        return false;
    }
    // EINVAL: a file system that has nothing to flush.
    if (!linkedNew && replacing_ && ::fdatasync(fd_.get()) != 0 && errno != EINVAL) {
        fail(errno, "cannot write");
        return false;
    }
    if (const std::error_code error = fd_.close()) {
        fail(error.value(), "cannot write");
        if (linkedNew) {
            ::unlinkat(folder_->descriptor(), name_.c_str(), 0);
        }
        return false;
    }
    if (!linkedNew && ::renameat(folder_->descriptor(), temporary_.c_str(), folder_->descriptor(),
                                 name_.c_str()) != 0) {
        fail(errno, "cannot put it in place");
        return false;
    }
    temporary_.clear();
    return true;
}

void AtomicFileWriter::discard() {
    fd_.reset();
    heldSize_ = 0;
    if (!temporary_.empty()) {
        ::unlinkat(folder_->descriptor(), temporary_.c_str(), 0);
        temporary_.clear();
    }
}

void AtomicFileWriter::fail(int errorNumber, std::string_view what) {
    if (!failure_) {
        failure_ = Error::system(errorNumber, shown_, what);
    }
}

Error AtomicFileWriter::failed() {
    if (!failure_) {
        fail(EIO, "cannot write");
    }
    return *failure_;
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
