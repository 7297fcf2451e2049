// The stream loops that the format's readers and writers use. (The buffered file stream is read
// in small and large pieces across its buffer's edges by the malformed corpus, files 30 to 32.)

#include "Files/Streams.h"

#include "Basics/Encodings.h"
#include "TestKit.h"

#include <deque>
#include <gtest/gtest.h>

namespace corvix {
namespace {

/// Delivers its parts one per read (or less, if less is asked), then the end or an error.
struct PartsInputStream final : InputStream {
    [[nodiscard]] bool hasBytesAvailable() const override { return !parts.empty() || failAtEnd; }
    std::ptrdiff_t read(std::uint8_t* buffer, std::size_t n) override {
        requests.push_back(n);
        if (parts.empty()) {
            return failAtEnd ? -1 : 0;
        }
        Bytes& part = parts.front();
        const std::size_t count = std::min(n, part.size());
        std::copy_n(part.begin(), count, buffer);
        part.erase(part.begin(), part.begin() + static_cast<std::ptrdiff_t>(count));
        if (part.empty()) {
            parts.pop_front();
        }
        return static_cast<std::ptrdiff_t>(count);
    }
    std::deque<Bytes> parts;
    bool failAtEnd = false;
    std::vector<std::size_t> requests;
};

TEST(Streams, ReadFullyGathersPartsAndStopsAtNTheEndOrAnError) {
    PartsInputStream parts;
    parts.parts = {{1, 2, 3}, {4}, {5, 6, 7, 8, 9}, {10}};
    Bytes buffer(12, 0xEE);
    EXPECT_EQ(readFully(parts, buffer.data(), 9), 9U);
    EXPECT_EQ(buffer, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 0xEE, 0xEE, 0xEE}));
    EXPECT_EQ(parts.requests, (std::vector<std::size_t>{9, 6, 5})) << "only what is missing";
    EXPECT_EQ(readFully(parts, buffer.data(), 3), 1U) << "the stream runs dry";

    PartsInputStream failing;
    failing.parts = {{1, 2}};
    failing.failAtEnd = true;
    EXPECT_EQ(readFully(failing, buffer.data(), 4), 2U) << "an error ends it with the bytes so far";

    const Bytes data = test::pattern(10);
    test::FailingOutputStream full(6);
    EXPECT_EQ(writeFully(full, data.data(), data.size()), 6U);
    EXPECT_EQ(writeFully(full, data.data(), data.size()), 0U) << "no space: nothing is tried";
    EXPECT_EQ(full.written, copyPrefix(6, data));
}

} // namespace
} // namespace corvix
