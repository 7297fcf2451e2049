// Reading in place, on a file of three full chunks and a short one (the writer's bytes are the
// openssl command's, see tests/core/FileFormatTest.cpp): every row of tests/data/read-ranges.tsv
// through the reader, through std::istream and through the QIODevice, whole and with a damaged
// second chunk that must fail exactly the reads that touch it.

#include "Basics/Encodings.h"
#include "TestKit.h"

#include <corvix/CorvixKey.h>
#include <corvix/DecryptingStreamBuf.h>
#include <corvix/EncryptedFileDevice.h>
#include <corvix/EncryptedFileReader.h>
#include <gtest/gtest.h>
#include <istream>
#include <sstream>
#include <tuple>
#include <variant>

namespace corvix::test {
namespace {

constexpr std::uint64_t kMiB = 1048576, kSize = 3 * kMiB + 1000;

using Range = std::tuple<std::string, std::uint64_t, std::uint64_t>; // name, offset, length

std::vector<Range> readRanges() {
    std::vector<Range> rows;
    std::istringstream table(readFile(fs::path(CORVIX_TEST_DATA_DIR) / "read-ranges.tsv"));
    for (std::string line; std::getline(table, line);) {
        std::istringstream fields(line);
        auto& [name, offset, length] = rows.emplace_back();
        fields >> name >> offset >> length;
        EXPECT_TRUE(fields && (fields >> std::ws).eof()) << "not a row: " << line;
    }
    EXPECT_EQ(rows.size(), 15U);
    return rows;
}

// What a reader gave: the bytes, or why it failed ("chunk 2" when it names that chunk).
using Result = std::variant<Bytes, std::string>;
Result failed(const std::string& why) {
    return why.find("chunk 2 ") == std::string::npos ? why : "chunk 2";
}

TEST(ReadInPlace, EveryRangeThroughEveryReader) {
    const Scratch dir;
    const Bytes plain = pattern(kSize, 7);
    const std::string path = (dir / "file.enc").string();
    ASSERT_TRUE(writeEncrypted(path, std::string(plain.begin(), plain.end())));
    const auto size = static_cast<std::streamoff>(kSize);
    const std::vector<Range> rows = readRanges();
    for (const bool damaged : {false, true}) {
        if (damaged) { // the last byte of the second chunk: its padding no longer checks
            Bytes file = readBytes(path);
            file[25 + 2 * (kMiB + 16) - 1] ^= 1;
            writeFile(path, file);
        }
        EncryptedFileReader reader(path, *CorvixKey::material());
        ASSERT_TRUE(reader.open().ok());
        EncryptedFileDevice device(path, *CorvixKey::material());
        ASSERT_TRUE(device.open(QIODevice::ReadOnly)) << device.errorString().toStdString();
        EXPECT_EQ(device.size(), size);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const auto& [name, offset, length] = rows[i];
            SCOPED_TRACE(name + (damaged ? ", second chunk damaged" : ""));
            const bool fails = damaged && length > 0 && offset < 2 * kMiB && offset + length > kMiB;
            const Result expected =
                fails ? Result("chunk 2")
                      : Result(copyPrefix(
                            length, Bytes(plain.begin() + std::min(offset, kSize), plain.end())));

            Bytes read(length);
            const auto count = reader.read(offset, read.data(), read.size());
            read.resize(count ? *count : 0);
            EXPECT_TRUE((count ? Result(read) : failed(count.error().reason)) == expected)
                << "reader";

            // A stream of its own: two reads, the first after a seek from the start (even rows)
            // or from the end (odd rows), the second where the first stopped.
            DecryptingStreamBuf buffer(reader);
            std::istream in(&buffer);
            Bytes streamed(length);
            auto* at = reinterpret_cast<char*>(streamed.data());
            const auto from = static_cast<std::streamoff>(offset);
            (i % 2 == 0 ? in.seekg(from) : in.seekg(from - size, std::ios::end))
                .read(at, length / 2);
            const auto half = in.gcount();
            in.seekg(0, std::ios::cur).read(at + half, static_cast<std::streamsize>(length) - half);
            streamed.resize(half + in.gcount());
            EXPECT_TRUE((in.bad() ? failed(buffer.error() ? buffer.error()->reason : "no reason")
                                  : Result(streamed)) == expected)
                << "stream";

            ASSERT_TRUE(device.seek(from));
            Bytes viaDevice(length);
            const qint64 got =
                device.read(reinterpret_cast<char*>(viaDevice.data()), static_cast<qint64>(length));
            viaDevice.resize(got < 0 ? 0 : static_cast<std::size_t>(got));
            EXPECT_TRUE((got < 0 ? failed(device.errorString().toStdString())
                                 : Result(viaDevice)) == expected)
                << "device";
        }
    }
}

} // namespace
} // namespace corvix::test
