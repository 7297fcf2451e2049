#include "AtomicFileWriter.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace corvix {

namespace {

std::string randomSuffix() {
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 generator{std::random_device{}()};
    std::uniform_int_distribution<std::size_t> pick(0, sizeof(kAlphabet) - 2);
    std::string suffix(6, ' ');
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

} // namespace

AtomicFileWriter::AtomicFileWriter(std::string destination)
    : destination_(std::move(destination)) {}

AtomicFileWriter::~AtomicFileWriter() { discard(); }

bool AtomicFileWriter::create() {
    const std::filesystem::path target(destination_);
    const std::filesystem::path folder = target.has_parent_path() ? target.parent_path() : ".";
    const std::string name = target.filename().string();
    if (name.empty()) {
        fail(EISDIR);
        return false;
    }
    const std::string stem = temporaryStem(name);
    constexpr int kAttempts = 16;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const std::string candidate =
            (folder / ("." + stem + "." + randomSuffix() + ".part")).string();
        // 0666 lets the process umask decide the permissions, as for any newly created file.
        fd_ = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            temporary_ = candidate;
            keepPermissionsOfDestination();
            return true;
        }
        if (errno != EEXIST) {
            fail(errno);
            return false;
        }
    }
    fail(EEXIST);
    return false;
}

bool AtomicFileWriter::hasSpaceAvailable() const { return fd_ >= 0 && !error_; }

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

bool AtomicFileWriter::commit() {
    if (!hasSpaceAvailable()) {
        discard();
        return false;
    }
    const int fd = fd_;
    fd_ = -1;
    // When a file is replaced, its new bytes reach the disk before the new name does, so a
    // power cut right after the rename cannot leave an empty file where a good one used to be.
    // A brand-new file has nothing to lose and skips the flush, which would cost more than
    // encrypting a small file.
    if (replacing_ && ::fdatasync(fd) != 0 && errno != EINVAL) {
        fail(errno);
        ::close(fd);
        discard();
        return false;
    }
    if (::close(fd) != 0) {
        fail(errno);
        discard();
        return false;
    }
    if (::rename(temporary_.c_str(), destination_.c_str()) != 0) {
        fail(errno);
        discard();
        return false;
    }
    temporary_.clear();
    return true;
}

void AtomicFileWriter::keepPermissionsOfDestination() {
    struct stat existing {};
    replacing_ = ::stat(destination_.c_str(), &existing) == 0;
    if (replacing_ && S_ISREG(existing.st_mode)) {
        ::fchmod(fd_, existing.st_mode & 07777);
    }
}

void AtomicFileWriter::discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
}

void AtomicFileWriter::fail(int errorNumber) {
    if (!error_) {
        error_ = std::error_code(errorNumber, std::generic_category());
    }
}

} // namespace corvix
