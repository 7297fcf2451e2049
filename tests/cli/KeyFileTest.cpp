// Key files through corvix-cli (every malformation and warning in tests/data/keyfiles is a row of
// tests/data/cli/key-files.json): key files from standard input, a pipe and a FIFO, and keys from
// keygen checked against the openssl command.

#include "Key/KeyFile.h"

#include "Basics/Encodings.h"
#include "TestKit.h"

#include <corvix/Version.h>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>
#include <sys/stat.h>

namespace corvix::test {
namespace {

const fs::path kKeyFiles = fs::path(CORVIX_TEST_DATA_DIR) / "keyfiles";
const std::string kCli = CORVIX_CLI_PATH;

TEST(KeyFile, StandardInputPipesAndFifosAreReadLikeFilesButNotWaitedForLong) {
    Scratch dir;
    const std::string text = readFile(kKeyFiles / "valid.key");
    writeFile(dir / "app.key", text);
    for (const std::string source : {"- < app.key", "<(cat app.key)"}) {
        const Exit ran = run({"bash", "-c", kCli + " key --key-file " + source}, dir.path());
        EXPECT_EQ(ran.out.substr(0, text.size()), text) << source << ": " << ran.err;
    }
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    Child reader({kCli, "key", "--key-file", "fifo"}, dir.path());
    writeFile(dir / "fifo", text); // opening the FIFO to write waits until corvix-cli reads it
    const Exit ran = reader.wait();
    EXPECT_EQ(ran.out.substr(0, text.size()), text) << ran.err;

    // A writer that neither writes nor closes is given up on.
    const int writer = ::open((dir / "fifo").c_str(), O_RDWR | O_CLOEXEC);
    const auto material = KeyFile::read((dir / "fifo").string(), std::chrono::milliseconds(20));
    ::close(writer);
    ASSERT_FALSE(material);
    EXPECT_EQ(material.error().reason, "not written whole and closed within 20 ms");
}

TEST(KeyFile, KeygenKeysAgreeWithOpensslAndReadOnlyTheirOwnFiles) {
    Scratch dir;
    const auto cli = [&dir](std::vector<std::string> args) {
        args.insert(args.begin(), kCli);
        return run(args, dir.path());
    };
    ASSERT_EQ(cli({"keygen", "-o", "a.key"}).code, 0);
    ASSERT_EQ(cli({"keygen", "-o", "b.key"}).code, 0);
    const std::string text = readFile(dir / "a.key");
    ASSERT_TRUE(std::regex_match(text, std::regex("key:[0-9a-f]{64}\niv:[0-9a-f]{32}\n")));
    EXPECT_NE(readFile(dir / "b.key"), text);
    EXPECT_EQ(fs::status(dir / "a.key").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(cli({"keygen", "-o", "a.key"}).code, 1);
    EXPECT_EQ(readFile(dir / "a.key"), text);

    // The body of a one-chunk file is the openssl encryption under the file's key and IV.
    const std::string key = text.substr(4, 64);
    writeFile(dir / "plain", pattern(5000));
    ASSERT_EQ(cli({"encrypt", "-q", "--key-file", "a.key", "plain"}).code, 0);
    const std::string sealed = readFile(dir / "plain.enc");
    writeFile(dir / "body", sealed.substr(sealed.find('\r') + 1));
    const Exit opened = run({CORVIX_OPENSSL_COMMAND, "enc", "-d", "-aes-256-cbc", "-K", key, "-iv",
                             text.substr(72, 32), "-in", "body", "-out", "opened"},
                            dir.path());
    EXPECT_EQ(opened.code, 0) << opened.err;
    EXPECT_EQ(readBytes(dir / "opened"), pattern(5000));
    EXPECT_EQ(cli({"decrypt", "-q", "--key-file", "a.key", "-o", "back", "plain.enc"}).code, 0);
    EXPECT_EQ(readBytes(dir / "back/plain"), pattern(5000));
    const Exit other = cli({"verify", "-q", "--key-file", "b.key", "plain.enc"});
    EXPECT_EQ(other.code, 1);
    EXPECT_NE(other.err.find("header does not decrypt"), std::string::npos) << other.err;

    // The fingerprint: the first 16 hex digits of SHA-256 over the key's bytes, by openssl; what
    // `key` prints is the key file of the built-in material, whose fingerprint --version shows.
    const auto fingerprint = [&dir](const std::string& keyFile) {
        writeFile(dir / "key.bin", bytesFromHex(readFile(dir / keyFile).substr(4, 64)));
        const Exit digest =
            run({CORVIX_OPENSSL_COMMAND, "dgst", "-sha256", "-r", "key.bin"}, dir.path());
        EXPECT_EQ(digest.code, 0) << digest.err;
        return "key fingerprint: " + digest.out.substr(0, 16) + "\n";
    };
    EXPECT_EQ(cli({"key", "--key-file", "a.key"}).out, text + fingerprint("a.key"));
    writeFile(dir / "built-in.key", cli({"key"}).out);
    EXPECT_EQ(cli({"--version"}).out,
              "corvix-cli " CORVIX_VERSION "\n" + fingerprint("built-in.key"));
    ASSERT_EQ(cli({"encrypt", "-q", "--key-file", "built-in.key", "-o", "k", "plain"}).code, 0);
    ASSERT_EQ(cli({"encrypt", "-q", "-o", "b", "plain"}).code, 0);
    EXPECT_EQ(readFile(dir / "k/plain.enc"), readFile(dir / "b/plain.enc"));

    // OpenSSL with only its null provider has no SHA-256: no key, rather than a key of zeros; nor
    // any cipher: a key file needs no digest, and the run says what is missing.
    writeFile(dir / "null.cnf", "openssl_conf = a\n[a]\nproviders = b\n[b]\nnull = c\n"
                                "[c]\nactivate = 1\n");
    const Exit noDigest = run({"env", "OPENSSL_CONF=null.cnf", kCli, "key"}, dir.path());
    EXPECT_TRUE(noDigest.code == 1 && noDigest.out.empty()) << noDigest.out;
    const Exit noCipher = run({"env", "OPENSSL_CONF=null.cnf", kCli, "encrypt", "--key-file",
                               "a.key", "-o", "n", "plain"},
                              dir.path());
    EXPECT_EQ(noCipher.code, 1);
    EXPECT_NE(noCipher.err.find("cannot provide AES-256-CBC"), std::string::npos) << noCipher.err;
}

} // namespace
} // namespace corvix::test
