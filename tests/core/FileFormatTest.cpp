#include "Crypto/AESUtils.h"
#include "EncryptedFiles.h"
#include "Files.h"
#include "Key/CorvixKey.h"
#include "Key/Encodings.h"
#include "ScratchDir.h"
#include "StdoutCapture.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>

namespace corvix {
namespace {

using test::kCipherChunk;
using test::kMiB;
using test::patternBytes;
using test::readFile;
using test::ScratchDir;
using test::slice;
using test::writeFile;
namespace fs = std::filesystem;
using Outcomes = std::vector<std::string>;
using Progress = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

const Outcomes kCompleted = {"complete"};
const Outcomes kFailed = {"failure(false)"};
const Outcomes kCancelled = {"failure(true)"};

const Bytes& key() {
    static const Bytes bytes = CorvixKey::aesKey();
    return bytes;
}

const Bytes& iv() {
    static const Bytes bytes = CorvixKey::ivBytes();
    return bytes;
}

/// Records the callbacks of one file operation in the order they came.
struct CallbackLog {
    /// shouldCancel answers true on its `cancelOnCall`-th call (counting from 1); 0 = never.
    int cancelOnCall = 0;

    /// "complete", "failure(false)", "failure(true)" in order, without the progress calls.
    Outcomes outcomes;
    Progress progressCalls;
    int cancelQueries = 0;

    void encrypt(const std::string& src, const std::string& dst, const Bytes& withKey = key(),
                 const Bytes& withIv = iv(), std::string_view header = "quorveth") {
        AESUtils::encryptFile(src, dst, header, withKey, withIv, progress(), complete(), failure(),
                              cancel());
    }
    void decrypt(const std::string& src, const std::string& dst, const Bytes& withKey = key(),
                 const Bytes& withIv = iv()) {
        AESUtils::decryptFile(src, dst, withKey, withIv, progress(), complete(), failure(),
                              cancel());
    }

private:
    AESUtils::ProgressCallback progress() {
        return [this](std::uint64_t done, std::uint64_t total) {
            progressCalls.emplace_back(done, total);
        };
    }
    AESUtils::CompleteCallback complete() {
        return [this] { outcomes.emplace_back("complete"); };
    }
    AESUtils::FailureCallback failure() {
        return [this](bool cancelled) {
            outcomes.emplace_back(cancelled ? "failure(true)" : "failure(false)");
        };
    }
    AESUtils::CancelQuery cancel() {
        return [this] { return ++cancelQueries == cancelOnCall; };
    }
};

/// The progress a run of `total` bytes in pieces of `piece` reports: after each piece, the
/// bytes consumed so far, with the same total every time.
Progress progressOf(std::uint64_t total, std::uint64_t piece) {
    Progress calls;
    for (std::uint64_t done = 0; done < total;) {
        done = std::min(total, done + piece);
        calls.emplace_back(done, total);
    }
    return calls;
}

/// Writes `source` to "plain" and its encryption to "plain.enc" in `dir`; returns the latter.
std::string encryptedCopy(const ScratchDir& dir, const Bytes& source) {
    writeFile(dir / "plain", source);
    EXPECT_TRUE(test::encryptWithBuiltInKey(dir / "plain", dir / "plain.enc"));
    return dir.file("plain.enc");
}

class FormatSizes : public testing::TestWithParam<std::size_t> {};

// One source size through the whole format: layout, header line, every body piece on its own,
// and both readers with their callbacks.
TEST_P(FormatSizes, LayoutAndRoundTrips) {
    const ScratchDir dir;
    const std::size_t size = GetParam();
    const Bytes source = patternBytes(size, static_cast<std::uint32_t>(size));
    writeFile(dir / "src", source);

    CallbackLog encryption;
    encryption.encrypt(dir.file("src"), dir.file("src.enc"));
    EXPECT_EQ(encryption.outcomes, kCompleted);
    EXPECT_EQ(encryption.progressCalls, progressOf(size, kMiB));

    const Bytes file = readFile(dir / "src.enc");
    ASSERT_EQ(file.size(), test::encryptedSize(size));
    EXPECT_EQ(std::string(file.begin(), file.begin() + 24), test::kQuorvethHeaderLine);
    EXPECT_EQ(file[24], 0x0D);

    // Every piece of the body, counted from the byte after 0x0D, decrypts alone.
    std::size_t pieces = 0;
    for (std::size_t offset = 25; offset < file.size(); offset += kCipherChunk, ++pieces) {
        const Bytes piece = slice(file, offset, kCipherChunk);
        const auto plain =
            AESUtils::decryptBytes(piece, static_cast<std::int64_t>(piece.size()), key(), iv());
        ASSERT_TRUE(plain) << "piece " << pieces;
        EXPECT_EQ(*plain, slice(source, pieces * kMiB, kMiB)) << "piece " << pieces;
    }
    EXPECT_EQ(pieces, (size + kMiB - 1) / kMiB);

    CallbackLog decryption;
    decryption.decrypt(dir.file("src.enc"), dir.file("back"));
    EXPECT_EQ(decryption.outcomes, kCompleted);
    EXPECT_EQ(decryption.progressCalls, progressOf(file.size() - 25, kCipherChunk));
    EXPECT_EQ(readFile(dir / "back"), source);
    EXPECT_EQ(AESUtils::decryptFileToBytes(dir.file("src.enc"), key(), iv()), source);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"back", "src", "src.enc"}));
}

