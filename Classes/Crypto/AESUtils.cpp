#include "Basics/Encodings.h"
#include "Cipher/ChunkCipher.h"
#include "Crypto/Console.h"
#include "Format/FileCipher.h"

#include <cerrno>
#include <corvix/AESUtils.h>
#include <cstdio>
#include <sys/stat.h>

namespace corvix {

namespace {

std::optional<Bytes> runCipher(ChunkCipher::Direction direction, const Bytes& data,
                               std::int64_t length, const Bytes& key, const Bytes& iv) {
    const auto material = KeyMaterial::from(key, iv);
    if (length < 0 || static_cast<std::uint64_t>(length) > data.size() || !material) {
        return std::nullopt;
    }
    const auto count = static_cast<std::size_t>(length);
    Bytes output(count + ChunkCipher::kBlockSize);
    ChunkCipher cipher(direction, *material);
    const auto produced = cipher.run(data.data(), count, output.data());
    if (!produced) {
        return std::nullopt;
    }
    output.resize(*produced);
    return output;
}

void printSystemError(const std::string& path, int errorNumber) {
    Console::printLine(Error::system(errorNumber, path, {}).message());
}

void report(const Outcome<>& outcome, const AESUtils::CompleteCallback& onComplete,
            const AESUtils::FailureCallback& onFailure) {
    if (outcome) {
        if (onComplete) {
            onComplete();
        }
    } else if (onFailure) {
        onFailure(outcome.error().code == Errc::cancelled);
    }
}

// The file operations' first step: a source whose size cannot be taken (its error line has been
// printed) fails the run before anything is opened; so does key material of the wrong size.
std::optional<KeyMaterial> startable(const std::string& path, const Bytes& key, const Bytes& iv,
                                     const AESUtils::FailureCallback& onFailure) {
    auto material = KeyMaterial::from(key, iv);
    if (AESUtils::fileSize(path) && material) {
        return std::move(*material);
    }
    if (onFailure) {
        onFailure(false);
    }
    return std::nullopt;
}

} // namespace

std::optional<Bytes> AESUtils::encryptBytes(const Bytes& data, std::int64_t length,
                                            const Bytes& key, const Bytes& iv) {
    return runCipher(ChunkCipher::Direction::Encrypt, data, length, key, iv);
}

std::optional<Bytes> AESUtils::decryptBytes(const Bytes& data, std::int64_t length,
                                            const Bytes& key, const Bytes& iv) {
    return runCipher(ChunkCipher::Direction::Decrypt, data, length, key, iv);
}

std::optional<std::string> AESUtils::decryptString(std::string_view text, const Bytes& key,
                                                   const Bytes& iv) {
    const Bytes sealed = bytesFromBase64(text);
    const auto plain = decryptBytes(sealed, static_cast<std::int64_t>(sealed.size()), key, iv);
    return plain ? utf8Text(*plain) : std::nullopt;
}

std::optional<std::uint64_t> AESUtils::fileSize(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        printSystemError(path, errno);
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(info.st_size);
}

void AESUtils::removeFile(const std::string& path) {
    if (std::remove(path.c_str()) != 0) {
        printSystemError(path, errno);
    }
}

void AESUtils::encryptFile(const std::string& srcPath, const std::string& dstPath,
                           std::string_view header, const Bytes& key, const Bytes& iv,
                           const ProgressCallback& onProgress, const CompleteCallback& onComplete,
                           const FailureCallback& onFailure, const CancelQuery& shouldCancel) {
    if (const auto material = startable(srcPath, key, iv, onFailure)) {
        report(FileCipher::encrypt(srcPath, dstPath, header, *material, {onProgress, shouldCancel}),
               onComplete, onFailure);
    }
}

void AESUtils::encryptFile(const std::string& srcPath, const std::string& dstPath,
                           std::string_view header, const KeyMaterial& material,
                           const ProgressCallback& onProgress, const CompleteCallback& onComplete,
                           const FailureCallback& onFailure, const CancelQuery& shouldCancel) {
    encryptFile(srcPath, dstPath, header, material.key(), material.iv(), onProgress, onComplete,
                onFailure, shouldCancel);
}

void AESUtils::decryptFile(const std::string& srcPath, const std::string& dstPath, const Bytes& key,
                           const Bytes& iv, const ProgressCallback& onProgress,
                           const CompleteCallback& onComplete, const FailureCallback& onFailure,
                           const CancelQuery& shouldCancel) {
    if (const auto material = startable(srcPath, key, iv, onFailure)) {
        report(FileCipher::decrypt(srcPath, dstPath, *material, std::nullopt,
                                   {onProgress, shouldCancel}),
               onComplete, onFailure);
    }
}

void AESUtils::decryptFile(const std::string& srcPath, const std::string& dstPath,
                           const KeyMaterial& material, const ProgressCallback& onProgress,
                           const CompleteCallback& onComplete, const FailureCallback& onFailure,
                           const CancelQuery& shouldCancel) {
    decryptFile(srcPath, dstPath, material.key(), material.iv(), onProgress, onComplete, onFailure,
                shouldCancel);
}

std::optional<Bytes> AESUtils::decryptFileToBytes(const std::string& path, const Bytes& key,
                                                  const Bytes& iv) {
    const auto material = KeyMaterial::from(key, iv);
    if (!fileSize(path) || !material) {
        return std::nullopt;
    }
    auto plain = FileCipher::decryptToBytes(path, *material);
    return plain ? std::optional<Bytes>(std::move(*plain)) : std::nullopt;
}

std::optional<Bytes> AESUtils::decryptFileToBytes(const std::string& path,
                                                  const KeyMaterial& material) {
    return decryptFileToBytes(path, material.key(), material.iv());
}

} // namespace corvix
