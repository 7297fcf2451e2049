#include "KeyCommands.h"

#include "Key/KeyFile.h"
#include "StandardOutput.h"

#include <cerrno>
#include <fcntl.h>
#include <iostream>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace corvix::cli {

namespace {

void complain(const std::string& path, const std::string& why) {
    std::cerr << "corvix-cli: key file " << path << ": " << why << "\n";
}

std::string systemError(int errorNumber) {
    return std::error_code(errorNumber, std::generic_category()).message();
}

void warnWhenShared(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && (info.st_mode & (S_IRGRP | S_IROTH)) != 0) {
        std::cerr << "corvix-cli: warning: key file " << path
                  << " can be read by other users (chmod 600 " << path << ")\n";
    }
}

// Closes the descriptor on every way out.
struct Descriptor {
    int fd;
    ~Descriptor() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

// The whole text, flushed to disk; the errno of the first failure, or 0.
int writeAll(int fd, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t count = ::write(fd, text.data() + done, text.size() - done);
        if (count > 0) {
            done += static_cast<std::size_t>(count);
        } else if (count == 0 || errno != EINTR) {
            return count == 0 ? EIO : errno;
        }
    }
    return ::fsync(fd) == 0 ? 0 : errno;
}

} // namespace

std::optional<KeyMaterial> KeyCommands::material(const Options& options) {
    if (!options.keyFile) {
        return KeyMaterial::builtIn();
    }
    const std::string& path = *options.keyFile;
    KeyFile::Parsed parsed = KeyFile::read(path);
    if (!parsed.material) {
        complain(path, parsed.error);
        return std::nullopt;
    }
    warnWhenShared(path);
    return std::move(parsed.material);
}

void KeyCommands::print(const KeyMaterial& material, bool withFingerprint) {
    StandardOutput::write(
        KeyFile::text(material) +
        (withFingerprint ? "key fingerprint: " + material.fingerprint() + "\n" : std::string()));
}

bool KeyCommands::generate(const std::string& path) {
    const auto material = KeyMaterial::generate();
    if (!material) {
        complain(path, "the system's random source gave no key material");
        return false;
    }
    const Descriptor file{::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600)};
    if (file.fd < 0) {
        complain(path, errno == EEXIST ? "exists already; keygen never replaces a key file"
                                       : systemError(errno));
        return false;
    }
    if (const int error = writeAll(file.fd, KeyFile::text(*material)); error != 0) {
        ::unlink(path.c_str());
        complain(path, systemError(error));
        return false;
    }
    return true;
}

} // namespace corvix::cli
