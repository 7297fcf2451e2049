// Every file of tests/data/malformed through both readers and corvix-cli, against the table of
// expected outcomes in tests/data/malformed/README.md.

#include "Crypto/AESUtils.h"
#include "Crypto/FileCipher.h"
#include "Files.h"
#include "Key/CorvixKey.h"
#include "Key/KeyMaterial.h"
#include "Process.h"
#include "ScratchDir.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <set>

namespace corvix::test {
namespace {

const std::filesystem::path kCorpus = std::filesystem::path(CORVIX_TEST_DATA_DIR) / "malformed";

struct CorpusFile {
    std::string file;                   // NAME.enc
    std::string fault;                  // as the table words it
    std::optional<std::string> failure; // the reason the table expects; nothing: reads

    [[nodiscard]] std::string stem() const { return file.substr(0, file.size() - 4); }
};

void PrintTo(const CorpusFile& row, std::ostream* out) {
    *out << row.file;
}

std::vector<CorpusFile> readTable() {
    static const std::regex kRow(R"(\| (\S+\.enc) \| (.+) \| (reads|fails: (.+)) \|)");
    std::vector<CorpusFile> rows;
    std::ifstream in(kCorpus / "README.md");
    std::string line;
    std::smatch match;
    while (std::getline(in, line)) {
        if (std::regex_match(line, match, kRow)) {
            rows.push_back(
                {match[1], match[2],
                 match[4].matched ? std::optional<std::string>(match[4]) : std::nullopt});
        }
    }
    return rows;
}

class MalformedCorpus : public ::testing::TestWithParam<CorpusFile> {
protected:
    [[nodiscard]] std::filesystem::path source() const { return kCorpus / GetParam().file; }
    [[nodiscard]] Bytes expectedPlaintext() const {
        const auto expected = readIfPresent(kCorpus / "expected" / GetParam().stem());
        EXPECT_TRUE(expected) << "the table says " << GetParam().file << " reads, but expected/"
                              << GetParam().stem() << " is missing";
        return expected.value_or(Bytes{});
    }

    ScratchDir scratch;
};

TEST(MalformedCorpusTable, ListsEveryFileOfTheCorpusAndEnoughOfThem) {
    const auto rows = readTable();
    std::set<std::string> listed;
    for (const auto& row : rows) {
        listed.insert(row.file);
    }
    std::set<std::string> present;
    for (const auto& name : entriesOf(kCorpus)) {
        if (name.ends_with(".enc")) {
            present.insert(name);
        }
    }
    EXPECT_EQ(listed, present);
    EXPECT_GE(rows.size(), 25U);
}

TEST_P(MalformedCorpus, DecryptFileReportsTheOutcomeAndKeepsTheEarlierFile) {
    const auto out = scratch.path();
    const auto destination = out / GetParam().stem();
    writeFile(destination, Bytes{'e', 'a', 'r', 'l', 'i', 'e', 'r'});
    const std::string earlier = fileDigest(destination);

    int completed = 0;
    std::vector<bool> failures;
    AESUtils::decryptFile(
        source().string(), destination.string(), CorvixKey::aesKey(), CorvixKey::ivBytes(), {},
        [&] { ++completed; }, [&](bool cancelled) { failures.push_back(cancelled); });

    if (GetParam().failure) {
        EXPECT_EQ(completed, 0);
        EXPECT_EQ(failures, std::vector<bool>{false});
        EXPECT_EQ(fileDigest(destination), earlier);
    } else {
        EXPECT_EQ(completed, 1);
        EXPECT_TRUE(failures.empty());
        EXPECT_EQ(readFile(destination), expectedPlaintext());
    }
    EXPECT_EQ(entriesOf(out), std::vector<std::string>{GetParam().stem()});
}

TEST_P(MalformedCorpus, DecryptFileToBytesGivesNothingOrTheExpectedPlaintext) {
    const auto plain =
        AESUtils::decryptFileToBytes(source().string(), CorvixKey::aesKey(), CorvixKey::ivBytes());
    std::string reason;
    const auto again = FileCipher::decryptToBytes(source().string(), KeyMaterial::builtIn(), &reason);
    if (GetParam().failure) {
        EXPECT_FALSE(plain);
        EXPECT_FALSE(again);
        EXPECT_NE(reason.find(*GetParam().failure), std::string::npos) << reason;
    } else {
        ASSERT_TRUE(plain);
        EXPECT_EQ(*plain, expectedPlaintext());
        EXPECT_EQ(again, plain);
    }
}

TEST_P(MalformedCorpus, CliDecryptExitsWithTheReasonAndWritesNothing) {
    const auto out = scratch / "out";
    std::filesystem::create_directory(out);
    const ProcessResult result =
        runProcess({CORVIX_CLI_PATH, "decrypt", "-o", out.string(), source().string()});

    ASSERT_EQ(result.signal, 0) << result.err;
    if (GetParam().failure) {
        EXPECT_EQ(result.exitCode, 1);
        EXPECT_NE(result.err.find(GetParam().file), std::string::npos) << result.err;
        EXPECT_NE(result.err.find(*GetParam().failure), std::string::npos) << result.err;
        EXPECT_TRUE(entriesOf(out).empty());
    } else {
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(readFile(out / GetParam().stem()), expectedPlaintext());
        EXPECT_EQ(entriesOf(out), std::vector<std::string>{GetParam().stem()});
    }
}

std::string testName(const ::testing::TestParamInfo<CorpusFile>& info) {
    std::string name = info.param.stem();
    std::replace(name.begin(), name.end(), '-', '_');
    return "f" + name;
}

INSTANTIATE_TEST_SUITE_P(Table, MalformedCorpus, ::testing::ValuesIn(readTable()), testName);

} // namespace
} // namespace corvix::test
