// AES-CBC with PKCS#7 over byte arrays: NIST SP 800-38A appendix F.2 and the failure cases.

#include "Basics/Encodings.h"
#include "TestKit.h"

#include <corvix/AESUtils.h>
#include <gtest/gtest.h>

namespace corvix {
namespace {

std::optional<Bytes> encrypt(const Bytes& data, const Bytes& key, const Bytes& iv) {
    return AESUtils::encryptBytes(data, static_cast<std::int64_t>(data.size()), key, iv);
}

std::optional<Bytes> decrypt(const Bytes& data, const Bytes& key, const Bytes& iv) {
    return AESUtils::decryptBytes(data, static_cast<std::int64_t>(data.size()), key, iv);
}

Bytes cut(const Bytes& bytes, std::size_t count) {
    return copyPrefix(count, bytes);
}

// F.2.1, F.2.3 and F.2.5: four raw blocks each. With PKCS#7 a fifth block of padding follows,
// AES(key, C4 xor 10..10), computed with `openssl enc -aes-N-cbc`.
TEST(AesBytes, Sp800_38aCbcVectorsWithTheirPaddingBlock) {
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
    const Bytes plain =
        bytesFromHex("6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
                     "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
    for (const auto& v : vectors) {
        const Bytes key = bytesFromHex(v.key);
        const Bytes sealed = bytesFromHex(std::string(v.cipher) + v.paddingBlock);
        EXPECT_EQ(encrypt(plain, key, iv), sealed) << v.name;
        EXPECT_EQ(decrypt(sealed, key, iv), plain) << v.name;
        // Without the padding block the last byte, 0x10, asks for sixteen padding bytes that
        // the block does not hold: the whole padding is checked, not its last byte.
        EXPECT_EQ(decrypt(bytesFromHex(v.cipher), key, iv), std::nullopt) << v.name;
        // IV bytes beyond the first 16 do not count.
        Bytes longIv = iv;
        longIv.resize(32, 0xAA);
        EXPECT_EQ(encrypt(plain, key, longIv), sealed) << v.name;
    }
}

TEST(AesBytes, WhatGivesNothing) {
    const Bytes key = test::pattern(32, 3);
    const Bytes iv = test::pattern(16, 4);
    const Bytes data = test::pattern(100);
    const Bytes sealed = *encrypt(data, key, iv);
    Bytes otherKey = key;
    otherKey[0] ^= 0x80;
    // The padding of a whole-block message is a block of 0x10: flipping the block before it
    // turns the final byte into 0x00, which is never valid padding.
    Bytes damaged = *encrypt(test::pattern(32), key, iv);
    damaged[31] ^= 0x10;
    const std::vector<std::pair<const char*, std::optional<Bytes>>> rows = {
        {"decrypt: not whole blocks", decrypt(cut(sealed, 111), key, iv)},
        {"decrypt: no block at all", decrypt({}, key, iv)},
        {"decrypt: another key", decrypt(sealed, otherKey, iv)},
        {"decrypt: damaged padding", decrypt(damaged, key, iv)},
        {"encrypt: key of 31 bytes", encrypt(data, cut(key, 31), iv)},
        {"encrypt: key of 0 bytes", encrypt(data, {}, iv)},
        {"encrypt: IV of 15 bytes", encrypt(data, key, cut(iv, 15))},
        {"decrypt: IV of 15 bytes", decrypt(sealed, key, cut(iv, 15))},
        {"encrypt: negative length", AESUtils::encryptBytes(data, -1, key, iv)},
        {"encrypt: length past the end", AESUtils::encryptBytes(data, 101, key, iv)},
        {"decrypt: length past the end", AESUtils::decryptBytes(sealed, 113, key, iv)},
    };
    for (const auto& [name, result] : rows) {
        EXPECT_EQ(result, std::nullopt) << name;
    }
    EXPECT_EQ(AESUtils::encryptBytes(data, 20, key, iv), encrypt(cut(data, 20), key, iv));
}

} // namespace
} // namespace corvix
