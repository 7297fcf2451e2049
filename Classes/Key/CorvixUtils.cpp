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
#include <mutex>
#include <new>
#include <system_error>

#if defined(__APPLE__)
#include <cstring>
#include <mach-o/dyld.h>
#endif

namespace corvix {

namespace fs = std::filesystem;

namespace {

std::atomic<bool> materialDerived{false};

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
std::optional<std::string> readText(const std::string& path, const KeyMaterial& material,
                                    std::optional<ManifestEntry> listed = std::nullopt) {
    if (!AESUtils::fileSize(path)) {
        return std::nullopt;
    }
    EncryptedFileReader reader(path, material, std::nullopt, std::move(listed));
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

std::optional<QImage> readImage(const std::string& path, const KeyMaterial& material,
                                std::optional<ManifestEntry> listed = std::nullopt) {
    if (!AESUtils::fileSize(path)) {
        return std::nullopt;
    }
    EncryptedFileDevice device(path, material, std::nullopt, std::move(listed));
    if (!device.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    QImage image = QImageReader(&device).read();
    return image.isNull() ? std::nullopt : std::optional(std::move(image));
}

// The signed manifest that the resource calls require, once a program has asked for one.
struct RequiredManifest {
    std::mutex mutex;
    std::string name;
    std::string publicKey;
    bool required = false;
    std::optional<std::optional<Manifest>> loaded; // nothing inside when it was refused
};

RequiredManifest& requiredManifest() {
    static RequiredManifest manifest;
    return manifest;
}

struct Resource {
    std::string path;
    std::optional<ManifestEntry> listed; // when the program requires a manifest
};

// The resource `name`, or nothing when there is none or the required manifest refuses it.
std::optional<Resource> findResource(std::string_view name) {
    auto path = CorvixUtils::resourcePath(name);
    RequiredManifest& manifest = requiredManifest();
    const std::lock_guard lock(manifest.mutex);
    if (!path || !manifest.required) {
        return path ? std::optional<Resource>({std::move(*path), std::nullopt}) : std::nullopt;
    }
    const fs::path folder = CorvixUtils::resourceDirectory();
    if (!manifest.loaded) {
        auto loaded = Manifest::load((folder / manifest.name).string());
        const bool trusted = loaded && loaded->checkSignature(manifest.publicKey);
        manifest.loaded = trusted ? std::optional<Manifest>(std::move(*loaded)) : std::nullopt;
    }
    std::error_code error;
    const fs::path root = fs::canonical(folder, error);
    const ManifestEntry* listed =
        *manifest.loaded && !error
            ? (*manifest.loaded)->find(fs::path(*path).lexically_relative(root).generic_string())
            : nullptr;
    if (listed == nullptr) {
        return std::nullopt;
    }
    return Resource{std::move(*path), *listed};
}

} // namespace

const Bytes& CorvixUtils::key() {
    static const Bytes value = [] {
        materialDerived.store(true);
        return CorvixKey::aesKey();
    }();
    return value;
}

const Bytes& CorvixUtils::iv() {
    static const Bytes value = [] {
        materialDerived.store(true);
        return CorvixKey::ivBytes();
    }();
    return value;
}

bool CorvixUtils::isKeyMaterialLoaded() {
    return materialDerived.load();
}

std::optional<std::string> CorvixUtils::decryptFileText(const std::string& path) {
    return builtIn() ? readText(path, *builtIn()) : std::nullopt;
}

std::optional<QImage> CorvixUtils::decryptFileImage(const std::string& path) {
    return builtIn() ? readImage(path, *builtIn()) : std::nullopt;
}

std::optional<std::string> CorvixUtils::decryptResourceText(std::string_view name) {
    auto found = findResource(name);
    return found && builtIn() ? readText(found->path, *builtIn(), std::move(found->listed))
                              : std::nullopt;
}

std::optional<QImage> CorvixUtils::decryptResourceImage(std::string_view name) {
    auto found = findResource(name);
    return found && builtIn() ? readImage(found->path, *builtIn(), std::move(found->listed))
                              : std::nullopt;
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
    if (relative.has_root_path() ||
        std::find(relative.begin(), relative.end(), fs::path("..")) != relative.end()) {
        return std::nullopt;
    }
    // Both sides are resolved, so a link inside the folder that points out of it is caught too.
    // No folder (the program's own could not be found) resolves to an error.
    std::error_code error;
    const fs::path root = fs::canonical(resourceDirectory(), error);
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
                                                        const KeyMaterial& material,
                                                        std::optional<ManifestEntry> listed) {
    return readText(path, material, std::move(listed));
}

std::optional<QImage> CorvixUtils::decryptFileImage(const std::string& path,
                                                    const KeyMaterial& material,
                                                    std::optional<ManifestEntry> listed) {
    return readImage(path, material, std::move(listed));
}

std::optional<std::string> CorvixUtils::decryptResourceText(std::string_view name,
                                                            const KeyMaterial& material) {
    auto found = findResource(name);
    return found ? readText(found->path, material, std::move(found->listed)) : std::nullopt;
}

std::optional<QImage> CorvixUtils::decryptResourceImage(std::string_view name,
                                                        const KeyMaterial& material) {
    auto found = findResource(name);
    return found ? readImage(found->path, material, std::move(found->listed)) : std::nullopt;
}

bool CorvixUtils::requireResourceManifest(std::string manifestName, std::string publicKeyPem) {
    RequiredManifest& manifest = requiredManifest();
    const std::lock_guard lock(manifest.mutex);
    manifest.name = std::move(manifestName);
    manifest.publicKey = std::move(publicKeyPem);
    manifest.required = true;
    manifest.loaded.reset();
    return true;
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
    return sealed ? utf8Text(base64Bytes(*sealed)) : std::nullopt;
}

} // namespace corvix
