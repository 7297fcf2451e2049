#include "Basics/Encodings.h"

#include <QCoreApplication>
#include <QFile>
#include <QImageReader>
#include <algorithm>
#include <atomic>
#include <corvix/AESUtils.h>
#include <corvix/CorvixKey.h>
#include <corvix/CorvixUtils.h>
#include <corvix/EncryptedFileDevice.h>
#include <corvix/EncryptedFileReader.h>
#include <cstdint>
#include <filesystem>
#include <new>
#include <system_error>

#if defined(__APPLE__)
#include <cstring>
#include <mach-o/dyld.h>
#endif

namespace corvix {

namespace fs = std::filesystem;

namespace {

std::atomic<bool> keyDerived{false};
std::atomic<bool> ivDerived{false};

// key() first, then iv(), in that order on every path; nothing only when OpenSSL gives no
// SHA-256, so there is no key.
const std::optional<KeyMaterial>& builtIn() {
    static const std::optional<KeyMaterial> material = [] {
        const Bytes& key = CorvixUtils::key();
        auto made = KeyMaterial::from(key, CorvixUtils::iv());
        return made ? std::optional<KeyMaterial>(std::move(*made)) : std::nullopt;
    }();
    return material;
}

fs::path executableDirectory() {
    if (QCoreApplication::instance() != nullptr) {
        return fs::path(QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString());
    }
#if defined(__APPLE__)
    std::uint32_t size = 0;
    _NSGetExecutablePath(nullptr, &size);
    std::string buffer(size, '\0');
    if (_NSGetExecutablePath(buffer.data(), &size) != 0) {
        return {};
    }
    buffer.resize(std::strlen(buffer.c_str()));
    return fs::path(buffer).parent_path();
#else
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::path() : executable.parent_path();
#endif
}

// True when `inner` lies strictly below `folder`; both must be canonical.
bool liesBelow(const fs::path& inner, const fs::path& folder) {
    const auto [folderEnd, innerRest] =
        std::mismatch(folder.begin(), folder.end(), inner.begin(), inner.end());
    return folderEnd == folder.end() && innerRest != inner.end();
}

// The file operations read in place: the text is decrypted straight into its own memory and a
// picture is decoded from the device, so no whole copy of the plaintext is made besides the
// result. A file that cannot be sized prints its line first, as decryptFileToBytes does; the
// header line is skipped unread, as there.
std::optional<std::string> readText(const std::string& path, const KeyMaterial& material) {
    if (!AESUtils::fileSize(path)) {
        return std::nullopt;
    }
    EncryptedFileReader reader(path, material, std::nullopt);
    if (!reader.open()) {
        return std::nullopt;
    }
    std::string text;
    try {
        text.resize(reader.size());
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
    const auto got = reader.read(0, reinterpret_cast<std::uint8_t*>(text.data()), text.size());
    if (!got || *got != text.size() || !isUtf8(text)) {
        return std::nullopt;
    }
    return text;
}

std::optional<QImage> readImage(const std::string& path, const KeyMaterial& material) {
    if (!AESUtils::fileSize(path)) {
        return std::nullopt;
    }
    EncryptedFileDevice device(path, material, std::nullopt);
    if (!device.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    QImage image = QImageReader(&device).read();
    if (image.isNull()) {
        return std::nullopt;
    }
    return image;
}

} // namespace

const Bytes& CorvixUtils::key() {
    static const Bytes value = [] {
        keyDerived.store(true);
        return CorvixKey::aesKey();
    }();
    return value;
}

const Bytes& CorvixUtils::iv() {
    static const Bytes value = [] {
        ivDerived.store(true);
        return CorvixKey::ivBytes();
    }();
    return value;
}

bool CorvixUtils::isKeyMaterialLoaded() {
    return keyDerived.load() || ivDerived.load();
}

std::optional<std::string> CorvixUtils::decryptFileText(const std::string& path) {
    return builtIn() ? readText(path, *builtIn()) : std::nullopt;
}

std::optional<QImage> CorvixUtils::decryptFileImage(const std::string& path) {
    return builtIn() ? readImage(path, *builtIn()) : std::nullopt;
}

std::optional<std::string> CorvixUtils::decryptResourceText(std::string_view name) {
    const auto path = resourcePath(name);
    if (!path) {
        return std::nullopt;
    }
    return decryptFileText(*path);
}

std::optional<QImage> CorvixUtils::decryptResourceImage(std::string_view name) {
    const auto path = resourcePath(name);
    if (!path) {
        return std::nullopt;
    }
    return decryptFileImage(*path);
}

std::optional<std::string> CorvixUtils::decryptText(std::string_view base64) {
    return builtIn() ? decryptText(base64, *builtIn()) : std::nullopt;
}

std::optional<std::string> CorvixUtils::encryptText(std::string_view text) {
    return builtIn() ? encryptText(text, *builtIn()) : std::nullopt;
}

std::string CorvixUtils::resourceDirectory() {
    const fs::path folder = executableDirectory();
    if (folder.empty()) {
        return {};
    }
#if defined(__APPLE__)
    if (folder.filename() == "MacOS" && folder.parent_path().filename() == "Contents") {
        return (folder.parent_path() / "Resources").string();
    }
#endif
    return (folder / "resources").string();
}

std::optional<std::string> CorvixUtils::resourcePath(std::string_view name) {
    if (name.empty() || name.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    const fs::path relative{std::string(name)};
    if (relative.has_root_path()) {
        return std::nullopt;
    }
    for (const fs::path& part : relative) {
        if (part == "..") {
            return std::nullopt;
        }
    }
    const std::string folder = resourceDirectory();
    if (folder.empty()) {
        return std::nullopt;
    }
    // Both sides are resolved, so a link inside the folder that points out of it is caught too.
    std::error_code error;
    const fs::path root = fs::canonical(folder, error);
    if (error) {
        return std::nullopt;
    }
    const fs::path file = fs::canonical(root / relative, error);
    if (error || !liesBelow(file, root) || !fs::is_regular_file(file, error)) {
        return std::nullopt;
    }
    return file.string();
}

std::optional<std::string> CorvixUtils::decryptFileText(const std::string& path,
                                                        const KeyMaterial& material) {
    return readText(path, material);
}

std::optional<QImage> CorvixUtils::decryptFileImage(const std::string& path,
                                                    const KeyMaterial& material) {
    return readImage(path, material);
}

std::optional<std::string> CorvixUtils::decryptResourceText(std::string_view name,
                                                            const KeyMaterial& material) {
    const auto path = resourcePath(name);
    return path ? decryptFileText(*path, material) : std::nullopt;
}

std::optional<QImage> CorvixUtils::decryptResourceImage(std::string_view name,
                                                        const KeyMaterial& material) {
    const auto path = resourcePath(name);
    return path ? decryptFileImage(*path, material) : std::nullopt;
}

std::optional<std::string> CorvixUtils::decryptText(std::string_view base64,
                                                    const KeyMaterial& material) {
    return AESUtils::decryptString(base64, material.key(), material.iv());
}

std::optional<std::string> CorvixUtils::encryptText(std::string_view text,
                                                    const KeyMaterial& material) {
    const Bytes plain = utf8Bytes(text);
    if (!utf8Text(plain)) {
        return std::nullopt;
    }
    const auto sealed = AESUtils::encryptBytes(plain, static_cast<std::int64_t>(plain.size()),
                                               material.key(), material.iv());
    if (!sealed) {
        return std::nullopt;
    }
    return utf8Text(base64Bytes(*sealed));
}

} // namespace corvix
