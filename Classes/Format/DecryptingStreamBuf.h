#pragma once

#include <corvix/EncryptedFileReader.h>
#include <cstdint>
#include <ios>
#include <memory>
#include <optional>
#include <streambuf>
#include <string>

namespace corvix {

/// An input stream buffer over an open EncryptedFileReader, so that an `std::istream` reads the
/// plaintext, seeks (seekg, tellg) and reports through its state: eofbit at the end, failbit for
/// a seek before the start, badbit when a chunk cannot be read or does not decrypt (error() then
/// says why; with badbit in the stream's exceptions() the failure is thrown, reason included).
///
/// Small reads are served from a buffer of 64 KiB, never filled across a chunk boundary; large
/// ones go straight to the caller's memory.
/// The reader must outlive the buffer. One buffer serves one stream on one thread at a time;
/// several buffers on several threads may share a reader.
class DecryptingStreamBuf : public std::streambuf {
public:
    explicit DecryptingStreamBuf(EncryptedFileReader& reader);

    /// Why the last failed read failed; nothing when none has.
    [[nodiscard]] const std::optional<Error>& error() const { return error_; }

protected:
    int_type underflow() override;
    std::streamsize xsgetn(char_type* destination, std::streamsize count) override;
    pos_type seekoff(off_type offset, std::ios_base::seekdir direction,
                     std::ios_base::openmode which) override;
    pos_type seekpos(pos_type position, std::ios_base::openmode which) override;

private:
    [[nodiscard]] std::uint64_t position() const;
    /// Reads from the reader at `offset`; throws std::ios_base::failure when it fails.
    std::size_t readAt(std::uint64_t offset, char* destination, std::size_t count);

    EncryptedFileReader& reader_;
    std::unique_ptr<char[]> buffer_;
    std::uint64_t bufferStart_ = 0; // plaintext offset of eback()
    std::optional<Error> error_;
};

} // namespace corvix
