// The NIST CAVP AES-256 CBC response files in tests/data/cavp (see tests/data/README.md)
// through encryptBytes and decryptBytes. CAVP vectors are raw CBC: with PKCS#7 one more block
// follows, the encryption of sixteen 0x10 bytes chained from the last ciphertext block.

#include "Basics/Encodings.h"

#include <corvix/AESUtils.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>

namespace corvix {
namespace {

std::int64_t sizeOf(const Bytes& bytes) {
    return static_cast<std::int64_t>(bytes.size());
}

Bytes joined(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(CavpCbcAes256, EveryCaseEncryptsDecryptsAndPadsAsPublished) {
    std::size_t cases = 0;
    for (const char* name : {"CBCGFSbox256.rsp", "CBCKeySbox256.rsp", "CBCVarKey256.rsp",
                             "CBCVarTxt256.rsp", "CBCMMT256.rsp"}) {
        std::ifstream in(std::filesystem::path(CORVIX_TEST_DATA_DIR) / "cavp" / name);
        std::map<std::string, Bytes> field;
        for (std::string line; std::getline(in, line);) {
            line.erase(line.find_last_not_of("\r ") + 1);
            const auto equals = line.find(" = ");
            if (line.starts_with("#") || equals == std::string::npos) {
                continue;
            }
            field[line.substr(0, equals)] = bytesFromHex(line.substr(equals + 3));
            if (field["PLAINTEXT"].empty() || field["CIPHERTEXT"].empty()) {
                continue;
            }
            const Bytes key = field["KEY"], iv = field["IV"];
            const Bytes plain = field["PLAINTEXT"], raw = field["CIPHERTEXT"];
            SCOPED_TRACE(std::string(name) + " " + hexText(key) + " " + hexText(raw));
            const auto lastBlock = copyPrefix(16, Bytes(raw.end() - 16, raw.end()));
            const Bytes padding =
                copyPrefix(16, *AESUtils::encryptBytes(Bytes(16, 0x10), 16, key, lastBlock));
            const Bytes sealed = joined(raw, padding);
            EXPECT_EQ(AESUtils::encryptBytes(plain, sizeOf(plain), key, iv), sealed);
            EXPECT_EQ(AESUtils::decryptBytes(sealed, sizeOf(sealed), key, iv), plain);
            field.erase("PLAINTEXT");
            field.erase("CIPHERTEXT");
            ++cases;
        }
    }
    EXPECT_EQ(cases, 830U);
}

} // namespace
} // namespace corvix
