// Cuts and damage in a file of three chunks (2 MiB + 100 bytes of plaintext), made here
// because it is too large for the corpus folder.
//
// A cut at a chunk boundary leaves a well-formed shorter file: the format has no length field,
// so it reads back as the shorter plaintext. Everywhere else a cut ends a chunk inside its
// data, and its last block is then checked as padding; the plaintext here is chosen so that no
// block ends like padding, which makes every such cut fail.

#include "Crypto/AESUtils.h"
#include "Crypto/FileCipher.h"
#include "EncryptedFiles.h"
#include "Files.h"
#include "Key/CorvixKey.h"
#include "Key/KeyMaterial.h"
#include "Process.h"
#include "ScratchDir.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <set>

namespace corvix::test {
namespace {

constexpr std::uint64_t kHeaderLength = 25; // "quorveth" header line and its 0x0D
constexpr std::uint64_t kPlainSize = 2 * FileCipher::kPlainChunkSize + 100;
constexpr std::uint64_t kFirstBoundary = FileCipher::kCipherChunkSize;
constexpr std::uint64_t kSecondBoundary = 2 * FileCipher::kCipherChunkSize;
constexpr std::uint64_t kBodySize = kSecondBoundary + 112;

// Patterned bytes whose every 16th byte lies outside 0x01..0x10, so no block ends like padding.
Bytes threeChunkPlaintext() {
    Bytes plain = patternBytes(kPlainSize, 3);
    for (std::size_t i = 15; i < plain.size(); i += 16) {
        plain[i] = static_cast<std::uint8_t>(0x20 + plain[i] % 0xD0);
    }
    return plain;
}

class ThreeChunkFile : public ::testing::Test {
protected:
    void SetUp() override {
        plain = threeChunkPlaintext();
        writeFile(scratch / "three", plain);
        ASSERT_TRUE(encryptWithBuiltInKey(scratch / "three", encrypted));
        ASSERT_EQ(std::filesystem::file_size(encrypted), kHeaderLength + kBodySize);
        std::filesystem::create_directory(scratch / "out");
    }

    // Reads `encrypted` through both readers; `expected` is nothing for a failure.
    void expectReaders(const std::optional<Bytes>& expected, const std::string& what) {
        SCOPED_TRACE(what);
        const auto destination = scratch / "out" / "three";
        int completed = 0;
        int failed = 0;
        AESUtils::decryptFile(
            encrypted.string(), destination.string(), CorvixKey::aesKey(), CorvixKey::ivBytes(), {},
            [&] { ++completed; }, [&](bool) { ++failed; });
        EXPECT_EQ(completed, expected ? 1 : 0);
        EXPECT_EQ(failed, expected ? 0 : 1);
        EXPECT_EQ(readIfPresent(destination), expected);
        EXPECT_TRUE(temporaryFiles(scratch / "out").empty());
        std::filesystem::remove(destination);

        EXPECT_EQ(AESUtils::decryptFileToBytes(encrypted.string(), CorvixKey::aesKey(),
                                               CorvixKey::ivBytes()),
                  expected);
    }

    void expectCli(const std::optional<Bytes>& expected, const std::string& what) {
        SCOPED_TRACE(what);
        const auto out = scratch / "cli";
        std::filesystem::create_directories(out);
        const ProcessResult result =
            runProcess({CORVIX_CLI_PATH, "decrypt", "-q", "-o", out.string(), encrypted.string()});
        EXPECT_EQ(result.exitCode, expected ? 0 : 1) << result.err;
        EXPECT_EQ(readIfPresent(out / "three"), expected);
        EXPECT_EQ(entriesOf(out).size(), expected ? 1U : 0U);
        std::filesystem::remove_all(out);
    }

    void flipBodyByte(std::uint64_t offset) {
        Bytes file = readFile(encrypted);
        file[kHeaderLength + offset] ^= 0x01;
        writeFile(encrypted, file);
    }

