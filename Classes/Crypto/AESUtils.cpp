#include "AESUtils.h"

#include "../Key/Console.h"
#include "../Key/Encodings.h"
#include "ChunkCipher.h"
#include "FileCipher.h"

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <system_error>

namespace corvix {

namespace {

std::optional<Bytes> runCipher(ChunkCipher::Direction direction, const Bytes& data,
                               std::int64_t length, const Bytes& key, const Bytes& iv) {
    if (length < 0 || static_cast<std::uint64_t>(length) > data.size() ||
        !ChunkCipher::acceptsKeyMaterial(key, iv)) {
        return std::nullopt;
    }
    const auto count = static_cast<std::size_t>(length);
    Bytes output(count + ChunkCipher::kBlockSize);
    ChunkCipher cipher(direction, key, iv);
    const auto produced = cipher.run(data.data(), count, output.data());
    if (!produced) {
        return std::nullopt;
    }
    output.resize(*produced);
    return output;
}

void printSystemError(const std::string& path, int errorNumber) {
    printLine(path + ": " + std::error_code(errorNumber, std::generic_category()).message());
}

void report(const RunOutcome& outcome, const AESUtils::CompleteCallback& onComplete,
            const AESUtils::FailureCallback& onFailure) {
    if (outcome.succeeded()) {
        if (onComplete) {
            onComplete();
        }
    } else if (onFailure) {
        onFailure(outcome.status == RunOutcome::Status::Cancelled);
    }
}

// The file operations' first step: a source whose size cannot be taken (its error line has been
// printed) fails the run before anything is opened.
bool sourceIsSized(const std::string& path, const AESUtils::FailureCallback& onFailure) {
    if (AESUtils::fileSize(path)) {
        return true;
    }
    if (onFailure) {
        onFailure(false);
    }
    return false;
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
    if (!plain) {
        return std::nullopt;
    }
    return utf8Text(*plain);
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
    encryptFile(srcPath, dstPath, header, KeyMaterial{key, iv}, onProgress, onComplete, onFailure,
                shouldCancel);
}

void AESUtils::encryptFile(const std::string& srcPath, const std::string& dstPath,
                           std::string_view header, const KeyMaterial& material,
                           const ProgressCallback& onProgress, const CompleteCallback& onComplete,
                           const FailureCallback& onFailure, const CancelQuery& shouldCancel) {
    if (!sourceIsSized(srcPath, onFailure)) {
        return;
    }
    report(FileCipher::encrypt(srcPath, dstPath, header, material, {onProgress, shouldCancel}),
           onComplete, onFailure);
}

void AESUtils::decryptFile(const std::string& srcPath, const std::string& dstPath, const Bytes& key,
                           const Bytes& iv, const ProgressCallback& onProgress,
                           const CompleteCallback& onComplete, const FailureCallback& onFailure,
                           const CancelQuery& shouldCancel) {
    decryptFile(srcPath, dstPath, KeyMaterial{key, iv}, onProgress, onComplete, onFailure,
                shouldCancel);
}

void AESUtils::decryptFile(const std::string& srcPath, const std::string& dstPath,
                           const KeyMaterial& material, const ProgressCallback& onProgress,
                           const CompleteCallback& onComplete, const FailureCallback& onFailure,
                           const CancelQuery& shouldCancel) {
    if (!sourceIsSized(srcPath, onFailure)) {
        return;
    }
    report(FileCipher::decrypt(srcPath, dstPath, material, {onProgress, shouldCancel}), onComplete,
           onFailure);
}

std::optional<Bytes> AESUtils::decryptFileToBytes(const std::string& path, const Bytes& key,
                                                  const Bytes& iv) {
    return decryptFileToBytes(path, KeyMaterial{key, iv});
}

std::optional<Bytes> AESUtils::decryptFileToBytes(const std::string& path,
                                                  const KeyMaterial& material) {
    if (!fileSize(path)) {
        return std::nullopt;
    }
    return FileCipher::decryptToBytes(path, material);
}

} // namespace corvix
