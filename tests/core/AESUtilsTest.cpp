#include "Crypto/AESUtils.h"

#include "Files.h"
#include "Key/CorvixKey.h"
#include "Key/Encodings.h"

#include <gtest/gtest.h>

namespace corvix {
namespace {

using test::patternBytes;
using test::slice;

std::optional<Bytes> encrypt(const Bytes& data, const Bytes& key, const Bytes& iv) {
    return AESUtils::encryptBytes(data, static_cast<std::int64_t>(data.size()), key, iv);
}

std::optional<Bytes> decrypt(const Bytes& data, const Bytes& key, const Bytes& iv) {
    return AESUtils::decryptBytes(data, static_cast<std::int64_t>(data.size()), key, iv);
}

// NIST SP 800-38A appendix F.2: CBC-AES128 (F.2.1/F.2.2), CBC-AES192 (F.2.3/F.2.4) and
// CBC-AES256 (F.2.5/F.2.6). The vectors are four raw blocks; with PKCS#7 a fifth block of
// padding follows, AES(key, C4 xor 10..10), computed with `openssl enc -aes-N-cbc`.
TEST(AesBytes, Sp800_38aCbcVectors) {
    const struct {
        const char* name;
        const char* key;
        const char* cipher;
        const char* paddingBlock;
    } vectors[] = {
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
    const Bytes iv = bytesFromHex("000102030405060708090a0b0c0d0e0f");
    const std::string plain = "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
                              "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";
    for (const auto& v : vectors) {
        const std::string sealed = std::string(v.cipher) + v.paddingBlock;
        EXPECT_EQ(encrypt(bytesFromHex(plain), bytesFromHex(v.key), iv), bytesFromHex(sealed))
            << v.name;
        EXPECT_EQ(decrypt(bytesFromHex(sealed), bytesFromHex(v.key), iv), bytesFromHex(plain))
            << v.name;
        // Without the padding block the last plaintext byte, 0x10, asks for sixteen padding
        // bytes that the block does not hold: the whole padding is checked, not its last byte.
        EXPECT_EQ(decrypt(bytesFromHex(v.cipher), bytesFromHex(v.key), iv), std::nullopt) << v.name;
    }
}

TEST(AesBytes, OutputIsWholeBlocksWithPadding) {
    const Bytes key = CorvixKey::aesKey();
    const Bytes iv = CorvixKey::ivBytes();
    for (const std::size_t length : {0UL, 1UL, 15UL, 16UL, 17UL, 32UL, 1048575UL, 1048576UL}) {
        const Bytes data = patternBytes(length);
        const auto sealed = encrypt(data, key, iv);
        ASSERT_TRUE(sealed) << length;
        EXPECT_EQ(sealed->size(), 16 * (length / 16 + 1)) << length;
        EXPECT_EQ(decrypt(*sealed, key, iv), data) << length;
    }
}

TEST(AesBytes, LengthSelectsTheLeadingBytes) {
    const Bytes key = CorvixKey::aesKey();
    const Bytes iv = CorvixKey::ivBytes();
    const Bytes data = patternBytes(40);
    EXPECT_EQ(AESUtils::encryptBytes(data, 20, key, iv), encrypt(slice(data, 0, 20), key, iv));
    EXPECT_EQ(AESUtils::encryptBytes(data, -1, key, iv), std::nullopt);
    EXPECT_EQ(AESUtils::encryptBytes(data, 41, key, iv), std::nullopt);
    EXPECT_EQ(AESUtils::decryptBytes(*encrypt(data, key, iv), 49, key, iv), std::nullopt);
}

TEST(AesBytes, DecryptionFailures) {
    const Bytes key = CorvixKey::aesKey();
    const Bytes iv = CorvixKey::ivBytes();
    const Bytes sealed = *encrypt(patternBytes(100), key, iv);
    EXPECT_EQ(decrypt(slice(sealed, 0, 111), key, iv), std::nullopt) << "not whole blocks";
    EXPECT_EQ(decrypt({}, key, iv), std::nullopt) << "no block at all";
    Bytes otherKey = key;
    otherKey[0] ^= 0x80;
    EXPECT_EQ(decrypt(sealed, otherKey, iv), std::nullopt) << "the padding check catches this key";

    // The padding of a whole-block message is a block of 0x10: xor-ing the last byte of the
    // block before it with 0x10 turns the final byte into 0x00, which is never valid padding.
    Bytes damaged = *encrypt(patternBytes(32), key, iv);
    damaged[31] ^= 0x10;
    EXPECT_EQ(decrypt(damaged, key, iv), std::nullopt);
}

// AES-128/192/256 by key length; any other key, or an IV under 16 bytes, gives nothing and is
// never read past its end; IV bytes beyond 16 do not count.
TEST(AesBytes, KeyAndIvSizes) {
    const Bytes data = patternBytes(33);
    const Bytes iv = CorvixKey::ivBytes();
    const Bytes sealed = *encrypt(data, CorvixKey::aesKey(), iv);
    for (const std::size_t keyLength : {0UL, 1UL, 15UL, 16UL, 17UL, 24UL, 31UL, 32UL, 33UL, 64UL}) {
        const Bytes key = patternBytes(keyLength, 7);
        const bool valid = keyLength == 16 || keyLength == 24 || keyLength == 32;
        const auto sealedWithKey = encrypt(data, key, iv);
        ASSERT_EQ(sealedWithKey.has_value(), valid) << keyLength;
        EXPECT_EQ(decrypt(valid ? *sealedWithKey : sealed, key, iv),
                  valid ? std::optional(data) : std::nullopt)
            << keyLength;
    }
    for (const std::size_t ivLength : {0UL, 1UL, 15UL}) {
        EXPECT_EQ(encrypt(data, CorvixKey::aesKey(), slice(iv, 0, ivLength)), std::nullopt);
        EXPECT_EQ(decrypt(sealed, CorvixKey::aesKey(), slice(iv, 0, ivLength)), std::nullopt);
    }
    Bytes longIv = iv;
    longIv.resize(32, 0xAA);
    EXPECT_EQ(encrypt(data, CorvixKey::aesKey(), longIv), sealed);
}

TEST(AesBytes, DecryptString) {
    const Bytes key = CorvixKey::aesKey();
    const Bytes iv = CorvixKey::ivBytes();
    const std::string text = "配置 config ✓";
    const std::string sealed = base64Text(*encrypt(utf8Bytes(text), key, iv));
    EXPECT_EQ(AESUtils::decryptString(sealed, key, iv), text);
    EXPECT_EQ(AESUtils::decryptString("not base64!", key, iv), std::nullopt);
    EXPECT_EQ(AESUtils::decryptString("", key, iv), std::nullopt);
    EXPECT_EQ(AESUtils::decryptString(sealed, patternBytes(32, 9), iv), std::nullopt);
    const std::string notUtf8 = base64Text(*encrypt({0xC3, 0x28}, key, iv));
    EXPECT_EQ(AESUtils::decryptString(notUtf8, key, iv), std::nullopt);
}

} // namespace
} // namespace corvix
