#include "Crypto/AESUtils.h"
#include "Crypto/FileCipher.h"
#include "EncryptedFiles.h"
#include "Files.h"
#include "Key/CorvixKey.h"
#include "Key/Encodings.h"
#include "Process.h"
#include "ScratchDir.h"
#include "StdoutCapture.h"

#include <csignal>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

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
    /// Runs before shouldCancel answers, with the call's number: changes the source mid-run.
    std::function<void(int call)> beforeCancelAnswer;

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
        return [this] {
            ++cancelQueries;
            if (beforeCancelAnswer) {
                beforeCancelAnswer(cancelQueries);
            }
            return cancelQueries == cancelOnCall;
        };
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

// The readers skip the header line unread: any bytes without 0x0D, of any length (also longer
// than the reader's buffer), or none at all.
TEST(FileFormat, AForeignHeaderLineStillReads) {
    const ScratchDir dir;
    const Bytes source = patternBytes(kMiB + 100);
    const Bytes body = slice(readFile(encryptedCopy(dir, source)), 25, SIZE_MAX);
    for (const Bytes& header :
         {Bytes{}, Bytes{0x00, 0x0A, 0xFF, '=', ' ', 0x0C, 0x0E}, Bytes(200000, 'x')}) {
        Bytes file = header;
        file.push_back(0x0D);
        file.insert(file.end(), body.begin(), body.end());
        writeFile(dir / "other.enc", file);

        EXPECT_EQ(AESUtils::decryptFileToBytes(dir.file("other.enc"), key(), iv()), source)
            << header.size();
        CallbackLog log;
        log.decrypt(dir.file("other.enc"), dir.file("other"));
        EXPECT_EQ(log.outcomes, kCompleted) << header.size();
        EXPECT_EQ(log.progressCalls.back(), Progress::value_type(body.size(), body.size()));
        EXPECT_EQ(readFile(dir / "other"), source) << header.size();
    }
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

TEST(FileFormat, DamagedFilesReadNothing) {
    const ScratchDir dir;
    // The last source byte is 0: with the padding block cut off, the exposed last byte is not
    // valid padding either.
    Bytes source = patternBytes(3 * kMiB + 32);
    source.back() = 0;
    const Bytes file = readFile(encryptedCopy(dir, source));

    {
        SCOPED_TRACE("wrong key");
        Bytes otherKey = key();
        otherKey[5] ^= 0x01;
        expectUnreadable(dir, dir.file("plain.enc"), otherKey);
    }

    std::vector<std::pair<std::string, Bytes>> cases = {{"empty", {}}};
    Bytes noReturn = patternBytes(100000);
    std::replace(noReturn.begin(), noReturn.end(), std::uint8_t{0x0D}, std::uint8_t{0x0E});
    cases.emplace_back("no 0x0D", noReturn);
    for (const std::size_t cut : {1UL, 7UL, 16UL, 48UL - 1}) {
        cases.emplace_back("cut " + std::to_string(cut), slice(file, 0, file.size() - cut));
    }
    // xor-ing 0x10 into the last byte of the block before a full chunk's padding block makes
    // the padding end in 0x00, which never verifies: the chunk fails for sure, not by chance.
    for (const std::size_t chunk : {0UL, 1UL, 2UL}) {
        Bytes damaged = file;
        damaged[25 + (chunk + 1) * kCipherChunk - 17] ^= 0x10;
        cases.emplace_back("damaged chunk " + std::to_string(chunk), damaged);
    }
    for (const auto& [name, content] : cases) {
        SCOPED_TRACE(name);
        writeFile(dir / "bad.enc", content);
        expectUnreadable(dir, dir.file("bad.enc"));
    }
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

// A folder can be sized but not read; a FIFO has a size (0) but no bytes to count on, and
// opening it for reading would wait for a writer. Both must fail at once: in a child, so that
// a hang cannot stall the suite.
TEST(FileFormat, SourcesThatAreNotRegularFilesFailWithoutBlocking) {
    const ScratchDir dir;
    fs::create_directory(dir / "folder");
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    const int result = test::runInChild(
        [&] {
            for (const std::string& source : {dir.file("folder"), dir.file("fifo")}) {
                CallbackLog encryption;
                encryption.encrypt(source, dir.file("out.enc"));
                CallbackLog decryption;
                decryption.decrypt(source, dir.file("out"));
                if (encryption.outcomes != kFailed || decryption.outcomes != kFailed ||
                    AESUtils::decryptFileToBytes(source, key(), iv())) {
                    return 1;
                }
            }
            return 0;
        },
        std::chrono::seconds(10));
    EXPECT_EQ(result, 0) << "1: not reported as failure, -1: blocked";
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"fifo", "folder"}));
}

