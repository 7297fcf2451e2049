// The file format checked against a second, independent implementation: the `openssl` command.
// Our files must decrypt with it piece by piece, and files it builds must read with ours, so the
// format cannot drift while the writer and the readers still agree with each other.

#include "Crypto/AESUtils.h"
#include "Key/CorvixKey.h"
#include "Key/Encodings.h"
#include "TestSupport.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace corvix {
namespace {

using test::kCipherChunk;
using test::kMiB;
using test::ScratchDir;

class OpenSslFormat : public testing::Test {
protected:
    void SetUp() override {
        if (std::string_view(CORVIX_OPENSSL_COMMAND).ends_with("NOTFOUND")) {
            FAIL() << "the openssl command was not found when the tests were configured";
        }
    }

    /// `openssl ARGS`, with its messages kept in the scratch folder for the failure report.
    [[nodiscard]] bool openssl(const std::string& args) const {
        const std::string log = dir.file("openssl.log");
        const int status = test::runCommand("'" + std::string(CORVIX_OPENSSL_COMMAND) + "' " +
                                            args + " 2>>'" + log + "'");
        if (status != 0) {
            const Bytes messages = test::readFile(log);
            ADD_FAILURE() << "openssl " << args << " exited with " << status << ":\n"
                          << std::string(messages.begin(), messages.end());
        }
        return status == 0;
    }

    /// The cipher options for the built-in key material.
    [[nodiscard]] static std::string cipherArgs() {
        return "-aes-256-cbc -K " + CorvixKey::aesKeyHex() + " -iv " +
               hexText(CorvixKey::ivBytes());
    }

    [[nodiscard]] std::string quoted(std::string_view name) const {
        return "'" + dir.file(name) + "'";
    }

    ScratchDir dir;
};

TEST_F(OpenSslFormat, OurFilesDecryptWithOpenssl) {
    const Bytes source = test::patternBytes(2 * kMiB + 1000, 11);
    test::writeFile(dir.file("plain"), source);
    AESUtils::encryptFile(dir.file("plain"), dir.file("plain.enc"), "quorveth", CorvixKey::aesKey(),
                          CorvixKey::ivBytes());
    const Bytes file = test::readFile(dir.file("plain.enc"));

    const auto end = std::find(file.begin(), file.end(), std::uint8_t{0x0D});
    ASSERT_NE(end, file.end());
    test::writeFile(dir.file("header.b64"), Bytes(file.begin(), end));
    ASSERT_TRUE(
        openssl("base64 -d -A -in " + quoted("header.b64") + " -out " + quoted("header.bin")));
    ASSERT_TRUE(openssl("enc -d " + cipherArgs() + " -in " + quoted("header.bin") + " -out " +
                        quoted("header.txt")));
    EXPECT_EQ(test::readFile(dir.file("header.txt")), utf8Bytes("quorveth"));

    const std::size_t bodyStart = static_cast<std::size_t>(end - file.begin()) + 1;
    std::size_t index = 0;
    for (std::size_t offset = bodyStart; offset < file.size(); offset += kCipherChunk, ++index) {
        const std::string piece = "piece" + std::to_string(index);
        test::writeFile(dir.file(piece), test::slice(file, offset, kCipherChunk));
        ASSERT_TRUE(openssl("enc -d " + cipherArgs() + " -in " + quoted(piece) + " -out " +
                            quoted(piece + ".out")));
        EXPECT_EQ(test::readFile(dir.file(piece + ".out")), test::slice(source, index * kMiB, kMiB))
            << piece;
    }
    EXPECT_EQ(index, 3U);
}

TEST_F(OpenSslFormat, FilesBuiltWithOpensslRead) {
    // Ends on a full chunk: no empty chunk may follow it.
    const Bytes source = test::patternBytes(2 * kMiB, 12);
    test::writeFile(dir.file("header.txt"), utf8Bytes("quorveth"));
    ASSERT_TRUE(openssl("enc " + cipherArgs() + " -a -A -in " + quoted("header.txt") + " -out " +
                        quoted("header.b64")));
    Bytes file = test::readFile(dir.file("header.b64"));
    while (!file.empty() && file.back() == '\n') {
        file.pop_back();
    }
    file.push_back(0x0D);
    for (std::size_t index = 0; index * kMiB < source.size(); ++index) {
        const std::string chunk = "chunk" + std::to_string(index);
        test::writeFile(dir.file(chunk), test::slice(source, index * kMiB, kMiB));
        ASSERT_TRUE(openssl("enc " + cipherArgs() + " -in " + quoted(chunk) + " -out " +
                            quoted(chunk + ".enc")));
        const Bytes piece = test::readFile(dir.file(chunk + ".enc"));
        file.insert(file.end(), piece.begin(), piece.end());
    }
    test::writeFile(dir.file("openssl.enc"), file);

    EXPECT_EQ(AESUtils::decryptFileToBytes(dir.file("openssl.enc"), CorvixKey::aesKey(),
                                           CorvixKey::ivBytes()),
              source);
    bool completed = false;
    AESUtils::decryptFile(dir.file("openssl.enc"), dir.file("openssl"), CorvixKey::aesKey(),
                          CorvixKey::ivBytes(), {}, [&] { completed = true; });
    EXPECT_TRUE(completed);
    EXPECT_EQ(test::readFile(dir.file("openssl")), source);

    test::writeFile(dir.file("plain"), source);
    AESUtils::encryptFile(dir.file("plain"), dir.file("ours.enc"), "quorveth", CorvixKey::aesKey(),
                          CorvixKey::ivBytes());
    EXPECT_EQ(test::readFile(dir.file("ours.enc")), file) << "both writers give the same bytes";
}

} // namespace
} // namespace corvix
