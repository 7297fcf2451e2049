// AES-CBC with PKCS#7 over byte arrays: what gives nothing. The published known answers are in
// tests/reliability/KnownAnswerTest.cpp.

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
    // A block whose last byte is 0x10 but whose other bytes are not: the whole padding is
    // checked, not its last byte alone.
    Bytes endsIn10 = test::pattern(16);
    endsIn10[15] = 0x10;
    const std::vector<std::pair<const char*, std::optional<Bytes>>> rows = {
        {"decrypt: not whole blocks", decrypt(cut(sealed, 111), key, iv)},
        {"decrypt: no block at all", decrypt({}, key, iv)},
        {"decrypt: another key", decrypt(sealed, otherKey, iv)},
        {"decrypt: damaged padding", decrypt(damaged, key, iv)},
        {"decrypt: padding 0x10 over other bytes",
         decrypt(cut(*encrypt(endsIn10, key, iv), 16), key, iv)},
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
