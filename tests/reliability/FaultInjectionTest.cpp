// Faults from outside, through the library: a source that shrinks while it is read, and sources and
// destinations that cannot be used (the destinations are left as they are). Each is reported as
// a failure, keeps the earlier file at the destination and leaves no temporary file. A write
// that fails part-way (a file-size limit) is in tests/data/cli/scenarios.json. The tests run as
// root, so none relies on permissions.

#include "Basics/Encodings.h"
#include "Format/FileCipher.h"
#include "TestKit.h"

#include <corvix/AESUtils.h>
#include <corvix/CorvixKey.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace corvix::test {
namespace {

class FaultInjection : public testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        writeFile(scratch / "data", pattern(3 * FileFormat::kPlainChunkSize + 1000, 5));
        ASSERT_TRUE(writeEncrypted(scratch / "data.enc", readFile(scratch / "data")));
        writeFile(destination, "earlier");
    }

    // Through the library: "completed", "failed" or "cancelled".
    std::string run(const fs::path& from, const fs::path& to) {
        std::string outcome = "no outcome";
        const auto completed = [&] { outcome = "completed"; };
        const auto failed = [&](bool cancelled) { outcome = cancelled ? "cancelled" : "failed"; };
        const Bytes key = CorvixKey::aesKey(), iv = CorvixKey::ivBytes();
        if (encrypting) {
            AESUtils::encryptFile(from, to, "quorveth", key, iv, {}, completed, failed);
        } else {
            AESUtils::decryptFile(from, to, key, iv, {}, completed, failed);
        }
        return outcome;
    }

    void expectEarlierFileKeptAndNoTemporary() {
        EXPECT_EQ(readBytes(destination), utf8Bytes("earlier"));
        EXPECT_EQ(std::distance(fs::directory_iterator(destination.parent_path()), {}), 1);
    }

    Scratch scratch;
    bool encrypting = GetParam() == "encrypt";
    fs::path source = scratch / (encrypting ? "data" : "data.enc");
    fs::path destination = scratch / (encrypting ? "out/data.enc" : "out/data");
};

TEST_P(FaultInjection, SourceThatShrinksMidRunIsAFailure) {
    const Bytes original = readBytes(source);
    const KeyMaterial key = *CorvixKey::material();
    const std::uint64_t second =
        encrypting ? FileFormat::kPlainChunkSize : 25 + FileFormat::kCipherChunkSize;
    for (const std::uint64_t size : {second + 7, second, std::uint64_t{0}}) {
        // The stream takes the file's size as it opens; the file shrinks before the run reads.
        FileInputStream input(source.string());
        ASSERT_TRUE(input.open().ok());
        fs::resize_file(source, size);
        AtomicFileWriter output(destination.string());
        const Outcome<> ran = encrypting ? FileCipher::encrypt(input, output, "quorveth", key)
                                         : FileCipher::decrypt(input, output, key, std::nullopt);
        EXPECT_FALSE(ran.ok()) << size;
        expectEarlierFileKeptAndNoTemporary();
        writeFile(source, original);
    }
}

TEST_P(FaultInjection, SourcesAndDestinationsThatCannotBeUsedAreFailures) {
    ASSERT_EQ(::mkfifo((scratch / "fifo").c_str(), 0600), 0);
    fs::create_directories(scratch / "folder/inside");
    fs::create_symlink("../fifo", scratch / "folder/link");
    for (const char* from : {"missing", "fifo", "folder"}) {
        EXPECT_EQ(run(scratch / from, destination), "failed") << from;
    }
    for (const char* to : {"missing/out", "data/out", "folder", "fifo", "folder/link"}) {
        EXPECT_EQ(run(source, scratch / to), "failed") << to;
    }
    EXPECT_TRUE(fs::is_fifo(scratch / "fifo") && fs::is_symlink(scratch / "folder/link"));
    EXPECT_EQ(std::distance(fs::recursive_directory_iterator(scratch.path()), {}), 8);
    expectEarlierFileKeptAndNoTemporary();
}

INSTANTIATE_TEST_SUITE_P(Both, FaultInjection, testing::Values("encrypt", "decrypt"),
                         [](const auto& info) { return info.param; });

} // namespace
} // namespace corvix::test
