// Published AES-256-CBC answers through encryptBytes/decryptBytes: SP 800-38A F.2.5/F.2.6 and
// the NIST CAVP AES-256 CBC response files in tests/data/cavp (see tests/data/README.md).

#include "Crypto/AESUtils.h"
#include "Key/Encodings.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <string>
#include <vector>

namespace corvix {
namespace {

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes slice(const Bytes& bytes, std::size_t from, std::size_t count) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                 bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
}

std::int64_t sizeOf(const Bytes& bytes) {
    return static_cast<std::int64_t>(bytes.size());
}

// The block CBC appends for PKCS#7 after a whole-block message: sixteen 0x10 bytes, chained
// from the message's last ciphertext block. Computed as the first block of a fresh CBC run
// whose IV is that last block, so it does not lean on how encryptBytes pads.
Bytes paddingBlockAfter(const Bytes& ciphertext, const Bytes& key) {
    const Bytes lastBlock = slice(ciphertext, ciphertext.size() - 16, 16);
    const auto sealed = AESUtils::encryptBytes(Bytes(16, 0x10), 16, key, lastBlock);
    return sealed ? slice(*sealed, 0, 16) : Bytes{};
}

// What strict PKCS#7 removal makes of a whole-block plaintext: the message without its
// padding, or nothing when its last block does not end in valid padding.
std::optional<Bytes> unpadded(const Bytes& plaintext) {
    const std::uint8_t n = plaintext.back();
    if (n == 0 || n > 16) {
        return std::nullopt;
    }
    for (std::size_t i = plaintext.size() - n; i < plaintext.size(); ++i) {
        if (plaintext[i] != n) {
            return std::nullopt;
        }
    }
    return slice(plaintext, 0, plaintext.size() - n);
}

TEST(Sp80038a, F25EncryptsTheFourBlocksAndPadsWithTheFifth) {
    const Bytes key =
        bytesFromHex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
    const Bytes iv = bytesFromHex("000102030405060708090a0b0c0d0e0f");
    const Bytes plain = bytesFromHex("6bc1bee22e409f96e93d7e117393172a"
                                     "ae2d8a571e03ac9c9eb76fac45af8e51"
                                     "30c81c46a35ce411e5fbc1191a0a52ef"
                                     "f69f2445df4f9b17ad2b417be66c3710");
    const Bytes cipher = bytesFromHex("f58c4c04d6e5f1ba779eabfb5f7bfbd6"
                                      "9cfc4e967edb808d679f777bc6702c7d"
                                      "39f23369a9d9bacfa530e26304231461"
                                      "b2eb05e2c39be9fcda6c19078c6a9d1b");
    const Bytes fifth = bytesFromHex("3f461796d6b0d6b2e0c2a72b4d80e644");

    const auto sealed = AESUtils::encryptBytes(plain, sizeOf(plain), key, iv);
    ASSERT_TRUE(sealed);
    EXPECT_EQ(hexText(*sealed), hexText(cipher + fifth));
    EXPECT_EQ(hexText(paddingBlockAfter(cipher, key)), hexText(fifth));

    // F.2.6: decryption of the same blocks, padding block included.
    const auto opened = AESUtils::decryptBytes(cipher + fifth, 80, key, iv);
    ASSERT_TRUE(opened);
    EXPECT_EQ(hexText(*opened), hexText(plain));
    // Without the fifth block the last plaintext byte, 0x10, asks for sixteen padding bytes
    // that the block does not hold: the whole padding is checked, not its last byte alone.
    EXPECT_FALSE(AESUtils::decryptBytes(cipher, sizeOf(cipher), key, iv));
}

TEST(Sp80038a, F26RejectsTheBlocksWithAnyOtherKeyOrACutBlock) {
    const Bytes key =
        bytesFromHex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
    const Bytes iv = bytesFromHex("000102030405060708090a0b0c0d0e0f");
    const Bytes sealed =
        bytesFromHex("f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
                     "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b"
                     "3f461796d6b0d6b2e0c2a72b4d80e644");
    Bytes otherKey = key;
    otherKey[31] ^= 0x01;
    EXPECT_FALSE(AESUtils::decryptBytes(sealed, sizeOf(sealed), otherKey, iv));
    EXPECT_FALSE(AESUtils::decryptBytes(sealed, sizeOf(sealed) - 1, key, iv));
    EXPECT_FALSE(AESUtils::decryptBytes(sealed, sizeOf(sealed), key, Bytes(15, 0)));
    EXPECT_FALSE(AESUtils::decryptBytes(sealed, sizeOf(sealed), Bytes(31, 0), iv));
}

struct CavpCase {
    std::string origin; // file, section and COUNT, for the failure message
    Bytes key;
    Bytes iv;
    Bytes plaintext;
    Bytes ciphertext;
};

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

// Reads the [ENCRYPT] and [DECRYPT] cases of a CAVP response file.
std::vector<CavpCase> readResponseFile(const std::filesystem::path& path) {
    std::vector<CavpCase> cases;
    std::ifstream in(path);
    std::string section;
    std::string count;
    CavpCase current;
    std::string line;
    while (std::getline(in, line)) {
        line = trimmed(line);
        if (line.starts_with("[")) {
            section = line;
            continue;
        }
        const auto equals = line.find(" = ");
        if (line.starts_with("#") || equals == std::string::npos) {
            continue;
        }
        const std::string name = line.substr(0, equals);
        const std::string value = line.substr(equals + 3);
        if (name == "COUNT") {
            current = CavpCase{
                path.filename().string() + " " + section + " COUNT " + value, {}, {}, {}, {}};
        } else if (name == "KEY") {
            current.key = bytesFromHex(value);
        } else if (name == "IV") {
            current.iv = bytesFromHex(value);
        } else if (name == "PLAINTEXT") {
            current.plaintext = bytesFromHex(value);
        } else if (name == "CIPHERTEXT") {
            current.ciphertext = bytesFromHex(value);
        }
        if (!current.plaintext.empty() && !current.ciphertext.empty()) {
            cases.push_back(current);
            current.plaintext.clear();
            current.ciphertext.clear();
        }
    }
    return cases;
}

TEST(CavpCbcAes256, EveryCaseEncryptsDecryptsAndPadsAsPublished) {
    const std::filesystem::path folder = std::filesystem::path(CORVIX_TEST_DATA_DIR) / "cavp";
    const std::vector<std::string> files = {"CBCGFSbox256.rsp", "CBCKeySbox256.rsp",
                                            "CBCVarKey256.rsp", "CBCVarTxt256.rsp",
                                            "CBCMMT256.rsp"};
    std::size_t run = 0;
    std::size_t readAsPadded = 0;
    for (const auto& file : files) {
        const auto cases = readResponseFile(folder / file);
        ASSERT_FALSE(cases.empty()) << "no cases in " << folder / file;
        for (const auto& c : cases) {
            SCOPED_TRACE(c.origin);
            ASSERT_EQ(c.key.size(), 32U);
            ASSERT_EQ(c.plaintext.size(), c.ciphertext.size());
            const Bytes padding = paddingBlockAfter(c.ciphertext, c.key);

            const auto sealed =
                AESUtils::encryptBytes(c.plaintext, sizeOf(c.plaintext), c.key, c.iv);
            ASSERT_TRUE(sealed);
            EXPECT_EQ(hexText(*sealed), hexText(c.ciphertext + padding));

            const Bytes full = c.ciphertext + padding;
            const auto opened = AESUtils::decryptBytes(full, sizeOf(full), c.key, c.iv);
            ASSERT_TRUE(opened);
            EXPECT_EQ(hexText(*opened), hexText(c.plaintext));

            // The bare raw-CBC ciphertext is valid only where its plaintext ends like padding.
            const auto bare =
                AESUtils::decryptBytes(c.ciphertext, sizeOf(c.ciphertext), c.key, c.iv);
            const auto expected = unpadded(c.plaintext);
            ASSERT_EQ(bare.has_value(), expected.has_value());
            if (expected) {
                EXPECT_EQ(hexText(*bare), hexText(*expected));
                ++readAsPadded;
            }
            ++run;
        }
    }
    EXPECT_EQ(run, 830U);
    RecordProperty("cases", static_cast<int>(run));
    RecordProperty("bareCiphertextsWithValidPadding", static_cast<int>(readAsPadded));
    std::cout << "CAVP AES-256 CBC: " << run << " cases run, " << readAsPadded
              << " bare ciphertexts end in valid padding\n";
}

} // namespace
} // namespace corvix
