#pragma once

#include <cstddef>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>

// One scratch file per fuzzing process, rewritten in place with each input. It lives in
// /dev/shm where there is one: on a disk file system, cutting a file short can force it to
// disk, which would make each run wait for the device.
class FuzzFile {
public:
    FuzzFile() {
        const std::filesystem::path folder = std::filesystem::is_directory("/dev/shm")
                                                 ? "/dev/shm"
                                                 : std::filesystem::temp_directory_path();
        path_ = (folder / ("corvix-fuzz-" + std::to_string(::getpid()))).string();
        fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    }
    ~FuzzFile() {
        ::close(fd_);
        ::unlink(path_.c_str());
    }
    FuzzFile(const FuzzFile&) = delete;
    FuzzFile& operator=(const FuzzFile&) = delete;

    static FuzzFile& instance() {
        static FuzzFile file;
        return file;
    }

    /// Replaces the file's content; false when it could not be written whole.
    bool write(const std::uint8_t* data, std::size_t size) {
        std::size_t done = 0;
        while (done < size) {
            const ssize_t count = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
            if (count <= 0) {
                return false;
            }
            done += static_cast<std::size_t>(count);
        }
        return ::ftruncate(fd_, static_cast<off_t>(size)) == 0;
    }

    [[nodiscard]] const std::string& path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
};
