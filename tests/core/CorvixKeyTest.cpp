#include "Key/CorvixKey.h"

#include "Crypto/AESUtils.h"
#include "Key/Encodings.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace corvix {
namespace {

TEST(CorvixKey, KeyStringHasDigitsAtEvenAndLettersAtOddPositions) {
    const std::string key = CorvixKey::keyString();
    ASSERT_EQ(key.size(), 16U);
    for (std::size_t i = 0; i < key.size(); ++i) {
        if (i % 2 == 0) {
            EXPECT_TRUE(key[i] >= '0' && key[i] <= '9') << i;
        } else {
            EXPECT_TRUE(key[i] >= 'a' && key[i] <= 'z') << i;
        }
    }
    EXPECT_EQ(CorvixKey::keyString(), key);
}

TEST(CorvixKey, AesKeyIsTheDigestOfTheKeyString) {
    const Bytes key = CorvixKey::aesKey();
    EXPECT_EQ(key.size(), 32U);
    EXPECT_EQ(CorvixKey::aesKey(), key);
    EXPECT_EQ(key, sha256(utf8Bytes(CorvixKey::keyString())));

    const std::string hex = CorvixKey::aesKeyHex();
    EXPECT_EQ(hex.size(), 64U);
    EXPECT_EQ(hex.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(hex, hexText(key));
}

TEST(CorvixKey, IvIsTheAsciiOfTheIvText) {
    EXPECT_EQ(CorvixKey::ivText(), "4630295817204468");
    const Bytes iv = CorvixKey::ivBytes();
    ASSERT_EQ(iv.size(), 16U);
    for (std::size_t i = 0; i < iv.size(); ++i) {
        EXPECT_EQ(iv[i], static_cast<std::uint8_t>(CorvixKey::ivText()[i]));
    }
}

// Every file ever written depends on the key string: a changed piece must fail here, not in the
// field. The pinned value is the header line, which does not show the key itself.
TEST(CorvixKey, KeyMaterialNeverChanges) {
    const auto sealed =
        AESUtils::encryptBytes(utf8Bytes("quorveth"), 8, CorvixKey::aesKey(), CorvixKey::ivBytes());
    ASSERT_TRUE(sealed);
    EXPECT_EQ(base64Text(*sealed), test::kQuorvethHeaderLine);
}

} // namespace
} // namespace corvix
