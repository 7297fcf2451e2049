#pragma once

#include "Files/FileInputStream.h"

#include <corvix/KeyMaterial.h>
#include <corvix/Outcome.h>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvix {

/// The encrypted file format, and the rules every reader and writer of it shares:
///
///     base64(AES-CBC(header text)) 0x0D chunk chunk ... chunk
///
/// The body is the source cut into chunks of kPlainChunkSize bytes, each encrypted on its own
/// with the same key and IV (so a full chunk is kCipherChunkSize bytes); an empty source has no
/// chunk. Nothing in the file says how long it is: a reader counts kCipherChunkSize bytes per
/// chunk, and the rest is the last one.
class FileFormat {
public:
    FileFormat() = delete;

    static constexpr std::size_t kPlainChunkSize = 1048576;
    static constexpr std::size_t kCipherChunkSize = kPlainChunkSize + 16;
    static constexpr std::uint8_t kHeaderEnd = 0x0D;
    /// The header text sealed into the header line of every file the system writes.
    static constexpr std::string_view kHeaderText = "quorveth";
    /// The longest header line a reader takes: far beyond the 24 characters of the header
    /// text's line, and short enough that a file without a 0x0D is refused after 64 KiB.
    static constexpr std::size_t kLongestHeaderLine = 65535;

    /// The header line of `header`: base64 of its encryption. Fails when the line would be
    /// longer than any reader takes.
    [[nodiscard]] static Outcome<Bytes> headerLine(std::string_view header,
                                                   const KeyMaterial& material);

    /// The header rule. Reads the header line at the start of `input`, up to and including its
    /// 0x0D, and gives the line; with `expected`, the line must decrypt to that header text.
    /// Fails with Errc::noHeaderTerminator when no 0x0D comes within kLongestHeaderLine bytes,
    /// Errc::otherHeader when the line is not the expected one.
    [[nodiscard]] static Outcome<Bytes> readHeader(FileInputStream& input,
                                                   const KeyMaterial& material,
                                                   std::optional<std::string_view> expected);

    /// Where the body lies in a file and how it falls into chunks.
    struct Body {
        std::uint64_t start = 0;
        std::uint64_t length = 0;

        [[nodiscard]] std::uint64_t chunkCount() const;
        /// The file offset of chunk `index` and its ciphertext length.
        [[nodiscard]] std::uint64_t chunkStart(std::uint64_t index) const;
        [[nodiscard]] std::size_t chunkLength(std::uint64_t index) const;
    };

    /// The body of a file of `fileSize` bytes whose header line was `lineLength` bytes long;
    /// fails with Errc::truncatedBody when it is not whole 16-byte blocks.
    [[nodiscard]] static Outcome<Body> body(const std::string& path, std::uint64_t fileSize,
                                            std::size_t lineLength);

    /// The chunk rule: every chunk but the last decrypts to exactly `plainChunkSize` bytes, the
    /// last to 1 to `plainChunkSize` bytes. No writer makes another length, so a chunk that
    /// breaks the rule is damaged (Errc::chunkWrongLength).
    [[nodiscard]] static Outcome<> checkChunk(const std::string& path, std::uint64_t index,
                                              bool last, std::size_t plainLength,
                                              std::size_t plainChunkSize = kPlainChunkSize);
    /// A chunk that does not decrypt (its padding fails): wrong key or damaged data.
    [[nodiscard]] static Error chunkFailure(const std::string& path, std::uint64_t index);
};

} // namespace corvix