TEST(FileFormat, DestinationFolderMissingOrAFolder) {
    const ScratchDir dir;
    const std::string enc = encryptedCopy(dir, patternBytes(kMiB + 3));
    writeFile(dir / "folder/inside", {1});
    for (const std::string& dst :
         {dir.file("missing/out"), dir.file("folder"), dir.file("folder") + "/"}) {
        CallbackLog encryption;
        encryption.encrypt(dir.file("plain"), dst);
        EXPECT_EQ(encryption.outcomes, kFailed) << dst;
        CallbackLog decryption;
        decryption.decrypt(enc, dst);
        EXPECT_EQ(decryption.outcomes, kFailed) << dst;
    }
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"folder", "plain", "plain.enc"}));
    EXPECT_EQ(readFile(dir / "folder/inside"), Bytes{1});
}

// A full disk, seen through a file-size limit (SIGXFSZ ignored, so a write fails with EFBIG).
TEST(FileFormat, AWriteFailureFailsTheRunAndKeepsTheEarlierFile) {
    const ScratchDir dir;
    const std::string enc = encryptedCopy(dir, patternBytes(kMiB + kMiB / 2));
    const Bytes earlier = {'o', 'l', 'd'};
    writeFile(dir / "out.enc", earlier);
    writeFile(dir / "out", earlier);
    const int result = test::runInChild([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{256 * 1024, 256 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        CallbackLog encryption;
        encryption.encrypt(dir.file("plain"), dir.file("out.enc"));
        CallbackLog decryption;
        decryption.decrypt(enc, dir.file("out"));
        return (encryption.outcomes == kFailed ? 0 : 1) | (decryption.outcomes == kFailed ? 0 : 2);
    });
    EXPECT_EQ(result, 0) << "1: encryption, 2: decryption not reported as failed";
    EXPECT_EQ(readFile(dir / "out.enc"), earlier);
    EXPECT_EQ(readFile(dir / "out"), earlier);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"out", "out.enc", "plain", "plain.enc"}));
}

// The source loses bytes after its size was taken (between two chunks, or before the first):
// the run fails instead of writing stale buffer bytes as data.
TEST(FileFormat, ASourceThatShrinksFails) {
    const ScratchDir dir;
    const Bytes earlier = {'o', 'l', 'd'};
    const struct {
        std::size_t size;
        int call;
        std::size_t shrinkTo;
    } cases[] = {{1000, 1, 500}, {3 * kMiB + 9, 2, kMiB + kMiB / 2}, {3 * kMiB + 9, 3, 2 * kMiB}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shrinkTo);
        writeFile(dir / "src", patternBytes(c.size));
        writeFile(dir / "src.enc", earlier);
        CallbackLog log;
        log.beforeCancelAnswer = [&](int call) {
            if (call == c.call) {
                fs::resize_file(dir / "src", c.shrinkTo);
            }
        };
        log.encrypt(dir.file("src"), dir.file("src.enc"));
        EXPECT_EQ(log.outcomes, kFailed);
        EXPECT_EQ(readFile(dir / "src.enc"), earlier);
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"src", "src.enc"}));
    }

    const std::string enc = encryptedCopy(dir, patternBytes(3 * kMiB));
    CallbackLog log;
    log.beforeCancelAnswer = [&](int call) {
        if (call == 2) {
            fs::resize_file(enc, 25 + kCipherChunk + 4096);
        }
    };
    log.decrypt(enc, dir.file("out"));
    EXPECT_EQ(log.outcomes, kFailed);
    EXPECT_FALSE(fs::exists(dir / "out"));
}

// Bytes appended after the size was taken are not read: the file holds the source as it was.
TEST(FileFormat, ASourceThatGrowsIsReadUpToItsFirstSize) {
    const ScratchDir dir;
    const Bytes source = patternBytes(kMiB + 10);
    writeFile(dir / "src", source);
    CallbackLog log;
    log.beforeCancelAnswer = [&](int call) {
        if (call == 1) {
            Bytes grown = source;
            grown.resize(source.size() + 5000, 0x42);
            writeFile(dir / "src", grown);
        }
    };
    log.encrypt(dir.file("src"), dir.file("src.enc"));
    EXPECT_EQ(log.outcomes, kCompleted);
    EXPECT_EQ(AESUtils::decryptFileToBytes(dir.file("src.enc"), key(), iv()), source);
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
