#pragma once

#include <corvix/Bytes.h>
#include <cstddef>
#include <cstdint>

namespace corvix {

/// A source of bytes, read in order.
class InputStream {
public:
    virtual ~InputStream() = default;

    /// True while a read may still deliver bytes: a stream that has not yet met its end or an
    /// error keeps answering true, even when the next read will find the end.
    [[nodiscard]] virtual bool hasBytesAvailable() const = 0;

    /// Reads up to n bytes; returns the count read, 0 at the end, a negative number on error.
    virtual std::ptrdiff_t read(std::uint8_t* buffer, std::size_t n) = 0;
};

/// A sink of bytes, written in order.
class OutputStream {
public:
    virtual ~OutputStream() = default;

    /// False once a write has failed.
    [[nodiscard]] virtual bool hasSpaceAvailable() const = 0;

    /// Writes up to n bytes; returns the count written or a negative number on error.
    virtual std::ptrdiff_t write(const std::uint8_t* buffer, std::size_t n) = 0;
};

/// Reads until n bytes have arrived or the stream runs dry; returns the count read.
std::size_t readFully(InputStream& stream, std::uint8_t* buffer, std::size_t n);

/// Writes until n bytes have gone out or the stream has no more space; returns the count written.
std::size_t writeFully(OutputStream& stream, const std::uint8_t* buffer, std::size_t n);

/// An output stream that appends to a byte array in memory.
class ByteArrayOutputStream final : public OutputStream {
public:
    explicit ByteArrayOutputStream(Bytes& target) : target_(target) {}

    [[nodiscard]] bool hasSpaceAvailable() const override { return true; }
    std::ptrdiff_t write(const std::uint8_t* buffer, std::size_t n) override {
        target_.insert(target_.end(), buffer, buffer + n);
        return static_cast<std::ptrdiff_t>(n);
    }

private:
    Bytes& target_;
};

/// Takes every byte and keeps none, so a file can be decrypted to the end as a check.
class DiscardingOutputStream final : public OutputStream {
public:
    [[nodiscard]] bool hasSpaceAvailable() const override { return true; }
    std::ptrdiff_t write(const std::uint8_t*, std::size_t n) override {
        return static_cast<std::ptrdiff_t>(n);
    }
};

} // namespace corvix
