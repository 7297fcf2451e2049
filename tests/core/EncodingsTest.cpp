#include "Key/Encodings.h"

#include <gtest/gtest.h>

namespace corvix {
namespace {

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

TEST(Utf8, TextAcceptsOnlyWellFormedBytes) {
    EXPECT_EQ(utf8Text({}), std::optional<std::string>(""));
    EXPECT_EQ(utf8Text({0xE5, 0x8A, 0xA0, 0xE5, 0xAF, 0x86}), std::optional<std::string>("加密"));
    EXPECT_EQ(utf8Text({0xF0, 0x9F, 0x98, 0x80}), std::optional<std::string>("😀"));

    const std::vector<Bytes> illFormed = {
        {0xC3, 0x28},             // lead byte followed by ASCII
        {0x80},                   // lone continuation byte
        {0xE2, 0x82},             // sequence cut short
        {0xC0, 0xAF},             // overlong '/'
        {0xE0, 0x80, 0xAF},       // overlong, three bytes
        {0xED, 0xA0, 0x80},       // UTF-16 surrogate
        {0xF4, 0x90, 0x80, 0x80}, // above U+10FFFF
        {0xFF},
    };
    for (const Bytes& bytes : illFormed) {
        EXPECT_EQ(utf8Text(bytes), std::nullopt) << hexText(bytes);
    }
}

// FIPS 180-4 examples (NIST CSRC "SHA256.pdf"): one-block, empty and two-block messages.
TEST(Sha256, KnownAnswers) {
    EXPECT_EQ(hexText(sha256(bytesOf("abc"))),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(hexText(sha256({})),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hexText(sha256(bytesOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"))),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST(Hex, TextAndBytes) {
    EXPECT_EQ(hexText({0x00, 0x0F, 0xA0, 0xFF}), "000fa0ff");
    const struct {
        std::string_view text;
        Bytes bytes;
    } cases[] = {
        {"0x1aF", {0x1A, 0x0F}}, // prefix skipped, mixed case, odd last digit alone
        {"00ff10", {0x00, 0xFF, 0x10}},
        {"0x", {}},
        {"", {}},
        {"0X12", {}},   // only a lowercase x starts the prefix
        {"12 34", {}},  // a space ends the decoding with nothing
        {"12g4", {}},   // so does a letter after f
        {"0x0x12", {}}, // a second prefix is not a digit
        {"1é", {}},     // and a non-ASCII character
    };
    for (const auto& c : cases) {
        EXPECT_EQ(bytesFromHex(c.text), c.bytes) << c.text;
        EXPECT_EQ(dataFromHex(c.text), c.bytes) << c.text;
    }
}

// RFC 4648 section 10 test vectors, plus one input that uses '+' and '/' (standard alphabet).
TEST(Base64, Rfc4648Vectors) {
    const struct {
        std::string_view plain;
        std::string_view encoded;
    } vectors[] = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"\xFB\xFF\xBF", "+/+/"},
    };
    for (const auto& v : vectors) {
        EXPECT_EQ(base64Text(bytesOf(v.plain)), v.encoded);
        EXPECT_EQ(base64Bytes(bytesOf(v.plain)), bytesOf(v.encoded));
        EXPECT_EQ(bytesFromBase64(v.encoded), bytesOf(v.plain)) << v.encoded;
    }
}

TEST(Base64, DecodingIsStrict) {
    for (const std::string_view text :
         {"Zm9v\nYmFy", "Zm9v YmFy", "Zm9vYmFy\n", "Zm9v!mFy", "Zm-_", "Zg=a",
          "Z===", "====", "Zm9vYmFy====", "Zg", "Zm9vYg", "Zm9vYmE"}) {
        EXPECT_EQ(bytesFromBase64(text), Bytes{}) << text;
    }
}

TEST(Base64, EveryByteValueAndLengthRoundTrips) {
    Bytes all(256);
    for (std::size_t i = 0; i < all.size(); ++i) {
        all[i] = static_cast<std::uint8_t>(i);
    }
    for (std::size_t length = 0; length <= all.size(); length += 1 + length / 8) {
        const Bytes part = copyPrefix(length, all);
        const std::string text = base64Text(part);
        EXPECT_EQ(text.size(), (length + 2) / 3 * 4);
        EXPECT_EQ(bytesFromBase64(text), part) << length;
    }
    EXPECT_EQ(copyPrefix(300, all), all);
}

} // namespace
} // namespace corvix