    ScratchDir scratch;
    Bytes plain;
    std::filesystem::path encrypted = scratch / "three.enc";
};

// Every 16-byte boundary within 1 KiB of the body's start and of each chunk boundary, plus
// 256 boundaries spread at random over the rest. (All 131000 boundaries would mean decrypting
// some 137 GB, as each cut is read from its start.)
std::vector<std::uint64_t> cutsToTry() {
    std::set<std::uint64_t> cuts;
    for (const std::uint64_t centre :
         {std::uint64_t{0}, kFirstBoundary, kSecondBoundary, kBodySize}) {
        const std::uint64_t from = centre > 1024 ? centre - 1024 : 0;
        for (std::uint64_t cut = from; cut <= std::min(centre + 1024, kBodySize); cut += 16) {
            cuts.insert(cut);
        }
    }
    std::mt19937_64 generator(16);
    std::uniform_int_distribution<std::uint64_t> block(0, kBodySize / 16);
    while (cuts.size() < 640) {
        cuts.insert(block(generator) * 16);
    }
    return {cuts.rbegin(), cuts.rend()};
}

std::optional<Bytes> readingOfCut(const Bytes& plain, std::uint64_t cut) {
    if (cut == kBodySize) {
        return plain;
    }
    if (cut % FileCipher::kCipherChunkSize == 0) {
        return slice(plain, 0, cut / FileCipher::kCipherChunkSize * FileCipher::kPlainChunkSize);
    }
    return std::nullopt;
}

TEST_F(ThreeChunkFile, CutAtA16ByteBoundaryFailsUnlessItFallsOnAChunkBoundary) {
    std::size_t readBack = 0;
    const auto cuts = cutsToTry();
    // Longest first, so each cut is a truncate of the same file.
    for (const std::uint64_t cut : cuts) {
        std::filesystem::resize_file(encrypted, kHeaderLength + cut);
        const auto expected = readingOfCut(plain, cut);
        expectReaders(expected, "body cut to " + std::to_string(cut) + " bytes");
        readBack += expected ? 1 : 0;
        if (HasFatalFailure()) {
            return;
        }
    }
    EXPECT_EQ(readBack, 4U); // empty, one chunk, two chunks, whole
    RecordProperty("cuts", static_cast<int>(cuts.size()));
}

TEST_F(ThreeChunkFile, CliReadsACutAtAChunkBoundaryAndRefusesOneBlockOff) {
    for (const std::uint64_t cut : {kBodySize - 16, kSecondBoundary + 16, kSecondBoundary,
                                    kSecondBoundary - 16, kFirstBoundary + 16, kFirstBoundary,
                                    kFirstBoundary - 16, std::uint64_t{16}, std::uint64_t{0}}) {
        std::filesystem::resize_file(encrypted, kHeaderLength + cut);
        expectCli(readingOfCut(plain, cut), "body cut to " + std::to_string(cut) + " bytes");
    }
}

TEST_F(ThreeChunkFile, CutOffA16ByteBoundaryIsATruncatedBody) {
    for (const std::uint64_t cut :
         {kBodySize - 1, kSecondBoundary + 1, kFirstBoundary - 1, std::uint64_t{7}}) {
        std::filesystem::resize_file(encrypted, kHeaderLength + cut);
        std::string reason;
        EXPECT_FALSE(FileCipher::decryptToBytes(encrypted.string(), KeyMaterial::builtIn(), &reason));
        EXPECT_NE(reason.find("truncated body"), std::string::npos) << reason;
    }
}

TEST_F(ThreeChunkFile, DamagedPaddingOfTheMiddleChunkFailsTheWholeFile) {
    // The last byte of the block before chunk 2's padding block: the padding's last byte turns
    // from 0x10 into 0x11.
    flipBodyByte(kSecondBoundary - 17);
    expectReaders(std::nullopt, "middle chunk padding damaged");
    expectCli(std::nullopt, "middle chunk padding damaged");
    std::string reason;
    EXPECT_FALSE(FileCipher::decryptToBytes(encrypted.string(), KeyMaterial::builtIn(), &reason));
    EXPECT_NE(reason.find("chunk 2 does not decrypt"), std::string::npos) << reason;
}

TEST(ShortFile, ACutLeavingABlockThatEndsIn01ReadsAsAShorterPlaintext) {
    // The hazard the padding check cannot see: a cut plaintext that happens to end like padding.
    ScratchDir scratch;
    Bytes plain = patternBytes(40, 7);
    plain[15] = 0x01;
    writeFile(scratch / "short", plain);
    ASSERT_TRUE(encryptWithBuiltInKey(scratch / "short", scratch / "short.enc"));
    std::filesystem::resize_file(scratch / "short.enc", kHeaderLength + 16);
    EXPECT_EQ(AESUtils::decryptFileToBytes((scratch / "short.enc").string(), CorvixKey::aesKey(),
                                           CorvixKey::ivBytes()),
              slice(plain, 0, 15));
}

} // namespace
} // namespace corvix::test
