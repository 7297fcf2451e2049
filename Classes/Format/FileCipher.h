#pragma once

#include "Files/AtomicFileWriter.h"
#include "Files/FileInputStream.h"
#include "Format/ChunkPipeline.h"

#include <corvix/KeyMaterial.h>
#include <corvix/Manifest.h>
#include <corvix/Outcome.h>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace corvix {

/// Whole files in the encrypted format (see FileFormat), both ways.
///
/// These runs print nothing and fail with the reason. Files are written atomically (see
/// AtomicFileWriter): on any failure the destination is left as it was. A new output takes the
/// source's permission bits, less the umask. The decryptors take the header line unread, or,
/// given `expectedHeader`, only a file whose header line decrypts to that text.
class FileCipher {
public:
    FileCipher() = delete;

    [[nodiscard]] static Outcome<> encrypt(const std::string& srcPath, const std::string& dstPath,
                                           std::string_view header, const KeyMaterial& material,
                                           const ChunkCallbacks& callbacks = {});
    [[nodiscard]] static Outcome<> decrypt(const std::string& srcPath, const std::string& dstPath,
                                           const KeyMaterial& material,
                                           std::optional<std::string_view> expectedHeader,
                                           const ChunkCallbacks& callbacks = {});
    /// The whole plaintext in memory; never a part of it.
    [[nodiscard]] static Outcome<Bytes> decryptToBytes(const std::string& path,
                                                       const KeyMaterial& material);

    /// The same runs for a caller that opens the files itself: `source` is open and read from
    /// its start, and `output` has not been created yet. Given `listing`, encrypt() also
    /// describes the output there as a manifest lists it (all but its path), from digests made
    /// while the chunks are encrypted.
    [[nodiscard]] static Outcome<> encrypt(FileInputStream& source, AtomicFileWriter& output,
                                           std::string_view header, const KeyMaterial& material,
                                           const ChunkCallbacks& callbacks = {},
                                           ManifestEntry* listing = nullptr);
    [[nodiscard]] static Outcome<> decrypt(FileInputStream& source, AtomicFileWriter& output,
                                           const KeyMaterial& material,
                                           std::optional<std::string_view> expectedHeader,
                                           const ChunkCallbacks& callbacks = {});
    /// The open file `source`, read from its start, as a manifest lists it (all but its path).
    [[nodiscard]] static Outcome<ManifestEntry> describe(FileInputStream& source);
    /// One file of a batch (see encryptEach) and, afterwards, how it ended.
    struct Run {
        FileInputStream& source;
        AtomicFileWriter& output;
        const ChunkCallbacks& callbacks;
        ManifestEntry* listing = nullptr; // as in encrypt()
        Outcome<> outcome = {};
    };
    /// Encrypts several files as encrypt() does each, together: the chunks of those that fit
    /// one share the cipher's lanes.
    static void encryptEach(std::span<Run> runs, std::string_view header,
                            const KeyMaterial& material);

    /// Decrypts the body into any output stream (memory, nowhere).
    [[nodiscard]] static Outcome<> decryptInto(FileInputStream& source, OutputStream& output,
                                               const KeyMaterial& material,
                                               std::optional<std::string_view> expectedHeader,
                                               const ChunkCallbacks& callbacks = {});
};

} // namespace corvix
