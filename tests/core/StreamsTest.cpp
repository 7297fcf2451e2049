#include "Crypto/ByteArrayOutputStream.h"
#include "Crypto/FileInputStream.h"
#include "Key/Encodings.h"
#include "TestSupport.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace corvix {
namespace {

using test::ScratchDir;

/// Delivers its data in the given parts, one part (or less, if less is asked) per read, then
/// either the end or an error.
class PartsInputStream final : public InputStream {
public:
    PartsInputStream(std::deque<Bytes> parts, bool failAtEnd = false)
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

/// Takes at most `perWrite` bytes a call, and fails every write once `capacity` bytes are in.
class LimitedOutputStream final : public OutputStream {
public:
    LimitedOutputStream(std::size_t perWrite, std::size_t capacity)
        : perWrite_(perWrite), capacity_(capacity) {}

    [[nodiscard]] bool hasSpaceAvailable() const override { return !failed_; }

    std::ptrdiff_t write(const std::uint8_t* buffer, std::size_t n) override {
        if (written.size() >= capacity_) {
            failed_ = true;
            return -1;
        }
        const std::size_t count = std::min({n, perWrite_, capacity_ - written.size()});
        written.insert(written.end(), buffer, buffer + count);
        return static_cast<std::ptrdiff_t>(count);
    }

    Bytes written;

private:
    std::size_t perWrite_;
    std::size_t capacity_;
    bool failed_ = false;
};

TEST(ReadFully, GathersPartsOneAfterAnother) {
    PartsInputStream stream({{1, 2, 3}, {4}, {5, 6, 7, 8, 9}});
    Bytes buffer(9, 0xEE);
    EXPECT_EQ(readFully(stream, buffer.data(), 9), 9U);
    EXPECT_EQ(buffer, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(stream.requests, (std::vector<std::size_t>{9, 6, 5}))
        << "each read asks only for what is missing";
}

TEST(ReadFully, StopsAtNAndWhenTheStreamRunsDry) {
    PartsInputStream longer({{1, 2, 3}, {4, 5, 6}});
    Bytes buffer(4, 0xEE);
    EXPECT_EQ(readFully(longer, buffer.data(), 4), 4U);
    EXPECT_EQ(buffer, (Bytes{1, 2, 3, 4}));
    EXPECT_TRUE(longer.hasBytesAvailable());

    PartsInputStream shorter({{1, 2}, {3}});
    Bytes room(8, 0xEE);
    EXPECT_EQ(readFully(shorter, room.data(), 8), 3U);
    EXPECT_EQ(room, (Bytes{1, 2, 3, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
}

TEST(ReadFully, NothingAvailableMeansNoRead) {
    PartsInputStream empty({});
    std::uint8_t byte = 0;
    EXPECT_EQ(readFully(empty, &byte, 1), 0U);
    EXPECT_TRUE(empty.requests.empty());
}

TEST(ReadFully, AnErrorEndsTheLoopWithTheBytesSoFar) {
    PartsInputStream failing({{1, 2}}, true);
    Bytes buffer(6, 0xEE);
    EXPECT_EQ(readFully(failing, buffer.data(), 4), 2U);
    EXPECT_EQ(buffer, (Bytes{1, 2, 0xEE, 0xEE, 0xEE, 0xEE}));
}

TEST(WriteFully, PushesEverythingThroughPartialWrites) {
    LimitedOutputStream stream(3, 100);
    const Bytes data = test::patternBytes(10);
    EXPECT_EQ(writeFully(stream, data.data(), data.size()), 10U);
    EXPECT_EQ(stream.written, data);
}

TEST(WriteFully, AFailingStreamGivesTheCountWritten) {
    LimitedOutputStream stream(4, 6);
    const Bytes data = test::patternBytes(10);
    EXPECT_EQ(writeFully(stream, data.data(), data.size()), 6U);
    EXPECT_FALSE(stream.hasSpaceAvailable());
    EXPECT_EQ(writeFully(stream, data.data(), data.size()), 0U) << "no space: nothing is tried";
}

TEST(ByteArrayOutputStream, Appends) {
    Bytes target = {9};
    ByteArrayOutputStream stream(target);
    const Bytes data = {1, 2, 3};
    EXPECT_EQ(writeFully(stream, data.data(), 3), 3U);
    EXPECT_EQ(writeFully(stream, data.data(), 0), 0U);
    EXPECT_EQ(target, (Bytes{9, 1, 2, 3}));
}

TEST(FileInputStream, ReadsAFileInAnyPiecesAndReportsItsEndLate) {
    const ScratchDir dir;
    const Bytes data = test::patternBytes(200001);
    test::writeFile(dir.file("data"), data);
    FileInputStream stream(dir.file("data"));
    ASSERT_TRUE(stream.open());
    EXPECT_EQ(stream.size(), std::optional<std::uint64_t>(data.size()));

    // Pieces smaller and larger than the stream's own buffer, across its edges.
    const std::size_t pieces[] = {1, 7, 65536, 3, 100000, 70000};
    Bytes got;
    for (std::size_t i = 0; got.size() < data.size(); ++i) {
        Bytes piece(std::min(pieces[i % std::size(pieces)], data.size() - got.size()));
        const std::size_t count = readFully(stream, piece.data(), piece.size());
        ASSERT_EQ(count, piece.size());
        got.insert(got.end(), piece.begin(), piece.end());
    }
    EXPECT_EQ(got, data);
    EXPECT_TRUE(stream.hasBytesAvailable()) << "the end is not known before a read meets it";
    std::uint8_t byte = 0;
    EXPECT_EQ(stream.read(&byte, 1), 0);
    EXPECT_FALSE(stream.hasBytesAvailable());
}

TEST(FileInputStream, SkipPastFindsTheFirstDelimiterAnywhere) {
    const ScratchDir dir;
    const auto skipIn = [&](const Bytes& content) {
        test::writeFile(dir.file("f"), content);
        FileInputStream stream(dir.file("f"));
        EXPECT_TRUE(stream.open());
        const auto skipped = stream.skipPast(0x0D);
        Bytes rest(content.size() + 1);
        rest.resize(readFully(stream, rest.data(), rest.size()));
        return std::make_pair(skipped, rest);
    };

    EXPECT_EQ(skipIn({0x0D, 1, 0x0D, 2}),
              std::make_pair(std::optional<std::uint64_t>(0), Bytes{1, 0x0D, 2}));
    EXPECT_EQ(skipIn({1, 2, 0x0D}), std::make_pair(std::optional<std::uint64_t>(2), Bytes{}));

    // A header line longer than the stream's buffer.
    Bytes longLine(150000, 'A');
    longLine.push_back(0x0D);
    longLine.insert(longLine.end(), {7, 8, 9});
    EXPECT_EQ(skipIn(longLine),
              std::make_pair(std::optional<std::uint64_t>(150000), Bytes{7, 8, 9}));

    EXPECT_EQ(skipIn({}).first, std::nullopt);
    EXPECT_EQ(skipIn(Bytes(70000, 'A')).first, std::nullopt);
}

TEST(FileInputStream, OpensOnlyRegularFiles) {
    const ScratchDir dir;
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

TEST(FileInputStream, AFifoIsRefusedWithoutWaitingForAWriter) {
    const ScratchDir dir;
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int result = test::runInChild(
        [&] {
            FileInputStream stream(fifo);
            return stream.open() ? 1 : 0;
        },
        std::chrono::seconds(5));
    EXPECT_EQ(result, 0) << "1: opened, -1: blocked in open()";
}

} // namespace
} // namespace corvix
