// Published AES-CBC known answers through encryptBytes and decryptBytes: NIST SP 800-38A F.2 and
// the NIST CAVP AES-256 CBC response files, all in tests/data/cavp (see tests/data/README.md).
// They are raw CBC: with PKCS#7 one more block follows, the encryption of sixteen 0x10 bytes
// chained from the last ciphertext block, which the openssl command computed for every case into
// padding-blocks.txt (key, last ciphertext block, padding block; one line per case, in order).
// Then what gives nothing: damaged or foreign ciphertext, keys and IVs of the wrong size, lengths
// out of range.

#include "Basics/Encodings.h"
#include "TestKit.h"

#include <corvix/AESUtils.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>

namespace corvix {
namespace {

std::optional<Bytes> encrypt(const Bytes& data, const Bytes& key, const Bytes& iv) {
    return AESUtils::encryptBytes(data, static_cast<std::int64_t>(data.size()), key, iv);
}

std::optional<Bytes> decrypt(const Bytes& data, const Bytes& key, const Bytes& iv) {
    return AESUtils::decryptBytes(data, static_cast<std::int64_t>(data.size()), key, iv);
}

TEST(KnownAnswers, EveryCaseEncryptsDecryptsAndPadsAsPublished) {
    const std::filesystem::path folder = std::filesystem::path(CORVIX_TEST_DATA_DIR) / "cavp";
    std::ifstream paddings(folder / "padding-blocks.txt");
    std::size_t cases = 0;
    for (const char* name : {"SP800-38A-CBC.rsp", "CBCGFSbox256.rsp", "CBCKeySbox256.rsp",
                             "CBCVarKey256.rsp", "CBCVarTxt256.rsp", "CBCMMT256.rsp"}) {
        std::ifstream in(folder / name);
        std::map<std::string, std::string> field;
        for (std::string line; std::getline(in, line);) {
            line.erase(line.find_last_not_of("\r ") + 1);
            const auto equals = line.find(" = ");
            if (line.starts_with("#") || equals == std::string::npos) {
                continue;
            }
            field[line.substr(0, equals)] = line.substr(equals + 3);
            if (!field.contains("PLAINTEXT") || !field.contains("CIPHERTEXT")) {
                continue;
            }
            const std::string raw = field["CIPHERTEXT"];
            SCOPED_TRACE(std::string(name) + " " + field["KEY"] + " " + raw);
            std::string key, lastBlock, padding;
            ASSERT_TRUE(paddings >> key >> lastBlock >> padding);
            ASSERT_EQ(key + " " + lastBlock, field["KEY"] + " " + raw.substr(raw.size() - 32));
            const Bytes plain = bytesFromHex(field["PLAINTEXT"]);
            const Bytes sealed = bytesFromHex(raw + padding);
            Bytes iv = bytesFromHex(field["IV"]);
            EXPECT_EQ(encrypt(plain, bytesFromHex(key), iv), sealed);
            EXPECT_EQ(decrypt(sealed, bytesFromHex(key), iv), plain);
            iv.resize(32, 0xAA); // IV bytes beyond the first 16 do not count
            EXPECT_EQ(encrypt(plain, bytesFromHex(key), iv), sealed);
            field.erase("PLAINTEXT");
            field.erase("CIPHERTEXT");
            ++cases;
        }
    }
    EXPECT_EQ(cases, 833U);
    EXPECT_TRUE((paddings >> std::ws).eof()) << "padding-blocks.txt has more lines than cases";
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
        {"decrypt: not whole blocks", decrypt(copyPrefix(111, sealed), key, iv)},
        {"decrypt: no block at all", decrypt({}, key, iv)},
        {"decrypt: another key", decrypt(sealed, otherKey, iv)},
        {"decrypt: damaged padding", decrypt(damaged, key, iv)},
        {"decrypt: padding 0x10 over other bytes",
         decrypt(copyPrefix(16, *encrypt(endsIn10, key, iv)), key, iv)},
        {"encrypt: key of 31 bytes", encrypt(data, copyPrefix(31, key), iv)},
        {"encrypt: key of 0 bytes", encrypt(data, {}, iv)},
        {"encrypt: IV of 15 bytes", encrypt(data, key, copyPrefix(15, iv))},
        {"decrypt: IV of 15 bytes", decrypt(sealed, key, copyPrefix(15, iv))},
        {"encrypt: negative length", AESUtils::encryptBytes(data, -1, key, iv)},
        {"encrypt: length past the end", AESUtils::encryptBytes(data, 101, key, iv)},
        {"decrypt: length past the end", AESUtils::decryptBytes(sealed, 113, key, iv)},
    };
    for (const auto& [name, result] : rows) {
        EXPECT_EQ(result, std::nullopt) << name;
    }
    EXPECT_EQ(AESUtils::encryptBytes(data, 20, key, iv), encrypt(copyPrefix(20, data), key, iv));
}

} // namespace
} // namespace corvix
