// Reading in place, on a file that the openssl command made: the table of reads through the
// reader and through std::istream, whole and with a damaged middle chunk that must fail exactly
// the reads that touch it.

#include "ReadRanges.h"

#include <corvix/CorvixKey.h>
#include <corvix/DecryptingStreamBuf.h>
#include <corvix/EncryptedFileReader.h>
#include <gtest/gtest.h>
#include <istream>

namespace corvix {

TEST(ReadInPlace, EveryRangeOfAFileTheOpensslCommandMade) {
    constexpr std::streamoff kMiB = 1048576;
    const test::Scratch dir;
    const Bytes plain = test::sealRangesFile(dir.path());
    const std::string path = (dir / "file.enc").string();
    for (const bool damaged : {false, true}) {
        if (damaged) { // the last byte of the second chunk: its padding no longer checks
            Bytes file = test::readBytes(path);
            file[25 + 2 * (kMiB + 16) - 1] ^= 1;
            test::writeFile(path, file);
        }
        EncryptedFileReader reader(path, *CorvixKey::material());
        ASSERT_TRUE(reader.open().ok());
        DecryptingStreamBuf buffer(reader);
        std::istream in(&buffer);
        for (const auto& [name, offset, length] : test::readRanges()) {
            const bool fails = damaged && length > 0 && offset < 2 * kMiB && offset + length > kMiB;
            Bytes read(length);
            const auto count = reader.read(offset, read.data(), read.size());
            read.resize(count ? *count : 0);
            // Two reads from the stream, the second where the first stopped (a seek by 0 between).
            Bytes streamed(length);
            auto* at = reinterpret_cast<char*>(streamed.data());
            in.clear();
            const auto half = in.seekg(offset).read(at, length / 2).gcount();
            in.seekg(0, std::ios::cur).read(at + half, length - half);
            streamed.resize(half + in.gcount());
            EXPECT_EQ(in.bad(), fails) << name << damaged;
            EXPECT_TRUE(fails ? !count && buffer.error()->reason.starts_with("chunk 2 ")
                              : count && read == test::bytesIn(plain, offset, length) &&
                                    streamed == read)
                << name << damaged;
        }
    }
}

} // namespace corvix
