#include "Crypto/AESUtils.h"

#include "Key/CorvixKey.h"
#include "Key/Encodings.h"
#include "TestSupport.h"

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace corvix {
namespace {

using test::ScratchDir;

std::int64_t sizeOf(const Bytes& bytes) {
    return static_cast<std::int64_t>(bytes.size());
}

std::optional<Bytes> encrypt(const Bytes& data, const Bytes& key, const Bytes& iv) {
    return AESUtils::encryptBytes(data, sizeOf(data), key, iv);
}

std::optional<Bytes> decrypt(const Bytes& data, const Bytes& key, const Bytes& iv) {
    return AESUtils::decryptBytes(data, sizeOf(data), key, iv);
}

// NIST SP 800-38A appendix F.2: CBC-AES128 (F.2.1/F.2.2), CBC-AES192 (F.2.3/F.2.4) and
// CBC-AES256 (F.2.5/F.2.6). The vectors are four raw blocks; with PKCS#7 a fifth block of
// padding follows, AES(key, C4 xor 10..10), computed with `openssl enc -aes-N-cbc`.
struct CbcVector {
    const char* name;
    const char* key;
    const char* cipher;
    const char* paddingBlock;
};

constexpr const char* kVectorIv = "000102030405060708090a0b0c0d0e0f";
constexpr const char* kVectorPlain =
    "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";

const CbcVector kCbcVectors[] = {
    {"F.2.1 CBC-AES128", "2b7e151628aed2a6abf7158809cf4f3c",
     "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
     "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7",
     "8cb82807230e1321d3fae00d18cc2012"},
    {"F.2.3 CBC-AES192", "8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b",
     "4f021db243bc633d7178183a9fa071e8b4d9ada9ad7dedf4e5e738763f69145a"
     "571b242012fb7ae07fa9baac3df102e008b0e27988598881d920a9e64f5615cd",
     "612ccd79224b350935d45dd6a98f8176"},
    {"F.2.5 CBC-AES256", "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
     "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
     "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b",
     "3f461796d6b0d6b2e0c2a72b4d80e644"},
};

TEST(AesBytes, Sp800_38aCbcEncryption) {
    for (const CbcVector& v : kCbcVectors) {
        const auto sealed =
            encrypt(bytesFromHex(kVectorPlain), bytesFromHex(v.key), bytesFromHex(kVectorIv));
        ASSERT_TRUE(sealed) << v.name;
        ASSERT_EQ(sealed->size(), 80U) << v.name;
        EXPECT_EQ(hexText(test::slice(*sealed, 0, 64)), v.cipher) << v.name;
        EXPECT_EQ(hexText(test::slice(*sealed, 64, 16)), v.paddingBlock) << v.name;
    }
}

TEST(AesBytes, Sp800_38aCbcDecryption) {
    for (const CbcVector& v : kCbcVectors) {
        const Bytes sealed = bytesFromHex(std::string(v.cipher) + v.paddingBlock);
        const auto plain = decrypt(sealed, bytesFromHex(v.key), bytesFromHex(kVectorIv));
        ASSERT_TRUE(plain) << v.name;
        EXPECT_EQ(hexText(*plain), kVectorPlain) << v.name;
    }
}

TEST(AesBytes, OutputIsWholeBlocksWithPadding) {
    const Bytes key = CorvixKey::aesKey();
    const Bytes iv = CorvixKey::ivBytes();
    for (const std::size_t length :
         {0UL, 1UL, 8UL, 15UL, 16UL, 17UL, 31UL, 32UL, 1048575UL, test::kMiB}) {
        const Bytes data = test::patternBytes(length);
        const auto sealed = encrypt(data, key, iv);
        ASSERT_TRUE(sealed) << length;
        EXPECT_EQ(sealed->size(), 16 * (length / 16 + 1)) << length;
        EXPECT_EQ(decrypt(*sealed, key, iv), data) << length;
    }
}

TEST(AesBytes, LengthSelectsTheLeadingBytes) {
    const Bytes key = CorvixKey::aesKey();
    const Bytes iv = CorvixKey::ivBytes();
    const Bytes data = test::patternBytes(40);
    EXPECT_EQ(AESUtils::encryptBytes(data, 20, key, iv),
              encrypt(test::slice(data, 0, 20), key, iv));
    EXPECT_EQ(AESUtils::encryptBytes(data, -1, key, iv), std::nullopt);
    EXPECT_EQ(AESUtils::encryptBytes(data, 41, key, iv), std::nullopt);
    const Bytes sealed = *encrypt(data, key, iv);
    EXPECT_EQ(AESUtils::decryptBytes(sealed, 49, key, iv), std::nullopt);
}

TEST(AesBytes, DeterministicAndSharingPrefixBlocks) {
    const Bytes key = CorvixKey::aesKey();
    const Bytes iv = CorvixKey::ivBytes();
    Bytes first = test::patternBytes(64, 1);
    Bytes second = first;
    second[40] ^= 1;
    const Bytes a = *encrypt(first, key, iv);
    EXPECT_EQ(encrypt(first, key, iv), a);
    const Bytes b = *encrypt(second, key, iv);
    EXPECT_EQ(test::slice(a, 0, 32), test::slice(b, 0, 32));
    EXPECT_NE(test::slice(a, 32, 16), test::slice(b, 32, 16));
}

TEST(AesBytes, DecryptionFailures) {
    const Bytes key = CorvixKey::aesKey();
    const Bytes iv = CorvixKey::ivBytes();
    const Bytes data = test::patternBytes(100);
    const Bytes sealed = *encrypt(data, key, iv);

    EXPECT_EQ(decrypt(test::slice(sealed, 0, 111), key, iv), std::nullopt) << "not whole blocks";
    EXPECT_EQ(decrypt({}, key, iv), std::nullopt) << "no block at all";

    Bytes otherKey = key;
    otherKey[0] ^= 0x80;
    const auto wrong = decrypt(sealed, otherKey, iv);
    EXPECT_NE(wrong, data);
    EXPECT_EQ(wrong, std::nullopt) << "the padding check catches this key";

    // The padding of a whole-block message is a block of 0x10: xor-ing the last byte of the
    // block before it with 0x10 turns the final byte into 0x00, which is never valid padding.
    const Bytes blocks = test::patternBytes(32);
    Bytes damaged = *encrypt(blocks, key, iv);
    damaged[31] ^= 0x10;
    EXPECT_EQ(decrypt(damaged, key, iv), std::nullopt);
}

TEST(AesBytes, KeyAndIvSizes) {
    const Bytes data = test::patternBytes(33);
    const Bytes iv = CorvixKey::ivBytes();
    for (const std::size_t keyLength : {16UL, 24UL, 32UL}) {
        const Bytes key = test::patternBytes(keyLength, 7);
        const auto sealed = encrypt(data, key, iv);
        ASSERT_TRUE(sealed) << keyLength;
        EXPECT_EQ(decrypt(*sealed, key, iv), data) << keyLength;
    }
    const Bytes sealed = *encrypt(data, CorvixKey::aesKey(), iv);
    for (const std::size_t keyLength : {0UL, 1UL, 15UL, 17UL, 31UL, 33UL, 64UL}) {
        const Bytes key = test::patternBytes(keyLength, 7);
        EXPECT_EQ(encrypt(data, key, iv), std::nullopt) << keyLength;
        EXPECT_EQ(decrypt(sealed, key, iv), std::nullopt) << keyLength;
    }
    for (const std::size_t ivLength : {0UL, 1UL, 15UL}) {
        const Bytes shortIv = test::slice(iv, 0, ivLength);
        EXPECT_EQ(encrypt(data, CorvixKey::aesKey(), shortIv), std::nullopt) << ivLength;
        EXPECT_EQ(decrypt(sealed, CorvixKey::aesKey(), shortIv), std::nullopt) << ivLength;
    }
    Bytes longIv = iv;
    longIv.resize(32, 0xAA);
    EXPECT_EQ(encrypt(data, CorvixKey::aesKey(), longIv), sealed) << "only 16 IV bytes count";
}

TEST(AesBytes, DecryptString) {
    const Bytes key = CorvixKey::aesKey();
    const Bytes iv = CorvixKey::ivBytes();
    const std::string text = "配置 config ✓";
    const std::string sealed = base64Text(*encrypt(utf8Bytes(text), key, iv));
    EXPECT_EQ(AESUtils::decryptString(sealed, key, iv), text);

    EXPECT_EQ(AESUtils::decryptString("not base64!", key, iv), std::nullopt);
    EXPECT_EQ(AESUtils::decryptString("", key, iv), std::nullopt);
    EXPECT_EQ(AESUtils::decryptString(sealed, test::patternBytes(32, 9), iv), std::nullopt);
    const std::string notUtf8 = base64Text(*encrypt({0xC3, 0x28}, key, iv));
    EXPECT_EQ(AESUtils::decryptString(notUtf8, key, iv), std::nullopt);
}

TEST(FileSystem, FileSizeOfAnEmptyFileIsZeroAndSilent) {
    const ScratchDir dir;
    test::writeFile(dir.file("empty"), {});
    test::writeFile(dir.file("seven"), test::patternBytes(7));
    testing::internal::CaptureStdout();
    EXPECT_EQ(AESUtils::fileSize(dir.file("empty")), std::optional<std::uint64_t>(0));
    EXPECT_EQ(AESUtils::fileSize(dir.file("seven")), std::optional<std::uint64_t>(7));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST(FileSystem, FailuresPrintOneLine) {
    const ScratchDir dir;
    const std::string missing = dir.file("missing");
    testing::internal::CaptureStdout();
    EXPECT_EQ(AESUtils::fileSize(missing), std::nullopt);
    const std::string sizeLine = testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::count(sizeLine.begin(), sizeLine.end(), '\n'), 1);
    EXPECT_EQ(sizeLine.back(), '\n');
    EXPECT_NE(sizeLine.find(missing), std::string::npos);

    testing::internal::CaptureStdout();
    AESUtils::removeFile(missing);
    const std::string removeLine = testing::internal::GetCapturedStdout();
    EXPECT_EQ(std::count(removeLine.begin(), removeLine.end(), '\n'), 1);
    EXPECT_EQ(removeLine.back(), '\n');
    EXPECT_NE(removeLine.find(missing), std::string::npos);
}

TEST(FileSystem, RemoveFileRemovesEvenWhileOpenForWriting) {
    const ScratchDir dir;
    const std::string path = dir.file("open");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    testing::internal::CaptureStdout();
    AESUtils::removeFile(path);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_FALSE(std::filesystem::exists(path));
    ::close(fd);
}

} // namespace
} // namespace corvix
