#pragma once

#include "../Key/KeyMaterial.h"
#include "RunOutcome.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvix {

class AtomicFileWriter;
class FileInputStream;
class OutputStream;

/// The encrypted file format, both ways:
///
///     base64(AES-CBC(header text)) 0x0D chunk chunk ... chunk
///
/// The body is the source cut into 1 MiB chunks, each encrypted on its own with the same key
/// and IV (so a full chunk is 1048592 bytes); an empty source has no chunk. Readers skip the
/// header line without decoding it.
///
/// Unlike the callback operations of AESUtils, these runs print nothing and report why they
/// failed. Files are written atomically (see AtomicFileWriter): on any failure the destination
/// is left as it was. A new output takes the source's permission bits, less the umask.
class FileCipher {
public:
    FileCipher() = delete;

    static constexpr std::size_t kPlainChunkSize = 1048576;
    static constexpr std::size_t kCipherChunkSize = kPlainChunkSize + 16;
    static constexpr std::uint8_t kHeaderEnd = 0x0D;
    /// The header text sealed into the header line of every file the system writes.
    static constexpr std::string_view kHeaderText = "quorveth";

    [[nodiscard]] static RunOutcome encrypt(const std::string& srcPath, const std::string& dstPath,
                                            std::string_view header, const KeyMaterial& material,
                                            const ChunkCallbacks& callbacks = {});

    [[nodiscard]] static RunOutcome decrypt(const std::string& srcPath, const std::string& dstPath,
                                            const KeyMaterial& material,
                                            const ChunkCallbacks& callbacks = {});

    /// Decrypts the body of an encrypted file into any output stream (memory, a file, nowhere).
    [[nodiscard]] static RunOutcome decryptInto(const std::string& srcPath, OutputStream& output,
                                                const KeyMaterial& material,
                                                const ChunkCallbacks& callbacks = {});

    /// The same three runs for a caller that opens the files itself: `source` is open and read
    /// from its start, and `output` has not been created yet.
    [[nodiscard]] static RunOutcome encrypt(FileInputStream& source, AtomicFileWriter& output,
                                            std::string_view header, const KeyMaterial& material,
                                            const ChunkCallbacks& callbacks = {});
    [[nodiscard]] static RunOutcome decrypt(FileInputStream& source, AtomicFileWriter& output,
                                            const KeyMaterial& material,
                                            const ChunkCallbacks& callbacks = {});
    [[nodiscard]] static RunOutcome decryptInto(FileInputStream& source, OutputStream& output,
                                                const KeyMaterial& material,
                                                const ChunkCallbacks& callbacks = {});

    /// The whole plaintext in memory; nothing (with the reason, when asked for) on any failure,
    /// never a partial result.
    [[nodiscard]] static std::optional<Bytes> decryptToBytes(const std::string& path,
                                                             const KeyMaterial& material,
                                                             std::string* reason = nullptr);

    /// The header line of an encrypted file's header text: base64 of its encryption.
    [[nodiscard]] static std::optional<Bytes> headerLine(std::string_view header,
                                                         const KeyMaterial& material);
};

} // namespace corvix
