#include "Format/FileFormat.h"

#include <algorithm>
#include <corvix/DecryptingStreamBuf.h>
#include <cstring>
#include <limits>

namespace corvix {

namespace {
constexpr std::size_t kBufferSize = 64 * 1024;
constexpr std::uint64_t kChunk = FileFormat::kPlainChunkSize;
} // namespace

DecryptingStreamBuf::DecryptingStreamBuf(EncryptedFileReader& reader)
    : reader_(reader), buffer_(std::make_unique_for_overwrite<char[]>(kBufferSize)) {
    setg(buffer_.get(), buffer_.get(), buffer_.get());
}

std::uint64_t DecryptingStreamBuf::position() const {
    return bufferStart_ + static_cast<std::uint64_t>(gptr() - eback());
}

std::size_t DecryptingStreamBuf::readAt(std::uint64_t offset, char* destination,
                                        std::size_t count) {
    const auto got = reader_.read(offset, reinterpret_cast<std::uint8_t*>(destination), count);
    if (!got) {
        error_ = got.error();
        // The stream catches it and sets badbit, which end of file alone never does.
        throw std::ios_base::failure(error_->message());
    }
    return *got;
}

DecryptingStreamBuf::int_type DecryptingStreamBuf::underflow() {
    if (gptr() < egptr()) {
        return traits_type::to_int_type(*gptr());
    }
    // A fill stops at the end of the chunk it starts in: reads that stay in one chunk never
    // decrypt, nor fail on, the next.
    const std::uint64_t at = position();
    const auto wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(kBufferSize, kChunk - at % kChunk));
    const std::size_t got = readAt(at, buffer_.get(), wanted);
    bufferStart_ = at;
    setg(buffer_.get(), buffer_.get(), buffer_.get() + got);
    return got == 0 ? traits_type::eof() : traits_type::to_int_type(*gptr());
}

std::streamsize DecryptingStreamBuf::xsgetn(char_type* destination, std::streamsize count) {
    std::streamsize done = 0;
    while (done < count) {
        if (gptr() == egptr()) {
            const auto rest = static_cast<std::size_t>(count - done);
            if (rest >= kBufferSize) {
                const std::uint64_t at = position();
                const std::size_t got = readAt(at, destination + done, rest);
                bufferStart_ = at + got;
                setg(buffer_.get(), buffer_.get(), buffer_.get());
                return done + static_cast<std::streamsize>(got);
            }
            if (traits_type::eq_int_type(underflow(), traits_type::eof())) {
                break;
            }
        }
        const auto piece = std::min<std::streamsize>(count - done, egptr() - gptr());
        std::memcpy(destination + done, gptr(), static_cast<std::size_t>(piece));
        gbump(static_cast<int>(piece));
        done += piece;
    }
    return done;
}

DecryptingStreamBuf::pos_type DecryptingStreamBuf::seekoff(off_type offset,
                                                           std::ios_base::seekdir direction,
                                                           std::ios_base::openmode which) {
    const pos_type refused(off_type(-1));
    if ((which & std::ios_base::in) == 0) {
        return refused;
    }
    const std::uint64_t base = direction == std::ios_base::cur   ? position()
                               : direction == std::ios_base::end ? reader_.size()
                                                                 : 0;
    // The target must be at or after the start and fit an off_type; any offset past the end is
    // taken (reads there meet the end), as a file stream takes it.
    constexpr auto kLargest = static_cast<std::uint64_t>(std::numeric_limits<off_type>::max());
    const std::uint64_t distance =
        offset < 0 ? 0 - static_cast<std::uint64_t>(offset) : static_cast<std::uint64_t>(offset);
    if ((offset < 0 && distance > base) || (offset >= 0 && distance > kLargest - base)) {
        return refused;
    }
    const std::uint64_t target = offset < 0 ? base - distance : base + distance;
    const auto buffered = static_cast<std::uint64_t>(egptr() - eback());
    if (target >= bufferStart_ && target - bufferStart_ <= buffered) {
        setg(eback(), eback() + (target - bufferStart_), egptr());
    } else {
        bufferStart_ = target;
        setg(buffer_.get(), buffer_.get(), buffer_.get());
    }
    return pos_type(static_cast<off_type>(target));
}

DecryptingStreamBuf::pos_type DecryptingStreamBuf::seekpos(pos_type position,
                                                           std::ios_base::openmode which) {
    return seekoff(off_type(position), std::ios_base::beg, which);
}

} // namespace corvix
