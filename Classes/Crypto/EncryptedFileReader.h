#pragma once

#include "../Key/KeyMaterial.h"
#include "ChunkCipher.h"
#include "FileCipher.h"
#include "FileInputStream.h"
#include "RunOutcome.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace corvix {

/// Reads the plaintext of an encrypted file at any offset without decrypting the rest of it.
///
/// Every chunk of the format is encrypted on its own with the same key and IV, so a read
/// decrypts only the chunks it touches. At most two decrypted chunks are kept (the two used
/// last), so memory stays near 2 MiB whatever the file's size. Opening reads the header line and
/// the last block of the file: the plaintext size follows from the file's length and that block.
///
/// Threads: a reader may be shared. read() calls are serialized inside (the kept chunks and the
/// cipher context are the only state they change); the file is read with positioned reads on
/// one descriptor, so no file position is shared either. Threads that want to decrypt in
/// parallel open a reader each.
class EncryptedFileReader {
public:
    /// `header`: the text the header line must decrypt to, checked as HeaderCheck does, so that
    /// a file sealed with other key material, or no encrypted file at all, fails before any chunk
    /// is read. Nothing skips the header line unread, as the format's decryptors do.
    EncryptedFileReader(std::string path, KeyMaterial material,
                        std::optional<std::string> header = std::string(FileCipher::kHeaderText));
    EncryptedFileReader(const EncryptedFileReader&) = delete;
    EncryptedFileReader& operator=(const EncryptedFileReader&) = delete;

    /// Opens the file and takes its plaintext size; called once, before the reader is shared.
    /// Fails, with the reason, for a file that cannot be opened or read, one with no header
    /// terminator, a header line that does not decrypt to the header text (when checked), a body
    /// that cannot be one of the format and a last chunk that does not decrypt.
    [[nodiscard]] RunOutcome open();

    [[nodiscard]] bool isOpen() const { return opened_; }
    [[nodiscard]] const std::string& path() const { return path_; }

    /// The plaintext size; 0 before open() has succeeded.
    [[nodiscard]] std::uint64_t size() const { return size_; }

    /// Copies up to n plaintext bytes from `offset` into `buffer`. Returns the count, which is
    /// less than n only at the end of the plaintext (0 from there on), or nothing when a chunk
    /// in the range cannot be read or does not decrypt; `reason` (when given) then says why.
    /// Chunks outside the range are neither read nor decrypted.
    [[nodiscard]] std::optional<std::size_t> read(std::uint64_t offset, std::uint8_t* buffer,
                                                  std::size_t n, std::string* reason = nullptr);

private:
    /// A decrypted chunk, or none (`index` empty); `data` takes the ciphertext first and is
    /// decrypted in place, so a kept chunk costs one buffer.
    struct Slot {
        std::optional<std::uint64_t> index;
        std::size_t length = 0;
        std::unique_ptr<std::uint8_t[]> data;
    };

    /// Where chunk `index` lies in the file, and its length there.
    struct Place {
        std::uint64_t start = 0;
        std::size_t length = 0;
    };
    [[nodiscard]] Place place(std::uint64_t index) const;
    /// Why chunk `index` cannot be read: the system's error, or else that it does not decrypt.
    [[nodiscard]] std::string failure(std::uint64_t index, const std::error_code& error) const;
    /// The plaintext length of the last chunk, from its last block alone.
    [[nodiscard]] std::optional<std::size_t> lastChunkLength(std::string& reason) const;
    /// The kept chunk `index`, decrypted now when it is not kept; nothing with `reason` set
    /// when it cannot be.
    [[nodiscard]] const Slot* chunk(std::uint64_t index, std::string& reason);
    [[nodiscard]] bool load(Slot& slot, std::uint64_t index, std::string& reason);

    std::string path_;
    KeyMaterial material_;
    std::optional<std::string> header_;
    FileInputStream file_;
    ChunkCipher cipher_;
    bool opened_ = false;
    std::uint64_t bodyStart_ = 0;
    std::uint64_t bodyLength_ = 0;
    std::uint64_t chunkCount_ = 0;
    std::uint64_t size_ = 0;
    std::mutex mutex_;
    std::array<Slot, 2> slots_; // slots_[0] is the one used last
};

} // namespace corvix
