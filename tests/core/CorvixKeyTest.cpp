#include "Key/CorvixKey.h"

#include "Key/Encodings.h"

#include <cctype>
#include <gtest/gtest.h>

namespace corvix {
namespace {

// The key string keeps its form (digits at even, letters at odd places) and the key is its
// digest. Every file ever written depends on the value itself: the header line that the format
// tests compare with pins it without showing it.
TEST(CorvixKey, KeyMaterialHasItsForm) {
    const std::string key = CorvixKey::keyString();
    ASSERT_EQ(key.size(), 16U);
    for (std::size_t i = 0; i < key.size(); ++i) {
        EXPECT_TRUE(i % 2 == 0 ? std::isdigit(key[i]) : std::islower(key[i])) << i;
    }
    EXPECT_EQ(CorvixKey::aesKey(), sha256(utf8Bytes(key)));
    EXPECT_EQ(CorvixKey::aesKeyHex(), hexText(CorvixKey::aesKey()));
    EXPECT_EQ(CorvixKey::ivText(), "4630295817204468");
    EXPECT_EQ(CorvixKey::ivBytes(), utf8Bytes("4630295817204468"));
}

} // namespace
} // namespace corvix
