// Signed manifests: one table of tamperings, each row checked through `corvix-cli verify
// --manifest` and through the reader; and a manifest's digests and signature against the openssl
// command.

#include "TestKit.h"

#include <corvix/CorvixKey.h>
#include <corvix/EncryptedFileReader.h>
#include <corvix/Manifest.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace corvix::test {
namespace {

const std::string kCli = CORVIX_CLI_PATH;
constexpr std::size_t kLine = 25;       // the header line of "quorveth" and its 0x0D
constexpr std::size_t kChunk = 1048592; // a whole ciphertext chunk

void openssl(const std::vector<std::string>& args, const fs::path& folder) {
    std::vector<std::string> command{CORVIX_OPENSSL_COMMAND};
    command.insert(command.end(), args.begin(), args.end());
    const Exit ran = run(command, folder);
    ASSERT_EQ(ran.code, 0) << args.front() << ": " << ran.err;
}

// assets/a.enc (three whole chunks) and assets/b.enc (one), listed in assets/m, signed with
// sign.pem unless `signs` is false; pub.pem is its public key.
struct Shipped {
    Scratch dir;
    explicit Shipped(bool signs) {
        openssl({"genpkey", "-algorithm", "ed25519", "-out", "sign.pem"}, dir.path());
        openssl({"pkey", "-in", "sign.pem", "-pubout", "-out", "pub.pem"}, dir.path());
        writeFile(dir / "a", pattern(3 * 1048576));
        writeFile(dir / "b", "b");
        std::vector<std::string> encrypt{kCli, "encrypt", "-o", "assets", "--manifest", "assets/m"};
        if (signs) {
            encrypt.insert(encrypt.end(), {"--sign-key", "sign.pem"});
        }
        encrypt.insert(encrypt.end(), {"a", "b"});
        const Exit ran = run(encrypt, dir.path());
        EXPECT_EQ(ran.code, 0) << ran.err;
    }
};

// A row of tests/data/manifest/tamperings.json: "change", a shell command run in assets/ (none:
// untouched); "signs" (default true); "public_key" to check the signature with, if any; "verify",
// what verify says on stderr (none: all is well); "read", the file read through the reader
// (default a.enc), and "reader", how that ends (the error code's category and message).
using Row = nlohmann::json;

std::vector<Row> tamperings() {
    return nlohmann::json::parse(readFile(CORVIX_TEST_DATA_DIR "/manifest/tamperings.json"));
}

// The library's way: the manifest, its signature, the file's entry, then every chunk read.
std::error_code readListed(const fs::path& dir, const Row& row) {
    const auto manifest = Manifest::load(dir / "assets/m");
    if (!manifest) {
        return manifest.error().code;
    }
    if (row.contains("public_key")) {
        const auto key = Manifest::readKey(dir / row["public_key"].get<std::string>());
        if (const Outcome<> checked = manifest->checkSignature(*key); !checked) {
            return checked.error().code;
        }
    }
    const std::string name = row.value("read", "a.enc");
    const ManifestEntry* entry = manifest->find(name);
    if (entry == nullptr) {
        return Errc::unlistedFile;
    }
    EncryptedFileReader reader((dir / "assets" / name).string(), *CorvixKey::material(),
                               std::nullopt, *entry);
    if (const Outcome<> opened = reader.open(); !opened) {
        return opened.error().code;
    }
    Bytes plain(reader.size());
    const auto got = reader.read(0, plain.data(), plain.size());
    return got ? std::error_code() : got.error().code;
}

class Tamperings : public testing::TestWithParam<Row> {};

TEST_P(Tamperings, VerifyAndTheReaderFailOnEach) {
    const Row& row = GetParam();
    const Shipped shipped(row.value("signs", true));
    const Exit changed = run({"bash", "-c", row.value("change", "")}, shipped.dir / "assets");
    ASSERT_EQ(changed.code, 0) << changed.err;
    std::vector<std::string> verify{kCli, "verify", "--manifest", "assets/m"};
    if (row.contains("public_key")) {
        verify.insert(verify.end(), {"--public-key", row["public_key"]});
    }
    const Exit ran = run(verify, shipped.dir.path());
    EXPECT_EQ(ran.code, row.contains("verify") ? 1 : 0) << ran.out << ran.err;
    EXPECT_NE(ran.err.find(row.value("verify", "")), std::string::npos) << ran.err;
    const std::error_code read = readListed(shipped.dir.path(), row);
    EXPECT_EQ(read.category().name() + std::string(": ") + read.message(), row["reader"]);
}

INSTANTIATE_TEST_SUITE_P(Rows, Tamperings, testing::ValuesIn(tamperings()), [](const auto& info) {
    return info.param["name"].template get<std::string>();
});

// The digests and the signature as the openssl command finds them: the header line and each
// chunk hashed by `openssl dgst`, the signed bytes written out by the rule the README gives, and
// the signature checked by `openssl pkeyutl -verify`.
TEST(ManifestKnownAnswer, OpensslAgreesOnDigestsAndSignature) {
    ASSERT_EQ(tamperings().size(), 10U);
    const Shipped shipped(true);
    const fs::path& dir = shipped.dir.path();
    const auto digest = [&](const Bytes& piece) {
        writeFile(dir / "piece", piece);
        const Exit ran = run({CORVIX_OPENSSL_COMMAND, "dgst", "-sha256", "-r", "piece"}, dir);
        EXPECT_EQ(ran.code, 0) << ran.err;
        return "\"" + ran.out.substr(0, 64) + "\"";
    };
    std::string files;
    for (const char* name : {"a.enc", "b.enc"}) {
        const Bytes file = readBytes(dir / "assets" / name);
        std::string chunks;
        for (std::size_t at = kLine; at < file.size(); at += kChunk) {
            const auto end =
                file.begin() + static_cast<std::ptrdiff_t>(std::min(at + kChunk, file.size()));
            chunks += (chunks.empty() ? "" : ",") + digest(Bytes(file.begin() + at, end));
        }
        files += std::string(files.empty() ? "" : ",") + R"({"chunks_sha256":[)" + chunks +
                 R"(],"header_sha256":)" + digest(Bytes(file.begin(), file.begin() + kLine - 1)) +
                 R"(,"length":)" + std::to_string(file.size()) + R"(,"path":")" + name + "\"}";
    }
    writeFile(dir / "signed", R"({"chunk_size":1048576,"files":[)" + files + R"(],"version":1})");
    const auto manifest = nlohmann::json::parse(readFile(dir / "assets/m"));
    writeFile(dir / "signature.b64", manifest.at("signature").get<std::string>());
    openssl({"base64", "-d", "-A", "-in", "signature.b64", "-out", "signature"}, dir);
    openssl({"pkeyutl", "-verify", "-pubin", "-inkey", "pub.pem", "-rawin", "-in", "signed",
             "-sigfile", "signature"},
            dir);
}

} // namespace
} // namespace corvix::test
