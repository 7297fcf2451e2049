// Every reader over files the writer never makes: the files of tests/data/malformed (the table of
// expected outcomes is in its README.md) and files built here that break the chunk rule (every
// chunk but the last decrypts to exactly 1 MiB, the last to 1 byte to 1 MiB, however legal its
// padding). A file that fails fails every reader with the same reason, nothing written and the
// earlier output kept; one that reads gives its plaintext to all. And the header rule: a file
// without a 0x0D in its first 64 KiB is refused after reading that much.

#include "Basics/Encodings.h"
#include "Format/FileCipher.h"
#include "TestKit.h"

#include <algorithm>
#include <corvix/AESUtils.h>
#include <corvix/CorvixKey.h>
#include <corvix/EncryptedFileReader.h>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <regex>
#include <set>

namespace corvix::test {
namespace {

using ::testing::HasSubstr;
const fs::path kCorpus = fs::path(CORVIX_TEST_DATA_DIR) / "malformed";
constexpr std::size_t kChunk = FileFormat::kPlainChunkSize;
constexpr std::size_t kSealed = FileFormat::kCipherChunkSize;

struct Row {
    std::string file;     // NAME.enc in the corpus, or the name of a file built from `pieces`
    std::string expected; // "reads", or the reason the readers that skip the header give
    // The body: pieces of pattern bytes (size, seed), each sealed as one message.
    std::vector<std::pair<std::size_t, unsigned>> pieces = {};
    std::size_t flipAt = 0;    // a byte of the body to change (XOR 0x11), or 0
    std::string header = "ok"; // "ok", "no terminator" or "other"

