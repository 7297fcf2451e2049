#include "Crypto/ByteArrayOutputStream.h"
#include "Crypto/FileInputStream.h"
#include "FailingOutputStream.h"
#include "Files.h"
#include "Key/Encodings.h"
#include "ScratchDir.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <gtest/gtest.h>

namespace corvix {
namespace {

using test::patternBytes;

/// Delivers its data in the given parts, one part (or less, if less is asked) per read, then
/// either the end or an error.
class PartsInputStream final : public InputStream {
public:
    explicit PartsInputStream(std::deque<Bytes> parts, bool failAtEnd = false)
        : parts_(std::move(parts)), failAtEnd_(failAtEnd) {}

    [[nodiscard]] bool hasBytesAvailable() const override {
        return !parts_.empty() || (failAtEnd_ && !failed_);
    }

    std::ptrdiff_t read(std::uint8_t* buffer, std::size_t n) override {
        requests.push_back(n);
        if (parts_.empty()) {
            failed_ = failAtEnd_;
            return failAtEnd_ ? -1 : 0;
        }
        Bytes& part = parts_.front();
        const std::size_t count = std::min(n, part.size());
        std::memcpy(buffer, part.data(), count);
        part.erase(part.begin(), part.begin() + static_cast<std::ptrdiff_t>(count));
        if (part.empty()) {
            parts_.pop_front();
        }
        return static_cast<std::ptrdiff_t>(count);
    }

    std::vector<std::size_t> requests;

private:
    std::deque<Bytes> parts_;
    bool failAtEnd_;
    bool failed_ = false;
};

TEST(ReadFully, GathersPartsAndStopsAtNTheEndOrAnError) {
    PartsInputStream parts({{1, 2, 3}, {4}, {5, 6, 7, 8, 9}, {10}});
    Bytes buffer(12, 0xEE);
    EXPECT_EQ(readFully(parts, buffer.data(), 9), 9U);
    EXPECT_EQ(buffer, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 0xEE, 0xEE, 0xEE}));
    EXPECT_EQ(parts.requests, (std::vector<std::size_t>{9, 6, 5}))
        << "each read asks only for what is missing";
    EXPECT_TRUE(parts.hasBytesAvailable());
    EXPECT_EQ(readFully(parts, buffer.data(), 3), 1U) << "the stream runs dry";

    PartsInputStream empty({});
    EXPECT_EQ(readFully(empty, buffer.data(), 1), 0U);
    EXPECT_TRUE(empty.requests.empty()) << "nothing available means no read";

    PartsInputStream failing({{1, 2}}, true);
    EXPECT_EQ(readFully(failing, buffer.data(), 4), 2U) << "an error ends it with the bytes so far";
}

TEST(WriteFully, PushesThroughPartialWritesAndStopsAtAFailure) {
    const Bytes data = patternBytes(10);
    test::FailingOutputStream roomy(100, 3);
    EXPECT_EQ(writeFully(roomy, data.data(), data.size()), 10U);
    EXPECT_EQ(roomy.written, data);

    test::FailingOutputStream full(6, 4);
    EXPECT_EQ(writeFully(full, data.data(), data.size()), 6U);
    EXPECT_FALSE(full.hasSpaceAvailable());
    EXPECT_EQ(writeFully(full, data.data(), data.size()), 0U) << "no space: nothing is tried";

    Bytes target = {9};
    ByteArrayOutputStream appending(target);
    EXPECT_EQ(writeFully(appending, data.data(), 3), 3U);
    EXPECT_EQ(target, (Bytes{9, data[0], data[1], data[2]}));
}

TEST(FileInputStream, ReadsAFileInAnyPiecesAndReportsItsEndLate) {
    const test::ScratchDir dir;
    const Bytes data = patternBytes(200001);
    test::writeFile(dir / "data", data);
    FileInputStream stream(dir.file("data"));
    ASSERT_TRUE(stream.open());
    EXPECT_EQ(stream.size(), std::optional<std::uint64_t>(data.size()));

    // Pieces smaller and larger than the stream's own buffer, across its edges.
    const std::size_t pieces[] = {1, 7, 65536, 3, 100000, 70000};
    Bytes got;
    for (std::size_t i = 0; got.size() < data.size(); ++i) {
        Bytes piece(std::min(pieces[i % std::size(pieces)], data.size() - got.size()));
        ASSERT_EQ(readFully(stream, piece.data(), piece.size()), piece.size());
        got.insert(got.end(), piece.begin(), piece.end());
    }
    EXPECT_EQ(got, data);
    EXPECT_TRUE(stream.hasBytesAvailable()) << "the end is not known before a read meets it";
    std::uint8_t byte = 0;
    EXPECT_EQ(stream.read(&byte, 1), 0);
    EXPECT_FALSE(stream.hasBytesAvailable());
}

TEST(FileInputStream, SkipPastFindsTheFirstDelimiterAnywhere) {
    const test::ScratchDir dir;
    const auto skipIn = [&](const Bytes& content) {
        test::writeFile(dir / "f", content);
        FileInputStream stream(dir.file("f"));
        EXPECT_TRUE(stream.open());
        const auto skipped = stream.skipPast(0x0D);
        Bytes rest(content.size() + 1);
        rest.resize(readFully(stream, rest.data(), rest.size()));
        return std::make_pair(skipped, rest);
    };
    using Skip = std::pair<std::optional<std::uint64_t>, Bytes>;
    EXPECT_EQ(skipIn({0x0D, 1, 0x0D, 2}), Skip(0, {1, 0x0D, 2}));
    EXPECT_EQ(skipIn({1, 2, 0x0D}), Skip(2, {}));
    // A header line longer than the stream's buffer.
    Bytes longLine(150000, 'A');
    longLine.insert(longLine.end(), {0x0D, 7, 8, 9});
    EXPECT_EQ(skipIn(longLine), Skip(150000, {7, 8, 9}));
    EXPECT_EQ(skipIn({}).first, std::nullopt);
    EXPECT_EQ(skipIn(Bytes(70000, 'A')).first, std::nullopt);
}

TEST(FileInputStream, OpensOnlyRegularFiles) {
    const test::ScratchDir dir;
    FileInputStream missing(dir.file("missing"));
    EXPECT_FALSE(missing.open());
    EXPECT_EQ(missing.error(), std::errc::no_such_file_or_directory);
    EXPECT_FALSE(missing.hasBytesAvailable());

    FileInputStream folder(dir.path().string());
    EXPECT_FALSE(folder.open());
    EXPECT_EQ(folder.error(), std::errc::is_a_directory);

    FileInputStream device("/dev/zero");
    EXPECT_FALSE(device.open()) << "a device has no size to cut into chunks";
    EXPECT_FALSE(device.hasBytesAvailable());
}

} // namespace
} // namespace corvix