INSTANTIATE_TEST_SUITE_P(ChunkBoundaries, FormatSizes,
                         testing::Values(0, 15, 16, 1048575, 1048576, 1048577, 3 * 1048576 + 17));

TEST(FileFormat, AnyHeaderTextSealsIntoTheHeaderLine) {
    const ScratchDir dir;
    writeFile(dir / "src", {1, 2, 3});
    CallbackLog empty;
    empty.encrypt(dir.file("src"), dir.file("empty.enc"), key(), iv(), "");
    // The empty text is one block of padding; its line was computed with `openssl enc -a`.
    EXPECT_EQ(slice(readFile(dir / "empty.enc"), 0, 25), utf8Bytes("QXRgLk/2J3esCguqDXxtCg==\r"));

    CallbackLog longer;
    longer.encrypt(dir.file("src"), dir.file("long.enc"), key(), iv(), "a longer header text");
    const Bytes written = readFile(dir / "long.enc");
    EXPECT_EQ(written[44], 0x0D);
    const Bytes sealed = bytesFromBase64(std::string(written.begin(), written.begin() + 44));
    EXPECT_EQ(AESUtils::decryptBytes(sealed, static_cast<std::int64_t>(sealed.size()), key(), iv()),
              utf8Bytes("a longer header text"));
    EXPECT_EQ(AESUtils::decryptFileToBytes(dir.file("long.enc"), key(), iv()), (Bytes{1, 2, 3}));
}

/// Decrypting `encPath` must fail through both readers, leave the earlier file at the
/// destination as it was and no temporary file.
void expectUnreadable(const ScratchDir& dir, const std::string& encPath,
                      const Bytes& withKey = key(), const Bytes& withIv = iv()) {
    const std::vector<std::string> before = dir.entries();
    EXPECT_EQ(AESUtils::decryptFileToBytes(encPath, withKey, withIv), std::nullopt);
    CallbackLog log;
    log.decrypt(encPath, dir.file("out"), withKey, withIv);
    EXPECT_EQ(log.outcomes, kFailed);
    EXPECT_FALSE(fs::exists(dir / "out"));

    writeFile(dir / "out", {'o', 'l', 'd'});
    CallbackLog again;
    again.decrypt(encPath, dir.file("out"), withKey, withIv);
    EXPECT_EQ(again.outcomes, kFailed);
    EXPECT_EQ(readFile(dir / "out"), (Bytes{'o', 'l', 'd'}));
    fs::remove(dir / "out");
    EXPECT_EQ(dir.entries(), before);
}

TEST(FileFormat, BadKeyMaterialIsAFailureNotARead) {
    const ScratchDir dir;
    const std::string enc = encryptedCopy(dir, patternBytes(1000));
    for (const auto& [withKey, withIv] :
         {std::pair{key(), slice(iv(), 0, 15)}, std::pair{patternBytes(33), iv()},
          std::pair{Bytes{}, Bytes{}}}) {
        CallbackLog log;
        log.encrypt(dir.file("plain"), dir.file("bad.enc"), withKey, withIv);
        EXPECT_EQ(log.outcomes, kFailed);
        EXPECT_FALSE(fs::exists(dir / "bad.enc"));
        expectUnreadable(dir, enc, withKey, withIv);
    }
    // A 16-byte key is AES-128, and an IV beyond 16 bytes counts with its first 16.
    Bytes longIv = iv();
    longIv.resize(24, 0x55);
    const Bytes shortKey = patternBytes(16, 5);
    CallbackLog log;
    log.encrypt(dir.file("plain"), dir.file("aes128.enc"), shortKey, longIv);
    EXPECT_EQ(log.outcomes, kCompleted);
    EXPECT_EQ(AESUtils::decryptFileToBytes(dir.file("aes128.enc"), shortKey, iv()),
              readFile(dir / "plain"));
}

