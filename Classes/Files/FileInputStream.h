#pragma once

#include "Files/Descriptor.h"
#include "Files/OpenFolder.h"
#include "Files/Streams.h"

#include <corvix/Outcome.h>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

namespace corvix {

/// A buffered input stream over a regular file. Small reads are served from a buffer, large
/// ones go straight to the caller's memory, so neither the header scan nor the chunk reads cost
/// a system call per byte.
class FileInputStream final : public InputStream {
public:
    explicit FileInputStream(std::string path);
    /// A stream over the file `name` in `folder`, which must stay open until open(). A link
    /// there is not followed. `shownPath` names the file in messages.
    FileInputStream(const OpenFolder& folder, std::string name, std::string shownPath);

    /// Opens the file for reading; fails when it cannot be opened or is not a regular file (a
    /// folder, a pipe, a device). Opening a stream that is open already changes nothing.
    [[nodiscard]] Outcome<> open();
    void close() { fd_.reset(); }

    /// Size and permission bits of the file when it was opened (from the open descriptor).
    [[nodiscard]] std::uint64_t size() const { return size_; }
    [[nodiscard]] unsigned permissions() const { return permissions_; }
    [[nodiscard]] const std::string& path() const { return shown_; }

    [[nodiscard]] bool hasBytesAvailable() const override;
    std::ptrdiff_t read(std::uint8_t* buffer, std::size_t n) override;

    /// Consumes bytes up to and including the first `delimiter` and gives those before it;
    /// nothing when the stream ends or fails first (error() tells which), or when more than
    /// `limit` bytes come before it (then at most limit + 1 bytes are consumed).
    [[nodiscard]] std::optional<Bytes> readThrough(std::uint8_t delimiter, std::size_t limit);

    /// Reads at `offset` until n bytes have arrived or the file ends, without moving the stream:
    /// positioned reads share no file position, so any number of threads may make them at once.
    [[nodiscard]] Outcome<std::size_t> readAt(std::uint64_t offset, std::uint8_t* buffer,
                                              std::size_t n) const;

    /// The error that stopped the stream, if any.
    [[nodiscard]] std::error_code error() const { return error_; }

private:
    bool refill();
    std::ptrdiff_t readFromFile(std::uint8_t* buffer, std::size_t n);

    int folder_;
    std::string name_;
    std::string shown_;
    bool followLink_;
    Descriptor fd_;
    std::uint64_t size_ = 0;
    unsigned permissions_ = 0600;
    bool atEnd_ = false;
    std::error_code error_;
    std::unique_ptr<std::uint8_t[]> buffer_; // allocated on the first small read
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
};

} // namespace corvix
