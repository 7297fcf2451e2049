#include "KeyCommands.h"

#include "Crypto/Console.h"
#include "Files/Descriptor.h"
#include "Key/KeyFile.h"

#include <cerrno>
#include <fcntl.h>
#include <iostream>
#include <sys/stat.h>
#include <unistd.h>

namespace corvix::cli {

namespace {

void warnWhenShared(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && (info.st_mode & (S_IRGRP | S_IROTH)) != 0) {
        std::cerr << "corvix-cli: warning: key file " << path
                  << " can be read by other users (chmod 600 " << path << ")\n";
    }
}

} // namespace

Outcome<KeyMaterial> KeyCommands::material(const std::string& keyFile) {
    auto material = KeyFile::read(keyFile);
    if (material) {
        warnWhenShared(keyFile);
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