class Cancellation : public testing::TestWithParam<int> {};

// Three chunks: shouldCancel is asked before each and once more after the last (the stream has
// not met its end yet), so calls 1 and 4 are the first and the extra check.
TEST_P(Cancellation, LeavesNothingAndNeverCompletes) {
    const ScratchDir dir;
    const std::string enc = encryptedCopy(dir, patternBytes(2 * kMiB + 5));
    const Bytes earlier = {'o', 'l', 'd'};
    const int call = GetParam();

    for (const bool withEarlierFile : {false, true}) {
        if (withEarlierFile) {
            writeFile(dir / "out.enc", earlier);
            writeFile(dir / "out", earlier);
        }
        CallbackLog encryption;
        encryption.cancelOnCall = call;
        encryption.encrypt(dir.file("plain"), dir.file("out.enc"));
        EXPECT_EQ(encryption.outcomes, kCancelled);
        EXPECT_EQ(encryption.cancelQueries, call);
        EXPECT_LT(encryption.progressCalls.size(), static_cast<std::size_t>(call));

        CallbackLog decryption;
        decryption.cancelOnCall = call;
        decryption.decrypt(enc, dir.file("out"));
        EXPECT_EQ(decryption.outcomes, kCancelled);
        EXPECT_EQ(decryption.cancelQueries, call);

        if (withEarlierFile) {
            EXPECT_EQ(readFile(dir / "out.enc"), earlier);
            EXPECT_EQ(readFile(dir / "out"), earlier);
            fs::remove(dir / "out.enc");
            fs::remove(dir / "out");
        }
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"plain", "plain.enc"}));
    }
}

INSTANTIATE_TEST_SUITE_P(FirstAndExtraCheck, Cancellation, testing::Values(1, 2, 4));

// Each failure to find a file prints one line naming it; sizing an empty file prints nothing.
TEST(FileFormat, AMissingFilePrintsOneLineAndFails) {
    const ScratchDir dir;
    const std::string missing = dir.file("missing");
    writeFile(dir / "empty", {});
    const std::vector<std::function<bool()>> failures = {
        [&] { return !AESUtils::fileSize(missing); },
        [&] {
            AESUtils::removeFile(missing);
            return true;
        },
        [&] {
            CallbackLog log;
            log.encrypt(missing, dir.file("out"));
            return log.outcomes == kFailed;
        },
        [&] {
            CallbackLog log;
            log.decrypt(missing, dir.file("out"));
            return log.outcomes == kFailed;
        },
        [&] { return !AESUtils::decryptFileToBytes(missing, key(), iv()); },
    };
    for (std::size_t i = 0; i < failures.size(); ++i) {
        test::StdoutCapture capture;
        EXPECT_TRUE(failures[i]()) << i;
        const std::string printed = capture.stop();
        EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << i;
        EXPECT_TRUE(printed.starts_with(missing) && printed.ends_with("\n")) << printed;
    }
    test::StdoutCapture capture;
    EXPECT_EQ(AESUtils::fileSize(dir.file("empty")), std::optional<std::uint64_t>(0));
    EXPECT_EQ(capture.stop(), "");
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"empty"});
}

TEST(FileFormat, AnEarlierFileIsReplacedOnSuccess) {
    const ScratchDir dir;
    const Bytes source = patternBytes(100);
    writeFile(dir / "src", source);
    writeFile(dir / "src.enc", patternBytes(5 * 1000 * 1000, 4));
    writeFile(dir / "back", patternBytes(3000, 4));
    CallbackLog encryption;
    encryption.encrypt(dir.file("src"), dir.file("src.enc"));
    EXPECT_EQ(encryption.outcomes, kCompleted);
    EXPECT_EQ(readFile(dir / "src.enc").size(), test::encryptedSize(100));
    CallbackLog decryption;
    decryption.decrypt(dir.file("src.enc"), dir.file("back"));
    EXPECT_EQ(decryption.outcomes, kCompleted);
    EXPECT_EQ(readFile(dir / "back"), source);
}

} // namespace
} // namespace corvix
