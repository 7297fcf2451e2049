#pragma once

#include <QImage>
#include <corvix/Bytes.h>
#include <corvix/KeyMaterial.h>
#include <corvix/Manifest.h>
#include <optional>
#include <string>
#include <string_view>

namespace corvix {

/// One-call reading (and text encryption) with the built-in key material, for apps that ship
/// their assets as `.enc` files: a caller never handles the key or the IV itself. An app with a
/// key of its own passes its KeyMaterial to the overloads at the end instead.
///
/// The key and the IV are derived once per process, on first use, and kept until it ends; every
/// operation may run on any thread. Failures of any kind give nothing: a missing file or
/// resource, a body that does not decrypt, plaintext that is not UTF-8, bytes that are not a
/// picture. Texts are UTF-8 in `std::string`.
class CorvixUtils {
public:
    CorvixUtils() = delete;

    /// The AES key (32 bytes, the same as CorvixKey::aesKey()), derived on first use.
    [[nodiscard]] static const Bytes& key();
    /// The IV (16 bytes, the same as CorvixKey::ivBytes()), derived on first use.
    [[nodiscard]] static const Bytes& iv();
    /// Whether this process has begun to derive key() or iv(). Lookups that find nothing (an
    /// absent resource) leave the key material untouched; this lets a caller see that.
    [[nodiscard]] static bool isKeyMaterialLoaded();

    /// The plaintext of an encrypted file, read as UTF-8.
    [[nodiscard]] static std::optional<std::string> decryptFileText(const std::string& path);
    /// The picture in an encrypted file, in any format Qt reads (PNG and JPEG among them).
    [[nodiscard]] static std::optional<QImage> decryptFileImage(const std::string& path);

    /// decryptFileText of the resource `name` (see resourcePath()).
    [[nodiscard]] static std::optional<std::string> decryptResourceText(std::string_view name);
    /// decryptFileImage of the resource `name` (see resourcePath()).
    [[nodiscard]] static std::optional<QImage> decryptResourceImage(std::string_view name);

    /// The text sealed by encryptText; nothing for anything else.
    [[nodiscard]] static std::optional<std::string> decryptText(std::string_view base64);
    /// Base64 (one line, standard alphabet) of the AES-256-CBC encryption of `text`. An empty text
    /// gives one block (24 characters). A text that is not well-formed UTF-8 gives nothing, since
    /// decryptText could never give it back.
    [[nodiscard]] static std::optional<std::string> encryptText(std::string_view text);

    /// The folder that holds the application's resources: `resources` beside the executable, or
    /// the bundle's `Contents/Resources` for an executable inside a macOS app bundle.
    [[nodiscard]] static std::string resourceDirectory();
    /// The path of the regular file `name` (which may name subfolders, such as
    /// "images/logo.png.enc") inside resourceDirectory(), or nothing when there is none. A name
    /// that is absolute, holds a `..` part or resolves (through links) outside the folder gives
    /// nothing too.
    [[nodiscard]] static std::optional<std::string> resourcePath(std::string_view name);

    /// From then on the resource calls read only what the signed manifest `manifestName` in
    /// resourceDirectory() lists, and check every chunk they read against it: a resource that it
    /// does not list gives nothing, and so does every resource when the manifest is missing,
    /// malformed or not signed by the key of `publicKeyPem` (Ed25519, PEM). The manifest is read
    /// once, on the first resource call. The source that corvix_encrypt_assets(... MANIFEST ...
    /// SIGNING_KEY ...) generates makes this call before main; it returns true.
    static bool requireResourceManifest(std::string manifestName, std::string publicKeyPem);

    /// The same operations with the app's own key material, such as the function that
    /// corvix_encrypt_assets(... KEY_FILE) generates. They never touch the built-in material.
    /// Given the file's manifest entry, the header line and the length are checked first, and
    /// every chunk before it is decrypted; a file that differs gives nothing.
    [[nodiscard]] static std::optional<std::string>
    decryptFileText(const std::string& path, const KeyMaterial& material,
                    std::optional<ManifestEntry> listed = std::nullopt);
    [[nodiscard]] static std::optional<QImage>
    decryptFileImage(const std::string& path, const KeyMaterial& material,
                     std::optional<ManifestEntry> listed = std::nullopt);
    [[nodiscard]] static std::optional<std::string>
    decryptResourceText(std::string_view name, const KeyMaterial& material);
    [[nodiscard]] static std::optional<QImage> decryptResourceImage(std::string_view name,
                                                                    const KeyMaterial& material);
    [[nodiscard]] static std::optional<std::string> decryptText(std::string_view base64,
                                                                const KeyMaterial& material);

    [[nodiscard]] static std::optional<std::string> encryptText(std::string_view text,
                                                                const KeyMaterial& material);
};

} // namespace corvix
