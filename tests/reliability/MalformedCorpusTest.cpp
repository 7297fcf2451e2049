// Every file of tests/data/malformed through each reader once, against the table of expected
// outcomes in tests/data/malformed/README.md.

#include "Format/FileCipher.h"
#include "TestKit.h"

#include <corvix/AESUtils.h>
#include <corvix/CorvixKey.h>
#include <corvix/EncryptedFileReader.h>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

namespace corvix::test {
namespace {

using ::testing::HasSubstr;
const fs::path kCorpus = fs::path(CORVIX_TEST_DATA_DIR) / "malformed";

struct CorpusFile {
    std::string file;     // NAME.enc
    std::string expected; // "reads", or the reason the readers that skip the header give
    std::string header;   // "ok", "no terminator" or "other"

    [[nodiscard]] std::string stem() const { return file.substr(0, file.size() - 4); }
    /// What a reader that checks the header line first gives.
    [[nodiscard]] std::string checked() const {
        return header == "ok"      ? expected
               : header == "other" ? "header does not decrypt"
                                   : "no header terminator";
    }
};

void PrintTo(const CorpusFile& row, std::ostream* out) {
    *out << row.file;
}

std::vector<CorpusFile> readTable() {
    static const std::regex kRow(R"(\| (\S+\.enc) \| .+ \| (reads|fails: (.+)) \| (.+) \|)");
    std::vector<CorpusFile> rows;
    std::ifstream in(kCorpus / "README.md");
    std::smatch match;
    for (std::string line; std::getline(in, line);) {
        if (std::regex_match(line, match, kRow)) {
            rows.push_back({match[1], match[3].matched ? match[3] : match[2], match[4]});
        }
    }
    return rows;
}

class MalformedCorpus : public ::testing::TestWithParam<CorpusFile> {};

TEST_P(MalformedCorpus, ReadersThatSkipTheHeader) {
    const CorpusFile& row = GetParam();
    const Scratch dir;
    const std::string source = (kCorpus / row.file).string();
    writeFile(dir / "out", "earlier");
    int completed = 0;
    std::vector<bool> failures;
    const KeyMaterial key = *CorvixKey::material();
    AESUtils::decryptFile(
        source, (dir / "out").string(), key.key(), key.iv(), {}, [&] { ++completed; },
        [&](bool cancelled) { failures.push_back(cancelled); });
    const auto plain = FileCipher::decryptToBytes(source, key);
    if (row.expected == "reads") {
        const Bytes expected = readBytes(kCorpus / "expected" / row.stem());
        EXPECT_EQ(completed, 1);
        EXPECT_TRUE(failures.empty());
        EXPECT_EQ(readBytes(dir / "out"), expected);
        EXPECT_TRUE(plain && *plain == expected);
    } else {
        EXPECT_EQ(completed, 0);
        EXPECT_EQ(failures, std::vector<bool>{false});
        EXPECT_EQ(readFile(dir / "out"), "earlier");
        ASSERT_FALSE(plain);
        EXPECT_THAT(plain.error().reason, HasSubstr(row.expected));
    }
    EXPECT_EQ(dir.tree(), std::vector<std::string>{"out"});
}

// The reader in place, as a reader that skips the header line and as one that checks it.
TEST_P(MalformedCorpus, ReaderInPlaceEitherWay) {
    const CorpusFile& row = GetParam();
    for (const auto& [header, expected] :
         {std::pair{std::optional<std::string>(), row.expected},
          std::pair{std::optional<std::string>("quorveth"), row.checked()}}) {
        EncryptedFileReader reader((kCorpus / row.file).string(), *CorvixKey::material(), header);
        const Outcome<> opened = reader.open();
        Bytes plain(reader.size());
        const auto read = opened ? reader.read(0, plain.data(), plain.size())
                                 : Outcome<std::size_t>(opened.error());
        EXPECT_THAT(read ? "reads" : read.error().reason, HasSubstr(expected))
            << header.value_or("skipped");
        const bool reads = read.ok();
        if (reads) {
            EXPECT_EQ(plain, readBytes(kCorpus / "expected" / row.stem()));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, MalformedCorpus, ::testing::ValuesIn(readTable()),
                         [](const auto& info) {
                             return "f" +
                                    std::regex_replace(info.param.stem(), std::regex("-"), "_");
                         });

TEST(MalformedCorpusTable, CoversTheFolderAndVerifyChecksTheHeaderFirst) {
    const auto rows = readTable();
    std::vector<std::string> command = {CORVIX_CLI_PATH, "verify", "--json"};
    for (const auto& row : rows) {
        command.push_back((kCorpus / row.file).string());
    }
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(kCorpus)) {
        files += entry.path().extension() == ".enc" ? 1 : 0;
    }
    ASSERT_EQ(rows.size(), files);
    const Exit exit = run(command);
    EXPECT_EQ(exit.code, 1) << exit.err;
    std::istringstream out(exit.out);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        std::string line;
        ASSERT_TRUE(std::getline(out, line));
        const auto record = nlohmann::json::parse(line);
        EXPECT_EQ(record["input"], (kCorpus / row.file).string());
        if (row.checked() == "reads") {
            EXPECT_EQ(record["status"], "ok");
        } else {
            EXPECT_EQ(record["status"], "failed");
            EXPECT_THAT(record["error"].get<std::string>(), HasSubstr(row.checked()));
        }
    }
}

} // namespace
} // namespace corvix::test