    /// What a reader that checks the header line first gives.
    [[nodiscard]] std::string checked() const {
        return header == "ok"      ? expected
               : header == "other" ? "header does not decrypt"
                                   : "no header terminator";
    }
};

std::vector<Row> corpus() {
    static const std::regex kRow(R"(\| (\S+\.enc) \| .+ \| (reads|fails: (.+)) \| (.+) \|)");
    std::vector<Row> rows;
    std::ifstream in(kCorpus / "README.md");
    std::smatch match;
    for (std::string line; std::getline(in, line);) {
        if (std::regex_match(line, match, kRow)) {
            rows.push_back({match[1], match[3].matched ? match[3] : match[2], {}, 0, match[4]});
        }
    }
    return rows;
}

const std::vector<Row> kChunkRule = {
    // The last byte of the block before chunk 1's last: its padding now reads 01.
    {"middle_chunk_short.enc",
     "chunk 1 decrypts to 1048591 bytes",
     {{kChunk, 1}, {100, 2}},
     kSealed - 17},
    {"last_full_chunk_padded_01.enc", "chunk 1 decrypts to 1048591 bytes", {{kChunk + 15, 3}}},
    {"last_chunk_all_padding.enc", "chunk 2 decrypts to 0 bytes", {{kChunk, 4}, {0, 0}}},
    // After a good chunk, the last byte of the second one's padding (0x0C) becomes 0x1D.
    {"second_chunk_does_not_decrypt.enc",
     "chunk 2 does not decrypt",
     {{kChunk, 5}, {100, 6}},
     kSealed + 112 - 17},
};

class EveryReader : public testing::TestWithParam<Row> {};

TEST_P(EveryReader, GivesThePlaintextOrTheSameReason) {
    const Row& row = GetParam();
    const Scratch dir;
    const KeyMaterial key = *CorvixKey::material();
    fs::path file = kCorpus / row.file;
    if (!row.pieces.empty()) {
        Bytes built = *FileFormat::headerLine(FileFormat::kHeaderText, key);
        built.push_back(FileFormat::kHeaderEnd);
        for (const auto& [size, seed] : row.pieces) {
            const Bytes piece = *AESUtils::encryptBytes(
                pattern(size, seed), static_cast<std::int64_t>(size), key.key(), key.iv());
            built.insert(built.end(), piece.begin(), piece.end());
        }
        built[25 + row.flipAt] ^= row.flipAt != 0 ? 0x11 : 0;
        writeFile(file = dir / row.file, built);
    }
    const std::string stem = row.file.substr(0, row.file.size() - 4);
    const std::optional<Bytes> plain = row.expected == "reads"
                                           ? std::optional(readBytes(kCorpus / "expected" / stem))
                                           : std::nullopt;
    const auto gave = [](const auto& outcome) {
        return outcome ? std::string("reads") : outcome.error().reason;
    };

    // The readers that skip the header line.
    writeFile(dir / "out", "earlier");
    std::vector<std::string> ended;
    AESUtils::decryptFile(
        file, dir / "out", key, {}, [&] { ended.push_back("completed"); },
        [&](bool cancelled) { ended.push_back(cancelled ? "cancelled" : "failed"); });
    EXPECT_EQ(ended, std::vector<std::string>{plain ? "completed" : "failed"});
    EXPECT_EQ(readBytes(dir / "out"), plain.value_or(utf8Bytes("earlier")));
    EXPECT_EQ(AESUtils::decryptFileToBytes(file, key), plain);
    const auto whole = FileCipher::decryptToBytes(file, key);
    EXPECT_THAT(gave(whole), HasSubstr(row.expected));

    // The reader in place, skipping the header line and checking it.
    for (const auto& header :
         {std::optional<std::string>(), std::optional<std::string>("quorveth")}) {
        SCOPED_TRACE(header ? "header checked" : "header skipped");
        EncryptedFileReader reader(file.string(), key, header);
        const Outcome<> opened = reader.open();
        Bytes read(reader.size());
        const auto got = opened ? reader.read(0, read.data(), read.size())
                                : Outcome<std::size_t>(opened.error());
        EXPECT_THAT(gave(got), HasSubstr(header ? row.checked() : row.expected));
        EXPECT_TRUE(!got || read == *plain);
    }

    // corvix-cli checks the header line first, whatever it does.
    const bool reads = row.checked() == "reads";
    const std::string path = file.string();
    for (const auto& command : {std::vector<std::string>{CORVIX_CLI_PATH, "verify", path},
                                {CORVIX_CLI_PATH, "decrypt", "-q", "-o", "cli", path},
                                {CORVIX_CLI_PATH, "cat", path}}) {
        const Exit ran = run(command, dir.path());
        EXPECT_EQ(ran.code, reads ? 0 : 1) << command[1];
        EXPECT_THAT(reads ? "reads" : ran.err, HasSubstr(row.checked())) << command[1];
        EXPECT_TRUE(command[1] != "cat" || !reads ||
                    ran.out == std::string(plain->begin(), plain->end()));
    }
    const std::set<std::string> written = {"cli", "out", row.pieces.empty() ? "out" : row.file,
                                           reads ? "cli/" + stem : "cli"};
    EXPECT_EQ(dir.tree(), std::vector<std::string>(written.begin(), written.end()));
    EXPECT_TRUE(!reads || readBytes(dir / "cli" / stem) == *plain);
}

INSTANTIATE_TEST_SUITE_P(Table, EveryReader, testing::ValuesIn([] {
                             std::vector<Row> rows = corpus();
                             rows.insert(rows.end(), kChunkRule.begin(), kChunkRule.end());
                             return rows;
                         }()),
                         [](const auto& info) {
                             return "f" + std::regex_replace(
                                              info.param.file.substr(0, info.param.file.size() - 4),
                                              std::regex("-"), "_");
                         });

TEST(MalformedCorpus, TheTableCoversTheFolder) {
    const auto files = std::count_if(fs::directory_iterator(kCorpus), {}, [](const auto& entry) {
        return entry.path().extension() == ".enc";
    });
    EXPECT_EQ(std::ssize(corpus()), files);
    EXPECT_GT(files, 30);
}

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
    const KeyMaterial key = *CorvixKey::material();      // what making it reads is not counted
    const std::uint64_t before = bytesRead();
    const auto plain = FileCipher::decryptToBytes(scratch / "zeros.enc", key);
    const std::uint64_t read = bytesRead() - before;
    ASSERT_FALSE(plain);
    EXPECT_EQ(plain.error().code, Errc::noHeaderTerminator);
    EXPECT_GE(read, 65536U);
    EXPECT_LT(read, 65536U + 4096U) << "the proc file itself is read too";
}

} // namespace
} // namespace corvix::test
