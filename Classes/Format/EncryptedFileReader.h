#pragma once

#include <corvix/KeyMaterial.h>
#include <corvix/Outcome.h>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

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
    /// A reader for files whose header line decrypts to the system's header text ("quorveth"):
    /// a file sealed with other key material, or no encrypted file at all, fails at open().
    EncryptedFileReader(std::string path, KeyMaterial material);
    /// `header`: the text the header line must decrypt to; nothing takes the header line
    /// unread, as the format's decryptors do.
    EncryptedFileReader(std::string path, KeyMaterial material, std::optional<std::string> header);
    ~EncryptedFileReader();
    EncryptedFileReader(const EncryptedFileReader&) = delete;
    EncryptedFileReader& operator=(const EncryptedFileReader&) = delete;

    /// Opens the file and takes its plaintext size; called before the reader is shared. Fails,
    /// with the reason, for a file that cannot be opened or read, one with no header terminator,
    /// a header line that does not decrypt to the header text (when checked), a body that is not
    /// whole 16-byte blocks and a last chunk that breaks the chunk rule. Opening a reader that
    /// is open already changes nothing.
    [[nodiscard]] Outcome<> open();

    [[nodiscard]] bool isOpen() const;
    [[nodiscard]] const std::string& path() const;

    /// The plaintext size; 0 before open() has succeeded.
    [[nodiscard]] std::uint64_t size() const;

    /// Copies up to n plaintext bytes from `offset` into `buffer`. Gives the count, which is
    /// less than n only at the end of the plaintext (0 from there on); fails when a chunk in the
    /// range cannot be read, does not decrypt or breaks the chunk rule. Chunks outside the range
    /// are neither read nor decrypted.
    [[nodiscard]] Outcome<std::size_t> read(std::uint64_t offset, std::uint8_t* buffer,
                                            std::size_t n);

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace corvix
