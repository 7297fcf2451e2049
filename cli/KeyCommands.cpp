#include "KeyCommands.h"

#include "Basics/TextEscape.h"
#include "Crypto/Console.h"
#include "Files/Descriptor.h"
#include "Key/KeyFile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

namespace corvix::cli {

namespace {

// Material that is used but should not be: a file that others may read or change, a key or IV
// that anyone can guess.
void warnAbout(const std::string& path, const KeyMaterial& material) {
    const auto warn = [&path](const std::string& what) {
        std::cerr << escaped("corvix-cli: warning: key file " + path + " " + what,
                             EscapeStyle::Terminal)
                  << "\n";
    };
    struct stat info {};
    if (path != "-" && ::stat(path.c_str(), &info) == 0) {
        if ((info.st_mode & (S_IRGRP | S_IROTH)) != 0) {
            warn("can be read by other users (chmod 600 " + path + ")");
        }
        if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
            warn("can be written by other users (chmod 600 " + path + ")");
        }
    }
    const auto zeros = [](const Bytes& bytes) {
        return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t byte) { return byte == 0; });
    };
    if (zeros(material.key())) {
        warn("holds an all-zero key");
    }
    if (zeros(material.iv())) {
        warn("holds an all-zero IV");
    }
}

} // namespace

Outcome<KeyMaterial> KeyCommands::material(const std::string& keyFile) {
    auto material = KeyFile::read(keyFile);
    if (material) {
        warnAbout(keyFile, *material);
    }
    return material;
}

void KeyCommands::print(const KeyMaterial& material, bool withFingerprint) {
    Console::write(
        KeyFile::text(material) +
        (withFingerprint ? "key fingerprint: " + material.fingerprint() + "\n" : std::string()));
}

Outcome<> KeyCommands::generate(const std::string& path) {
    const auto material = KeyMaterial::generate();
    if (!material) {
        return Error{material.error().code, path, material.error().reason};
    }
    Descriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (!file.isOpen()) {
        return errno == EEXIST ? Error{systemError(EEXIST), path,
                                       "exists already; keygen never replaces a "
                                       "key file"}
                               : Error::system(errno, path, "cannot create");
    }
    const std::string text = KeyFile::text(*material);
    std::error_code error = writeAll(file.get(), text.data(), text.size());
    if (!error && ::fsync(file.get()) != 0) {
        error = systemError(errno);
    }
    if (!error) {
        error = file.close();
    }
    if (error) {
        ::unlink(path.c_str());
        return Error::system(error, path, "cannot write");
    }
    return {};
}

} // namespace corvix::cli
