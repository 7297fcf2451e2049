// One-call reading with the built-in key material: texts against the openssl command, and files
// and pictures through the resource lookup, which must never leave the resources folder.

#include "Basics/Encodings.h"
#include "Format/FileCipher.h"
#include "TestKit.h"

#include <QCoreApplication>
#include <corvix/AESUtils.h>
#include <corvix/CorvixKey.h>
#include <corvix/CorvixUtils.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace corvix {
namespace {

// From the openssl command, not from this code:
//   printf 'TEXT' | openssl enc -aes-256-cbc -K $KEY -iv $(printf 4630295817204468 | xxd -p) |
//   base64 -w0
// with KEY the built-in key as `corvix-cli key` prints it.
const std::vector<std::pair<std::string, std::string>> kSealedTexts = {
    {"", "QXRgLk/2J3esCguqDXxtCg=="},
    {"hello", "HSyM7B/IxqbwlCXFpkpkEw=="},
    {"Grüße, 世界\n", "E1JfQ1KFD/r1CvrRLajEZMzJd2FHX50rHCifi/FBqn4="},
};

// A 7 × 5 picture in PNG.
const std::string kPicture = CORVIX_TEST_DATA_DIR "/runtime/picture.png";

TEST(CorvixUtils, TextsAgreeWithTheOpensslCommand) {
    for (const auto& [plain, sealed] : kSealedTexts) {
        EXPECT_EQ(CorvixUtils::encryptText(plain), sealed);
        EXPECT_EQ(CorvixUtils::decryptText(sealed), plain);
    }
    const std::string large = std::string(100000, 'x') + std::string("nul\0😀", 8);
    EXPECT_EQ(CorvixUtils::decryptText(CorvixUtils::encryptText(large).value_or("")), large);
    const KeyMaterial builtIn = *CorvixKey::material();
    const std::string notUtf8 =
        base64Text(*AESUtils::encryptBytes({0xC3, 0x28}, 2, builtIn.key(), builtIn.iv()));
    const std::string otherKey =
        base64Text(*AESUtils::encryptBytes({'h', 'i'}, 2, Bytes(32, 7), builtIn.iv()));
    for (const std::string& bad : {std::string(""), std::string("not base64!"),
                                   kSealedTexts[1].second + "\n", notUtf8, otherKey}) {
        EXPECT_EQ(CorvixUtils::decryptText(bad), std::nullopt) << bad;
    }
    EXPECT_EQ(CorvixUtils::encryptText("\xff\xfe"), std::nullopt);
}

TEST(CorvixUtils, ResourcesAreFoundOnlyInsideTheirFolder) {
    const test::fs::path folder = CorvixUtils::resourceDirectory(); // checked on first use
    test::fs::remove_all(folder);
    ASSERT_TRUE(test::writeEncrypted(folder / "hello.txt.enc", "hello"));
    ASSERT_TRUE(test::writeEncrypted(folder / "dir" / "logo.png.enc", test::readFile(kPicture)));
    const test::fs::path outside = folder.parent_path() / "outside.txt.enc";
    ASSERT_TRUE(test::writeEncrypted(outside, "next door"));
    // A two-byte character across the first chunk boundary: the text is decoded only whole.
    const std::string big = std::string(1048575, 'a') + "é and more\nlast line";
    ASSERT_TRUE(test::writeEncrypted(folder / "big.txt.enc", big));
    ASSERT_TRUE(test::writeEncrypted(folder / "empty.enc", ""));
    test::fs::create_symlink(folder / "hello.txt.enc", folder / "inner-link.enc");
    test::fs::create_symlink(outside, folder / "out-link.enc");
    const auto table = nlohmann::json::parse(
        test::readFile(CORVIX_TEST_DATA_DIR "/runtime/resource-names.json"))["texts"];
    ASSERT_EQ(table.size(), 16U);
    for (const auto& row : table) {
        const std::string name =
            row[0] == "{outside}" ? outside.string() : row[0].get<std::string>();
        const auto text = CorvixUtils::decryptResourceText(name);
        EXPECT_EQ(text ? nlohmann::json(*text == big ? "{big}" : *text) : nlohmann::json(), row[1])
            << name;
    }
    const auto image = CorvixUtils::decryptResourceImage("dir/logo.png.enc");
    EXPECT_TRUE(image && !image->isNull() && *image == QImage(QString::fromStdString(kPicture)));
    for (const char* notAPicture :
         {"big.txt.enc", "empty.enc", "absent.enc", "../outside.txt.enc"}) {
        EXPECT_FALSE(CorvixUtils::decryptResourceImage(notAPicture)) << notAPicture;
    }
    test::fs::remove(outside);
}

} // namespace
} // namespace corvix

int main(int argc, char** argv) {
    // An application object makes the resource lookup take its folder from Qt, as in an app.
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
