#include "Format/FileFormat.h"

#include "Basics/Encodings.h"
#include "Cipher/ChunkCipher.h"

#include <algorithm>

namespace corvix {

namespace {

// Chunks are counted from 1 in messages.
std::string chunkName(std::uint64_t index) {
    return "chunk " + std::to_string(index + 1);
}

} // namespace

Outcome<Bytes> FileFormat::headerLine(std::string_view header, const KeyMaterial& material) {
    const Bytes plain = utf8Bytes(header);
    Bytes sealed(plain.size() + ChunkCipher::kBlockSize);
    ChunkCipher cipher(ChunkCipher::Direction::Encrypt, material);
    const auto produced = cipher.run(plain.data(), plain.size(), sealed.data());
    if (!produced) {
        return produced.error();
    }
    sealed.resize(*produced);
    Bytes line = base64Bytes(sealed);
    if (line.size() > kLongestHeaderLine) {
        return Error::of(Errc::noHeaderTerminator, {},
                         "the header text is too long: no reader would find its line's end");
    }
    return line;
}

Outcome<Bytes> FileFormat::readHeader(FileInputStream& input, const KeyMaterial& material,
                                      std::optional<std::string_view> expected) {
    auto line = input.readThrough(kHeaderEnd, kLongestHeaderLine);
    if (!line) {
        if (input.error()) {
            return Error::system(input.error(), input.path(), "cannot read");
        }
        return Error::of(Errc::noHeaderTerminator, input.path(),
                         "no header terminator (0x0D) in the first 64 KiB: not an encrypted file");
    }
    if (expected) {
        const Bytes sealed = bytesFromBase64(
            std::string_view(reinterpret_cast<const char*>(line->data()), line->size()));
        Bytes plain(sealed.size() + ChunkCipher::kBlockSize);
        ChunkCipher cipher(ChunkCipher::Direction::Decrypt, material);
        const auto produced = cipher.run(sealed.data(), sealed.size(), plain.data());
        if (!produced && produced.error().code == Errc::cipherUnavailable) {
            return Error{produced.error().code, input.path(), produced.error().reason};
        }
        if (!produced ||
            std::string_view(reinterpret_cast<const char*>(plain.data()), *produced) != *expected) {
            return Error::of(Errc::otherHeader, input.path(),
                             "header does not decrypt to the header text \"" +
                                 std::string(*expected) +
                                 "\" (other key or not an encrypted file)");
        }
    }
    return std::move(*line);
}

std::uint64_t FileFormat::Body::chunkCount() const {
    return (length + kCipherChunkSize - 1) / kCipherChunkSize;
}

std::uint64_t FileFormat::Body::chunkStart(std::uint64_t index) const {
    return start + index * kCipherChunkSize;
}

std::size_t FileFormat::Body::chunkLength(std::uint64_t index) const {
    return static_cast<std::size_t>(
        std::min<std::uint64_t>(kCipherChunkSize, length - index * kCipherChunkSize));
}

Outcome<FileFormat::Body> FileFormat::body(const std::string& path, std::uint64_t fileSize,
                                           std::size_t lineLength) {
    if (fileSize <= lineLength) {
        return Error::of(Errc::sourceChanged, path, "the file shrank while it was read");
    }
    const Body body{lineLength + 1, fileSize - lineLength - 1};
    if (body.length % ChunkCipher::kBlockSize != 0) {
        return Error::of(Errc::truncatedBody, path,
                         "truncated body (" + std::to_string(body.length) +
                             " bytes, not whole 16-byte blocks)");
    }
    return body;
}

Outcome<> FileFormat::checkChunk(const std::string& path, std::uint64_t index, bool last,
                                 std::size_t plainLength, std::size_t plainChunkSize) {
    if (last ? plainLength >= 1 && plainLength <= plainChunkSize : plainLength == plainChunkSize) {
        return {};
    }
    return Error::of(
        Errc::chunkWrongLength, path,
        chunkName(index) + " decrypts to " + std::to_string(plainLength) +
            " bytes, which no writer makes (" +
            (last ? "1 to " + std::to_string(plainChunkSize) : std::to_string(plainChunkSize)) +
            " belong there): damaged data");
}

Error FileFormat::chunkFailure(const std::string& path, std::uint64_t index) {
    return Error::of(Errc::chunkDoesNotDecrypt, path,
                     chunkName(index) + " does not decrypt (wrong key or damaged data)");
}

} // namespace corvix
