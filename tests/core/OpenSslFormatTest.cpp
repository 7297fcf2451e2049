// The file format checked against a second, independent implementation: the `openssl` command.
// Our files must decrypt with it piece by piece, and files it builds must read with ours, so the
// format cannot drift while the writer and the readers still agree with each other.

#include "Crypto/AESUtils.h"
#include "EncryptedFiles.h"
#include "Files.h"
#include "Key/CorvixKey.h"
#include "Key/Encodings.h"
#include "Process.h"
#include "ScratchDir.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace corvix {
namespace {

using test::kCipherChunk;
using test::kMiB;

class OpenSslFormat : public testing::Test {
protected:
    /// `openssl enc ARGS` with the built-in key material, on files of the scratch folder.
    [[nodiscard]] bool opensslEnc(std::vector<std::string> args, const std::string& in,
                                  const std::string& out) const {
        std::vector<std::string> command = {CORVIX_OPENSSL_COMMAND,
                                            "enc",
                                            "-aes-256-cbc",
                                            "-K",
                                            CorvixKey::aesKeyHex(),
                                            "-iv",
                                            hexText(CorvixKey::ivBytes())};
        command.insert(command.end(), args.begin(), args.end());
        command.insert(command.end(), {"-in", dir.file(in), "-out", dir.file(out)});
        const test::ProcessResult run = test::runProcess(command);
        EXPECT_EQ(run.exitCode, 0) << "openssl enc failed: " << run.err;
        return run.exitCode == 0;
    }

    test::ScratchDir dir;
};

TEST_F(OpenSslFormat, OurFilesDecryptWithOpenssl) {
    const Bytes source = test::patternBytes(2 * kMiB + 1000, 11);
    test::writeFile(dir / "plain", source);
    ASSERT_TRUE(test::encryptWithBuiltInKey(dir / "plain", dir / "plain.enc"));
    const Bytes file = test::readFile(dir / "plain.enc");

    const auto end = std::find(file.begin(), file.end(), std::uint8_t{0x0D});
    ASSERT_NE(end, file.end());
    test::writeFile(dir / "header.b64", Bytes(file.begin(), end));
    ASSERT_TRUE(opensslEnc({"-d", "-a", "-A"}, "header.b64", "header.txt"));
    EXPECT_EQ(test::readText(dir / "header.txt"), "quorveth");

    const std::size_t bodyStart = static_cast<std::size_t>(end - file.begin()) + 1;
    std::size_t index = 0;
    for (std::size_t offset = bodyStart; offset < file.size(); offset += kCipherChunk, ++index) {
        const std::string piece = "piece" + std::to_string(index);
        test::writeFile(dir / piece, test::slice(file, offset, kCipherChunk));
        ASSERT_TRUE(opensslEnc({"-d"}, piece, piece + ".out"));
        EXPECT_EQ(test::readFile(dir / (piece + ".out")), test::slice(source, index * kMiB, kMiB))
            << piece;
    }
    EXPECT_EQ(index, 3U);
}

TEST_F(OpenSslFormat, FilesBuiltWithOpensslRead) {
    // Ends on a full chunk: no empty chunk may follow it.
    const Bytes source = test::patternBytes(2 * kMiB, 12);
    test::writeText(dir / "header.txt", "quorveth");
    ASSERT_TRUE(opensslEnc({"-a", "-A"}, "header.txt", "header.b64"));
    Bytes file = test::readFile(dir / "header.b64");
    while (!file.empty() && file.back() == '\n') {
        file.pop_back();
    }
    file.push_back(0x0D);
    for (std::size_t index = 0; index * kMiB < source.size(); ++index) {
        const std::string chunk = "chunk" + std::to_string(index);
        test::writeFile(dir / chunk, test::slice(source, index * kMiB, kMiB));
        ASSERT_TRUE(opensslEnc({}, chunk, chunk + ".enc"));
        const Bytes piece = test::readFile(dir / (chunk + ".enc"));
        file.insert(file.end(), piece.begin(), piece.end());
    }
    test::writeFile(dir / "openssl.enc", file);

    EXPECT_EQ(AESUtils::decryptFileToBytes(dir.file("openssl.enc"), CorvixKey::aesKey(),
                                           CorvixKey::ivBytes()),
              source);
    bool completed = false;
    AESUtils::decryptFile(dir.file("openssl.enc"), dir.file("openssl"), CorvixKey::aesKey(),
                          CorvixKey::ivBytes(), {}, [&] { completed = true; });
    EXPECT_TRUE(completed);
    EXPECT_EQ(test::readFile(dir / "openssl"), source);

    test::writeFile(dir / "plain", source);
    ASSERT_TRUE(test::encryptWithBuiltInKey(dir / "plain", dir / "ours.enc"));
    EXPECT_EQ(test::readFile(dir / "ours.enc"), file) << "both writers give the same bytes";
}

} // namespace
} // namespace corvix
