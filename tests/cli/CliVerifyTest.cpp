// corvix-cli verify: each reason a file does not read back, and that checking writes nothing.

#include "CliRun.h"
#include "Crypto/FileCipher.h"
#include "Files.h"
#include "Key/CorvixKey.h"
#include "Key/Encodings.h"
#include "ScratchDir.h"

#include <gtest/gtest.h>

namespace corvix::test {
namespace {

namespace fs = std::filesystem;

class CliVerify : public ::testing::Test {
protected:
    void SetUp() override {
        std::string content;
        for (int i = 0; content.size() < FileCipher::kPlainChunkSize + 5000; ++i) {
            content += "line " + std::to_string(i) + "\n";
        }
        writeText(folder_ / "plain.txt", content);
        ASSERT_TRUE(encryptWith(CorvixKey::aesKey(), "good.enc"));
        good_ = readText(folder_ / "good.enc");
    }

    bool encryptWith(const Bytes& key, const std::string& name) const {
        return FileCipher::encrypt((folder_ / "plain.txt").string(), (folder_ / name).string(),
                                   "quorveth", {key, CorvixKey::ivBytes()})
            .succeeded();
    }

    /// stderr's line for `name`, or the stdout line when it verified.
    std::string verdict(const std::string& name) const {
        const ProcessResult run = runCli({"verify", "-q", name}, folder_.path());
        return run.exitCode == 0 ? "ok" : run.err;
    }

    ScratchDir folder_;
    std::string good_;
};

TEST_F(CliVerify, EachFaultIsNamed) {
    writeText(folder_ / "truncated.enc", good_.substr(0, good_.size() - 5));
    ASSERT_TRUE(encryptWith(sha256(utf8Bytes("another key")), "wrongkey.enc"));
    writeText(folder_ / "headerless.enc", "just some text, no carriage return\n");
    writeText(folder_ / "empty.enc", "");
    // The last byte of the last block but one flips the last padding byte of the last chunk.
    std::string damaged = good_;
    damaged[damaged.size() - 17] ^= 0x5A;
    writeText(folder_ / "damaged.enc", damaged);
    // The right body behind another header line still fails the header check.
    writeText(folder_ / "foreignheader.enc", "AAAA" + good_.substr(good_.find('\r')));

    EXPECT_NE(verdict("truncated.enc").find("truncated body"), std::string::npos);
    EXPECT_NE(verdict("wrongkey.enc").find("header does not decrypt to the header text"),
              std::string::npos);
    EXPECT_NE(verdict("headerless.enc").find("no header terminator"), std::string::npos);
    EXPECT_NE(verdict("empty.enc").find("no header terminator"), std::string::npos);
    EXPECT_NE(verdict("damaged.enc").find("chunk 2 does not decrypt"), std::string::npos);
    EXPECT_NE(verdict("foreignheader.enc").find("header does not decrypt"), std::string::npos);
}

TEST_F(CliVerify, FolderIsWalkedForEncFilesAndNothingIsWritten) {
    fs::create_directories(folder_ / "tree/sub");
    fs::copy_file(folder_ / "good.enc", folder_ / "tree/sub/a.enc");
    writeText(folder_ / "tree/b.enc", good_.substr(0, 40));
    writeText(folder_ / "tree/readme.txt", "not an input");
    const auto before = fs::last_write_time(folder_ / "tree/sub");

    const ProcessResult run = runCli({"verify", "tree"}, folder_.path());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "ok tree/sub/a.enc\n1 ok, 1 failed, 0 skipped\n");
    EXPECT_NE(run.err.find("corvix-cli: tree/b.enc: "), std::string::npos);
    EXPECT_EQ(std::distance(fs::recursive_directory_iterator(folder_ / "tree"), {}), 4);
    EXPECT_EQ(fs::last_write_time(folder_ / "tree/sub"), before);
}

} // namespace
} // namespace corvix::test
