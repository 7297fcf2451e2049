// UTF-8, SHA-256, hexadecimal and base64: the rows of tests/data/encodings.json.

#include "Basics/Encodings.h"

#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace corvix {
namespace {

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

TEST(Encodings, EveryRowOfTheTable) {
    const auto table = nlohmann::json::parse(std::ifstream(CORVIX_TEST_DATA_DIR "/encodings.json"));
    ASSERT_EQ(table.size(), 6U);
    EXPECT_EQ(hexText({0x00, 0x0F, 0xA0, 0xFF}), "000fa0ff");
    for (const auto& row : table.at("hex")) { // text, the bytes it gives (as hexText shows them)
        EXPECT_EQ(hexText(bytesFromHex(row[0].get<std::string>())), row[1]) << row;
    }
    for (const auto& row : table.at("utf8")) { // bytes in hex, their text or null
        const auto text = utf8Text(bytesFromHex(row[0].get<std::string>()));
        EXPECT_EQ(text ? nlohmann::json(*text) : nlohmann::json(), row[1]) << row;
    }
    for (const auto& row : table.at("sha256")) { // text, digest
        EXPECT_EQ(hexText(sha256(bytesOf(row[0].get<std::string>()))), row[1]) << row;
    }
    for (const auto& row : table.at("base64")) { // bytes in hex, their base64
        const Bytes plain = bytesFromHex(row[0].get<std::string>());
        const std::string encoded = row[1];
        EXPECT_EQ(base64Text(plain), encoded);
        EXPECT_EQ(base64Bytes(plain), bytesOf(encoded));
        EXPECT_EQ(bytesFromBase64(encoded), plain) << encoded;
    }
    // Strict: whitespace, other alphabets, misplaced or missing padding give nothing.
    for (const std::string text : table.at("base64 refused")) {
        EXPECT_EQ(bytesFromBase64(text), Bytes{}) << text;
    }
    std::size_t rows = 0;
    for (const auto& [name, rowsOfIt] : table.items()) {
        rows += name == "about" ? 0 : rowsOfIt.size();
    }
    EXPECT_EQ(rows, 43U);
}

} // namespace
} // namespace corvix
