// Published AES-256-CBC answers through encryptBytes/decryptBytes: the NIST CAVP AES-256 CBC
// response files in tests/data/cavp (see tests/data/README.md). The SP 800-38A F.2 vectors, the
// fifth block of F.2.5 among them, are in the core's AESUtilsTest.

#include "Crypto/AESUtils.h"
#include "Files.h"
#include "Key/Encodings.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iostream>
#include <string>
#include <vector>

namespace corvix {
namespace {

using test::slice;

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
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
