#pragma once

#include <corvix/Bytes.h>
#include <corvix/KeyMaterial.h>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace corvix {

/// The one place where the system touches AES: one-shot operations on byte arrays, the
/// streaming file encryptor and decryptors, and the two file-system operations they use.
/// Stateless; every operation may be called from any thread.
class AESUtils {
public:
    AESUtils() = delete;

    using ProgressCallback = std::function<void(std::uint64_t bytesDone, std::uint64_t total)>;
    using CompleteCallback = std::function<void()>;
    using FailureCallback = std::function<void(bool cancelled)>;
    using CancelQuery = std::function<bool()>;

    /// AES-CBC with PKCS#7 padding over the first `length` bytes of `data`; the key length picks
    /// AES-128/192/256. Nothing for a bad key, an IV under 16 bytes or a length out of range.
    [[nodiscard]] static std::optional<Bytes> encryptBytes(const Bytes& data, std::int64_t length,
                                                           const Bytes& key, const Bytes& iv);
    /// The reverse; also nothing when the input is not whole blocks or the padding is wrong.
    [[nodiscard]] static std::optional<Bytes> decryptBytes(const Bytes& data, std::int64_t length,
                                                           const Bytes& key, const Bytes& iv);
    /// Base64-decodes `text` (strictly), decrypts it and reads the result as UTF-8.
    [[nodiscard]] static std::optional<std::string>
    decryptString(std::string_view text, const Bytes& key, const Bytes& iv);

    /// Size of the file at `path`; on failure prints one line (path and system error) to
    /// standard output and gives nothing.
    [[nodiscard]] static std::optional<std::uint64_t> fileSize(const std::string& path);
    /// Removes the file at `path`; on failure prints one line as fileSize does.
    static void removeFile(const std::string& path);

    /// Encrypts `srcPath` into `dstPath` in the encrypted file format. The outcome arrives
    /// through the callbacks, on the calling thread: onProgress after each chunk, then exactly
    /// one of onComplete or onFailure (true only for a cancellation). The destination is
    /// replaced only when the whole run succeeded; otherwise it is left as it was.
    static void encryptFile(const std::string& srcPath, const std::string& dstPath,
                            std::string_view header, const Bytes& key, const Bytes& iv,
                            const ProgressCallback& onProgress = {},
                            const CompleteCallback& onComplete = {},
                            const FailureCallback& onFailure = {},
                            const CancelQuery& shouldCancel = {});
    /// The same with key material of the app's own (or CorvixKey::material()).
    static void encryptFile(const std::string& srcPath, const std::string& dstPath,
                            std::string_view header, const KeyMaterial& material,
                            const ProgressCallback& onProgress = {},
                            const CompleteCallback& onComplete = {},
                            const FailureCallback& onFailure = {},
                            const CancelQuery& shouldCancel = {});

    /// Decrypts an encrypted file into `dstPath`, with the same callbacks and guarantees. The
    /// header line is taken unread.
    static void decryptFile(const std::string& srcPath, const std::string& dstPath,
                            const Bytes& key, const Bytes& iv,
                            const ProgressCallback& onProgress = {},
                            const CompleteCallback& onComplete = {},
                            const FailureCallback& onFailure = {},
                            const CancelQuery& shouldCancel = {});
    static void decryptFile(const std::string& srcPath, const std::string& dstPath,
                            const KeyMaterial& material, const ProgressCallback& onProgress = {},
                            const CompleteCallback& onComplete = {},
                            const FailureCallback& onFailure = {},
                            const CancelQuery& shouldCancel = {});

    /// The whole plaintext of an encrypted file, or nothing when it cannot be read or any part
    /// of it does not decrypt; never a part of it.
    [[nodiscard]] static std::optional<Bytes> decryptFileToBytes(const std::string& path,
                                                                 const Bytes& key, const Bytes& iv);
    [[nodiscard]] static std::optional<Bytes> decryptFileToBytes(const std::string& path,
                                                                 const KeyMaterial& material);
};

} // namespace corvix
