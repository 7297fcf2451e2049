// The format's two rules, kept alike by every reader. The chunk rule: every chunk but the last
// decrypts to exactly 1 MiB, the last to 1 byte to 1 MiB; a file that breaks it is damaged,
// however legal its padding, and fails every reader with the same reason and nothing written.
// The header rule: a file without a 0x0D in its first 64 KiB is refused after reading that much.

#include "Format/FileCipher.h"
#include "TestKit.h"

#include <corvix/AESUtils.h>
#include <corvix/CorvixKey.h>
#include <corvix/DecryptingStreamBuf.h>
#include <corvix/EncryptedFileReader.h>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <istream>

namespace corvix::test {
namespace {

using ::testing::HasSubstr;
constexpr std::size_t kChunk = FileFormat::kPlainChunkSize;
constexpr std::size_t kSealed = FileFormat::kCipherChunkSize;

Bytes sealed(const Bytes& plain) {
    return *AESUtils::encryptBytes(plain, static_cast<std::int64_t>(plain.size()),
                                   CorvixKey::aesKey(), CorvixKey::ivBytes());
}

// Rows: a file the writer never makes, built from pieces each sealed as one message, and the
// reason every reader gives for it.
struct Row {
    const char* name;
    std::vector<Bytes> pieces; // after the header line
    std::size_t flipAt;        // a byte of the body to change (XOR 0x11), or 0
    const char* reason;
};

const std::vector<Row>& rows() {
    static const std::vector<Row> table = {
        // The last byte of the block before chunk 1's last: its padding now reads 01.
        {"middle_chunk_short",
         {sealed(pattern(kChunk, 1)), sealed(pattern(100, 2))},
         kSealed - 17,
         "chunk 1 decrypts to 1048591 bytes"},
        {"last_full_chunk_padded_01",
         {sealed(pattern(kChunk + 15, 3))},
         0,
         "chunk 1 decrypts to 1048591 bytes"},
        {"last_chunk_all_padding",
         {sealed(pattern(kChunk, 4)), sealed({})},
         0,
         "chunk 2 decrypts to 0 bytes"},
        // After a good chunk, the last byte of the second one's padding (0x0C) becomes 0x1D.
        {"second_chunk_does_not_decrypt",
         {sealed(pattern(kChunk, 5)), sealed(pattern(100, 6))},
         kSealed + 112 - 17,
         "chunk 2 does not decrypt"},
    };
    return table;
}

class ChunkRule : public testing::TestWithParam<Row> {
protected:
    void SetUp() override {
        Bytes file = *FileFormat::headerLine(FileFormat::kHeaderText, *CorvixKey::material());
        file.push_back(FileFormat::kHeaderEnd);
        for (const Bytes& piece : GetParam().pieces) {
            file.insert(file.end(), piece.begin(), piece.end());
        }
        if (GetParam().flipAt != 0) {
            file[25 + GetParam().flipAt] ^= 0x11; // a padding byte 0x10 becomes 0x01
        }
        writeFile(path, file);
        writeFile(scratch / "out", "earlier");
    }

    const Scratch scratch;
    const fs::path path = scratch / (std::string(GetParam().name) + ".enc");
};

TEST_P(ChunkRule, EveryReaderRefusesTheFileAlike) {
    const std::string reason = GetParam().reason;
    const KeyMaterial key = *CorvixKey::material();
    std::vector<bool> failures;
    AESUtils::decryptFile(path, scratch / "out", key, {}, {},
                          [&](bool cancelled) { failures.push_back(cancelled); });
    EXPECT_EQ(failures, std::vector<bool>{false});
    EXPECT_EQ(readFile(scratch / "out"), "earlier");
    EXPECT_FALSE(AESUtils::decryptFileToBytes(path, key));

    const auto whole = FileCipher::decryptToBytes(path, key);
    ASSERT_FALSE(whole);
    EXPECT_THAT(whole.error().message(), HasSubstr(reason));

    EncryptedFileReader reader(path, key);
    const Outcome<> opened = reader.open();
    Bytes plain(reader.size());
    const auto read =
        opened ? reader.read(0, plain.data(), plain.size()) : Outcome<std::size_t>(opened.error());
    ASSERT_FALSE(read);
    EXPECT_EQ(read.error().message(), whole.error().message());
    if (opened) {
        DecryptingStreamBuf buffer(reader);
        std::istream in(&buffer);
        EXPECT_TRUE(in.ignore(3 * kChunk).bad());
        EXPECT_EQ(buffer.error()->message(), whole.error().message());
    }

    for (const char* command : {"verify", "decrypt", "cat"}) {
        const Exit exit = run({CORVIX_CLI_PATH, command, path.string()}, scratch.path());
        EXPECT_EQ(exit.code, 1) << command;
        EXPECT_THAT(exit.err, HasSubstr(reason)) << command;
    }
    EXPECT_FALSE(fs::exists(path.parent_path() / path.stem()));
}

INSTANTIATE_TEST_SUITE_P(Table, ChunkRule, testing::ValuesIn(rows()),
                         [](const auto& info) { return std::string(info.param.name); });

// What the process has read so far, from the kernel's count.
std::uint64_t bytesRead() {
    std::ifstream io("/proc/self/io");
    for (std::string name, value; io >> name >> value;) {
        if (name == "rchar:") {
            return std::stoull(value);
        }
    }
    return 0;
}

TEST(HeaderRule, AFileWithoutATerminatorIsRefusedAfter64KiB) {
    const Scratch scratch;
    writeFile(scratch / "zeros.enc", "");
    fs::resize_file(scratch / "zeros.enc", 64 * kChunk); // sparse: no 0x0D anywhere
    const std::uint64_t before = bytesRead();
    const auto plain = FileCipher::decryptToBytes(scratch / "zeros.enc", *CorvixKey::material());
    const std::uint64_t read = bytesRead() - before;
    ASSERT_FALSE(plain);
    EXPECT_EQ(plain.error().code, Errc::noHeaderTerminator);
    EXPECT_GE(read, 65536U);
    EXPECT_LT(read, 65536U + 4096U) << "the proc file itself is read too";
}

} // namespace
} // namespace corvix::test
