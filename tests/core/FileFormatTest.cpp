// The file format against an independent implementation, the openssl command: for sizes around
// the chunk boundaries, header texts of one and two blocks, and every backend the build has, the
// encryptor writes exactly the file that openssl's output assembles into, and both readers read
// it back. CBC with fixed key, IV and padding has one ciphertext per plaintext, so the bytes
// pin the chunk size, the padding of every chunk, the header line and the boundaries (no empty
// chunk after a full one). The callbacks are the pipeline tests' business.

#include "Basics/Encodings.h"
#include "Cipher/CipherBackends.h"
#include "Format/FileCipher.h"
#include "TestKit.h"

#include <algorithm>
#include <corvix/AESUtils.h>
#include <corvix/CorvixKey.h>
#include <gtest/gtest.h>
#include <iterator>

namespace corvix {
namespace {

constexpr std::size_t kMiB = 1048576;
const Bytes kKey = CorvixKey::aesKey();
const Bytes kIv = CorvixKey::ivBytes();
constexpr auto kPrivate = test::fs::perms::owner_read | test::fs::perms::owner_write;

// `openssl enc -aes-256-cbc` with the built-in key material and `args` over `input`, in the
// scratch folder (files "in" and "out"); gives what it wrote.
Bytes openssl(const test::Scratch& dir, const Bytes& input, std::vector<std::string> args) {
    test::writeFile(dir / "in", input);
    args.insert(args.begin(),
                {CORVIX_OPENSSL_COMMAND, "enc", "-aes-256-cbc", "-K", CorvixKey::aesKeyHex(), "-iv",
                 hexText(kIv), "-in", "in", "-out", "out"});
    const test::Exit exit = test::run(args, dir.path());
    EXPECT_EQ(exit.code, 0) << exit.err;
    return test::readBytes(dir / "out");
}

// A row: its name, the source size and the header text.
using Size = std::tuple<const char*, std::size_t, const char*>;

class FileFormat : public testing::TestWithParam<std::tuple<const CipherBackend*, Size>> {};

// The file as openssl builds it: its base64 of the sealed header text, 0x0D, and its
// encryption of each 1 MiB of the source, one after another. Ours must be the same bytes, and it
// must read back through both readers.
TEST_P(FileFormat, IsWhatOpensslBuildsAndReadsBack) {
    const test::Scratch dir;
    const auto [name, size, header] = std::get<1>(GetParam());
    const Bytes source = test::pattern(size, static_cast<unsigned>(size));
    Bytes expected = openssl(dir, utf8Bytes(header), {"-a", "-A"}); // the header line
    expected.push_back(0x0D);
    for (std::size_t at = 0; at < size; at += kMiB) {
        const Bytes chunk(source.begin() + at, source.begin() + std::min(size, at + kMiB));
        std::ranges::copy(openssl(dir, chunk, {}), std::back_inserter(expected));
    }

    const std::string src = (dir / "src").string(), enc = (dir / "src.enc").string();
    test::writeFile(src, source);
    test::fs::permissions(src, kPrivate);
    CipherBackends::choose(*std::get<0>(GetParam()));
    ASSERT_TRUE(FileCipher::encrypt(src, enc, header, *CorvixKey::material()).ok());
    const Bytes file = test::readBytes(enc);
    EXPECT_TRUE(file == expected) << "the file differs from openssl's (not printed: too long)";

    // Both readers give the source back. Then a second encryption, cancelled at the extra
    // question after the last chunk, reports the cancellation alone and keeps the file.
    std::string outcome;
    const auto completed = [&] { outcome = "completed"; };
    const auto failed = [&](bool cancelled) { outcome = cancelled ? "cancelled" : "failed"; };
    EXPECT_EQ(AESUtils::decryptFileToBytes(enc, kKey, kIv), source);
    AESUtils::decryptFile(enc, (dir / "back").string(), kKey, kIv, {}, completed, failed);
    EXPECT_EQ(outcome, "completed");
    EXPECT_EQ(test::readBytes(dir / "back"), source);
    // A private source gives private outputs, both ways.
    EXPECT_EQ(test::fs::status(enc).permissions(), kPrivate);
    EXPECT_EQ(test::fs::status(dir / "back").permissions(), kPrivate);
    AESUtils::encryptFile(
        src, enc, header, kKey, kIv, {}, completed, failed,
        [&, asked = 0UL]() mutable { return ++asked == (size + kMiB - 1) / kMiB + 1; });
    EXPECT_EQ(outcome, "cancelled");
    EXPECT_EQ(test::readBytes(enc), file);
    EXPECT_EQ(dir.tree(), (std::vector<std::string>{"back", "in", "out", "src", "src.enc"}));
}

// The rows above run every backend registered; the build's default, linked in whole, must have
// registered itself, or its rows would silently be missing.
TEST(Backends, TheBuildsDefaultIsRegistered) {
    EXPECT_EQ(CipherBackends::chosen().name, CORVIX_ENCRYPTION_BACKEND);
}

// clang-format off
const Size kSizes[] = {{"empty", 0, ""}, {"block_less_1", 15, "quorveth"}, {"block", 16, "quorveth"},
                       {"chunk_less_1", kMiB - 1, "quorveth"}, {"chunk", kMiB, "quorveth"},
                       {"chunk_plus_1", kMiB + 1, "quorveth"},
                       {"chunks_and_rest", 3 * kMiB + 17, "a longer header text"}};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Boundaries, FileFormat,
                         testing::Combine(testing::ValuesIn(CipherBackends::all()),
                                          testing::ValuesIn(kSizes)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param)->name) + "_" +
                                    std::get<0>(std::get<1>(info.param));
                         });

} // namespace
} // namespace corvix
