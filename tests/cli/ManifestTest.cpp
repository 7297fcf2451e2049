// Signed manifests: one table of tamperings, each row checked through `corvix-cli verify
// --manifest` and through the reader; and a manifest's digests and signature against the openssl
// command.

#include "TestKit.h"

#include <corvix/CorvixKey.h>
#include <corvix/EncryptedFileReader.h>
#include <corvix/Manifest.h>
#include <functional>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace corvix::test {
namespace {

const std::string kCli = CORVIX_CLI_PATH;
constexpr std::size_t kLine = 25;       // the header line of "quorveth" and its 0x0D
constexpr std::size_t kChunk = 1048592; // a whole ciphertext chunk
constexpr std::size_t kFileA = kLine + 3 * kChunk;

void openssl(const std::vector<std::string>& args, const fs::path& folder) {
    std::vector<std::string> command{CORVIX_OPENSSL_COMMAND};
    command.insert(command.end(), args.begin(), args.end());
    const Exit ran = run(command, folder);
    ASSERT_EQ(ran.code, 0) << args.front() << ": " << ran.err;
}

// assets/a.enc (three whole chunks) and assets/b.enc (one), listed in assets/m, signed with
// sign.pem unless `signs` is false; pub.pem is its public key, other.pem another one.
struct Shipped {
    Scratch dir;
    explicit Shipped(bool signs) {
        openssl({"genpkey", "-algorithm", "ed25519", "-out", "sign.pem"}, dir.path());
        openssl({"pkey", "-in", "sign.pem", "-pubout", "-out", "pub.pem"}, dir.path());
        openssl({"genpkey", "-algorithm", "ed25519", "-out", "other-sign.pem"}, dir.path());
        openssl({"pkey", "-in", "other-sign.pem", "-pubout", "-out", "other.pem"}, dir.path());
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

struct Tampering {
    const char* name;
    std::function<void(const fs::path& assets)> change;
    const char* publicKey; // checks the signature with this key, when given
    bool signs;
    const char* line;       // what verify says on stderr; nothing when all is well
    const char* readFile;   // the file read through the reader
    std::error_code reader; // how the reader fails
};

Bytes chunkOf(const Bytes& file, std::size_t index) {
    return Bytes(file.begin() + kLine + index * kChunk,
                 file.begin() + kLine + (index + 1) * kChunk);
}

const std::vector<Tampering> kTamperings = {
    {"untouched", [](const fs::path&) {}, "pub.pem", true, nullptr, "a.enc", {}},
    {"two_chunks_swapped",
     [](const fs::path& assets) {
         Bytes file = readBytes(assets / "a.enc");
         const Bytes first = chunkOf(file, 0);
         std::copy_n(file.begin() + kLine + kChunk, kChunk, file.begin() + kLine);
         std::copy(first.begin(), first.end(), file.begin() + kLine + kChunk);
         writeFile(assets / "a.enc", file);
     },
     nullptr, true, "a.enc: changed since the manifest was made: chunk 1 differs", "a.enc",
     make_error_code(Errc::changedChunk)},
    {"last_chunk_dropped",
     [](const fs::path& assets) { fs::resize_file(assets / "a.enc", kFileA - kChunk); }, nullptr,
     true,
     "a.enc: changed since the manifest was made: 2097209 bytes long, the manifest lists "
     "3145801; chunk 3 is missing",
     "a.enc", make_error_code(Errc::changedLength)},
    {"chunk_appended",
     [](const fs::path& assets) {
         Bytes file = readBytes(assets / "a.enc");
         const Bytes first = chunkOf(file, 0);
         file.insert(file.end(), first.begin(), first.end());
         writeFile(assets / "a.enc", file);
     },
     nullptr, true,
     "a.enc: changed since the manifest was made: 4194393 bytes long, the manifest "
     "lists 3145801; chunk 4 is not listed",
     "a.enc", make_error_code(Errc::changedLength)},
    {"file_copied_over_another",
     [](const fs::path& assets) {
         fs::copy_file(assets / "b.enc", assets / "a.enc", fs::copy_options::overwrite_existing);
     },
     "pub.pem", true, "a.enc: changed since the manifest was made: 41 bytes long", "a.enc",
     make_error_code(Errc::changedLength)},
    {"file_deleted", [](const fs::path& assets) { fs::remove(assets / "b.enc"); }, nullptr, true,
     "b.enc: is listed in the manifest and missing", "b.enc",
     std::make_error_code(std::errc::no_such_file_or_directory)},
    {"file_added",
     [](const fs::path& assets) { fs::copy_file(assets / "b.enc", assets / "c.enc"); }, nullptr,
     true, "assets/c.enc: is not listed in the manifest assets/m", "c.enc",
     make_error_code(Errc::unlistedFile)},
    {"manifest_byte_changed",
     [](const fs::path& assets) {
         std::string text = readFile(assets / "m");
         const std::size_t digit = text.find("\"length\": ") + 10;
         text[digit] = text[digit] == '1' ? '2' : '1';
         writeFile(assets / "m", text);
     },
     "pub.pem", true, "assets/m: the signature does not verify", "a.enc",
     make_error_code(Errc::badSignature)},
    {"another_public_key", [](const fs::path&) {}, "other.pem", true,
     "assets/m: the signature does not verify", "a.enc", make_error_code(Errc::badSignature)},
    {"unsigned_under_public_key", [](const fs::path&) {}, "pub.pem", false,
     "assets/m: the manifest is not signed", "a.enc", make_error_code(Errc::unsignedManifest)},
};

// The library's way: the manifest, its signature, the file's entry, then every chunk read.
std::error_code readListed(const fs::path& dir, const Tampering& row) {
    const auto manifest = Manifest::load(dir / "assets/m");
    if (!manifest) {
        return manifest.error().code;
    }
    if (row.publicKey != nullptr) {
        const auto key = Manifest::readKey(dir / row.publicKey);
        if (const Outcome<> checked = manifest->checkSignature(*key); !checked) {
            return checked.error().code;
        }
    }
    const ManifestEntry* entry = manifest->find(row.readFile);
    if (entry == nullptr) {
        return Errc::unlistedFile;
    }
    EncryptedFileReader reader((dir / "assets" / row.readFile).string(), *CorvixKey::material(),
                               std::nullopt, *entry);
    if (const Outcome<> opened = reader.open(); !opened) {
        return opened.error().code;
    }
    Bytes plain(reader.size());
    const auto got = reader.read(0, plain.data(), plain.size());
    return got ? std::error_code() : got.error().code;
}

class Tamperings : public testing::TestWithParam<Tampering> {};

TEST_P(Tamperings, VerifyAndTheReaderFailOnEach) {
    const Tampering& row = GetParam();
    const Shipped shipped(row.signs);
    row.change(shipped.dir / "assets");
    std::vector<std::string> verify{kCli, "verify", "--manifest", "assets/m"};
    if (row.publicKey != nullptr) {
        verify.insert(verify.end(), {"--public-key", row.publicKey});
    }
    const Exit ran = run(verify, shipped.dir.path());
    EXPECT_EQ(ran.code, row.line == nullptr ? 0 : 1) << ran.out << ran.err;
    EXPECT_NE(ran.err.find(row.line == nullptr ? "" : row.line), std::string::npos) << ran.err;
    EXPECT_EQ(readListed(shipped.dir.path(), row), row.reader);
}

INSTANTIATE_TEST_SUITE_P(Rows, Tamperings, testing::ValuesIn(kTamperings),
                         [](const auto& info) { return std::string(info.param.name); });

// The digests and the signature as the openssl command finds them: the header line and each
// chunk hashed by `openssl dgst`, the signed bytes written out by the rule the README gives, and
// the signature checked by `openssl pkeyutl -verify`.
TEST(ManifestKnownAnswer, OpensslAgreesOnDigestsAndSignature) {
    ASSERT_EQ(kTamperings.size(), 10U);
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
