// UTF-8, SHA-256 (FIPS 180-4 examples), hexadecimal and base64 (RFC 4648 section 10).

#include "Basics/Encodings.h"

#include <gtest/gtest.h>

namespace corvix {
namespace {

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

TEST(Encodings, Utf8TextTakesOnlyWellFormedBytes) {
    const std::vector<std::pair<Bytes, std::optional<std::string>>> rows = {
        {{}, ""},
        {{0xE5, 0x8A, 0xA0, 0xE5, 0xAF, 0x86}, "加密"},
        {{0xF0, 0x9F, 0x98, 0x80}, "😀"},
        {{0xC3, 0x28}, std::nullopt},             // lead byte followed by ASCII
        {{0x80}, std::nullopt},                   // lone continuation byte
        {{0xE2, 0x82}, std::nullopt},             // sequence cut short
        {{0xC0, 0xAF}, std::nullopt},             // overlong '/'
        {{0xE0, 0x80, 0xAF}, std::nullopt},       // overlong, three bytes
        {{0xED, 0xA0, 0x80}, std::nullopt},       // UTF-16 surrogate
        {{0xF4, 0x90, 0x80, 0x80}, std::nullopt}, // above U+10FFFF
        {{0xFF}, std::nullopt},
    };
    for (const auto& [bytes, text] : rows) {
        EXPECT_EQ(utf8Text(bytes), text) << hexText(bytes);
    }
}

TEST(Encodings, Sha256KnownAnswers) {
    EXPECT_EQ(hexText(sha256(bytesOf("abc"))),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(hexText(sha256({})),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hexText(sha256(bytesOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"))),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

TEST(Encodings, Hex) {
    EXPECT_EQ(hexText({0x00, 0x0F, 0xA0, 0xFF}), "000fa0ff");
    const std::vector<std::pair<std::string_view, Bytes>> rows = {
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
    for (const auto& [text, bytes] : rows) {
        EXPECT_EQ(bytesFromHex(text), bytes) << text;
    }
}

TEST(Encodings, Base64) {
    const std::vector<std::pair<std::string_view, std::string_view>> vectors = {
        {"", ""},
        {"f", "Zg=="},
        {"fo", "Zm8="},
        {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="},
        {"fooba", "Zm9vYmE="},
        {"foobar", "Zm9vYmFy"},
        {"\xFB\xFF\xBF", "+/+/"},
    };
    for (const auto& [plain, encoded] : vectors) {
        EXPECT_EQ(base64Text(bytesOf(plain)), encoded);
        EXPECT_EQ(base64Bytes(bytesOf(plain)), bytesOf(encoded));
        EXPECT_EQ(bytesFromBase64(encoded), bytesOf(plain)) << encoded;
    }
    // Strict: whitespace, other alphabets, misplaced or missing padding give nothing.
    for (const std::string_view text : {"Zm9v\nYmFy", "Zm9v YmFy", "Zm9vYmFy\n", "Zm9v!mFy", "Zm-_",
                                        "Zg=a", "Z===", "====", "Zm9vYmFy====", "Zg", "Zm9vYmE"}) {
        EXPECT_EQ(bytesFromBase64(text), Bytes{}) << text;
    }
    Bytes all(256);
    for (std::size_t i = 0; i < all.size(); ++i) {
        all[i] = static_cast<std::uint8_t>(i);
    }
    for (std::size_t length = 0; length <= all.size(); length += 1 + length / 8) {
        EXPECT_EQ(bytesFromBase64(base64Text(copyPrefix(length, all))), copyPrefix(length, all));
    }
}

} // namespace
} // namespace corvix
