// Published AES-CBC known answers through encryptBytes and decryptBytes: NIST SP 800-38A F.2 and
// the NIST CAVP AES-256 CBC response files, all in tests/data/cavp (see tests/data/README.md).
// They are raw CBC: with PKCS#7 one more block follows, the encryption of sixteen 0x10 bytes
// chained from the last ciphertext block, which the openssl command computed for every case into
// padding-blocks.txt (key, last ciphertext block, padding block; one line per case, in order).

#include "Basics/Encodings.h"

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
            EXPECT_EQ(AESUtils::decryptBytes(sealed, static_cast<std::int64_t>(sealed.size()),
                                             bytesFromHex(key), iv),
                      plain);
            iv.resize(32, 0xAA); // IV bytes beyond the first 16 do not count
            EXPECT_EQ(encrypt(plain, bytesFromHex(key), iv), sealed);
            field.erase("PLAINTEXT");
            field.erase("CIPHERTEXT");
            ++cases;
        }
    }
    EXPECT_EQ(cases, 833U);
    std::string extra;
    EXPECT_FALSE(paddings >> extra) << "padding-blocks.txt has more lines than cases";
}

} // namespace
} // namespace corvix
