#include "Crypto/AESUtils.h"
#include "Crypto/FileCipher.h"
#include "Crypto/OutputStream.h"
#include "Key/CorvixKey.h"
#include "Key/Encodings.h"
#include "TestSupport.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace corvix {
namespace {

using test::CallbackLog;
using test::kCipherChunk;
using test::kMiB;
using test::ScratchDir;
namespace fs = std::filesystem;

const std::vector<std::string> kCompleted = {"complete"};
const std::vector<std::string> kFailed = {"failure(false)"};
const std::vector<std::string> kCancelled = {"failure(true)"};

const Bytes& key() {
    static const Bytes bytes = CorvixKey::aesKey();
    return bytes;
}

const Bytes& iv() {
    static const Bytes bytes = CorvixKey::ivBytes();
    return bytes;
}

void encryptFile(const std::string& src, const std::string& dst, CallbackLog& log,
                 const Bytes& withKey = key(), const Bytes& withIv = iv(),
                 std::string_view header = "quorveth") {
    AESUtils::encryptFile(src, dst, header, withKey, withIv, log.progress(), log.complete(),
                          log.failure(), log.cancel());
}

void decryptFile(const std::string& src, const std::string& dst, CallbackLog& log,
                 const Bytes& withKey = key(), const Bytes& withIv = iv()) {
    AESUtils::decryptFile(src, dst, withKey, withIv, log.progress(), log.complete(), log.failure(),
                          log.cancel());
}

/// The progress a run of `total` bytes in pieces of `piece` reports: after each piece, the
/// bytes consumed so far, with the same total every time.
std::vector<std::pair<std::uint64_t, std::uint64_t>> progressOf(std::uint64_t total,
                                                                std::uint64_t piece) {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
    for (std::uint64_t done = 0; done < total;) {
        done = std::min(total, done + piece);
        calls.emplace_back(done, total);
    }
    return calls;
}

/// Writes `source` to "plain" and its encryption to "plain.enc" in `dir`; returns the latter.
std::string encryptedCopy(const ScratchDir& dir, const Bytes& source) {
    test::writeFile(dir.file("plain"), source);
    CallbackLog log;
    encryptFile(dir.file("plain"), dir.file("plain.enc"), log);
    EXPECT_EQ(log.outcomes, kCompleted);
    return dir.file("plain.enc");
}

class FormatSizes : public testing::TestWithParam<std::size_t> {};

// One source size through the whole format: layout, header line, every body piece on its own,
// and both readers with their callbacks.
TEST_P(FormatSizes, LayoutAndRoundTrips) {
    const ScratchDir dir;
    const std::size_t size = GetParam();
    const Bytes source = test::patternBytes(size, static_cast<std::uint32_t>(size));
    test::writeFile(dir.file("src"), source);

    CallbackLog encryption;
    encryptFile(dir.file("src"), dir.file("src.enc"), encryption);
    EXPECT_EQ(encryption.outcomes, kCompleted);
    EXPECT_EQ(encryption.progressCalls, progressOf(size, kMiB));

    const Bytes file = test::readFile(dir.file("src.enc"));
    ASSERT_EQ(file.size(), test::encryptedSize(size));
    EXPECT_EQ(std::string(file.begin(), file.begin() + 24), test::kQuorvethHeaderLine);
    EXPECT_EQ(file[24], 0x0D);

    // Every piece of the body, counted from the byte after 0x0D, decrypts alone.
    std::size_t pieces = 0;
    for (std::size_t offset = 25; offset < file.size(); offset += kCipherChunk, ++pieces) {
        const Bytes piece = test::slice(file, offset, kCipherChunk);
        const auto plain =
            AESUtils::decryptBytes(piece, static_cast<std::int64_t>(piece.size()), key(), iv());
        ASSERT_TRUE(plain) << "piece " << pieces;
        EXPECT_EQ(*plain, test::slice(source, pieces * kMiB, kMiB)) << "piece " << pieces;
    }
    EXPECT_EQ(pieces, (size + kMiB - 1) / kMiB);

    CallbackLog decryption;
    decryptFile(dir.file("src.enc"), dir.file("back"), decryption);
    EXPECT_EQ(decryption.outcomes, kCompleted);
    EXPECT_EQ(decryption.progressCalls, progressOf(file.size() - 25, kCipherChunk));
    EXPECT_EQ(test::readFile(dir.file("back")), source);
    EXPECT_EQ(AESUtils::decryptFileToBytes(dir.file("src.enc"), key(), iv()), source);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"back", "src", "src.enc"}));
}

INSTANTIATE_TEST_SUITE_P(ChunkBoundaries, FormatSizes,
                         testing::Values(0, 15, 16, 1048575, 1048576, 1048577, 3 * 1048576 + 17));

TEST(FileFormat, SameSourceSameFileAndEqualChunksEqualPieces) {
    const ScratchDir dir;
    Bytes source = test::patternBytes(3 * kMiB);
    std::copy(source.begin(), source.begin() + kMiB, source.begin() + 2 * kMiB);
    const Bytes file = test::readFile(encryptedCopy(dir, source));
    EXPECT_EQ(test::slice(file, 25, kCipherChunk),
              test::slice(file, 25 + 2 * kCipherChunk, kCipherChunk));
    EXPECT_NE(test::slice(file, 25, kCipherChunk),
              test::slice(file, 25 + kCipherChunk, kCipherChunk));

    CallbackLog again;
    encryptFile(dir.file("plain"), dir.file("again.enc"), again);
    EXPECT_EQ(test::readFile(dir.file("again.enc")), file);
}

TEST(FileFormat, AnyHeaderTextSealsIntoTheHeaderLine) {
    const ScratchDir dir;
    test::writeFile(dir.file("src"), {1, 2, 3});
    CallbackLog empty;
    encryptFile(dir.file("src"), dir.file("empty.enc"), empty, key(), iv(), "");
    const Bytes file = test::readFile(dir.file("empty.enc"));
    // The empty text is one block of padding; its line was computed with `openssl enc -a`.
    EXPECT_EQ(std::string(file.begin(), file.begin() + 24), "QXRgLk/2J3esCguqDXxtCg==");
    EXPECT_EQ(file[24], 0x0D);

    CallbackLog longer;
    encryptFile(dir.file("src"), dir.file("long.enc"), longer, key(), iv(), "a longer header text");
    const Bytes line = FileCipher::headerLine("a longer header text", key(), iv()).value();
    EXPECT_EQ(line.size(), 44U);
    const Bytes sealed = bytesFromBase64(std::string(line.begin(), line.end()));
    EXPECT_EQ(AESUtils::decryptBytes(sealed, static_cast<std::int64_t>(sealed.size()), key(), iv()),
              utf8Bytes("a longer header text"));
    const Bytes written = test::readFile(dir.file("long.enc"));
    EXPECT_EQ(test::slice(written, 0, 44), line);
    EXPECT_EQ(written[44], 0x0D);
    EXPECT_EQ(AESUtils::decryptFileToBytes(dir.file("long.enc"), key(), iv()), (Bytes{1, 2, 3}));
}

// The readers skip the header line unread: any bytes without 0x0D, of any length (also longer
// than the reader's buffer), or none at all.
TEST(FileFormat, AForeignHeaderLineStillReads) {
    const ScratchDir dir;
    const Bytes source = test::patternBytes(kMiB + 100);
    const Bytes body = test::slice(test::readFile(encryptedCopy(dir, source)), 25, SIZE_MAX);
    Bytes odd = {0x00, 0x0A, 0xFF, '=', ' ', 0x0C, 0x0E};
    const std::vector<Bytes> headers = {{}, odd, Bytes(200000, 'x')};
    for (const Bytes& header : headers) {
        Bytes file = header;
        file.push_back(0x0D);
        file.insert(file.end(), body.begin(), body.end());
        test::writeFile(dir.file("other.enc"), file);

        EXPECT_EQ(AESUtils::decryptFileToBytes(dir.file("other.enc"), key(), iv()), source)
            << header.size();
        CallbackLog log;
        decryptFile(dir.file("other.enc"), dir.file("other"), log);
        EXPECT_EQ(log.outcomes, kCompleted) << header.size();
        EXPECT_EQ(log.progressCalls.back(),
                  (std::pair<std::uint64_t, std::uint64_t>(body.size(), body.size())));
        EXPECT_EQ(test::readFile(dir.file("other")), source) << header.size();
    }
}

TEST(FileFormat, AHeaderLineAloneIsAnEmptyPlaintext) {
    const ScratchDir dir;
    test::writeFile(dir.file("empty.enc"), {'a', 'b', 0x0D});
    EXPECT_EQ(AESUtils::decryptFileToBytes(dir.file("empty.enc"), key(), iv()), Bytes{});
    CallbackLog log;
    decryptFile(dir.file("empty.enc"), dir.file("empty"), log);
    EXPECT_EQ(log.outcomes, kCompleted);
    EXPECT_TRUE(log.progressCalls.empty());
    EXPECT_EQ(test::readFile(dir.file("empty")), Bytes{});
}

/// Decrypting `encPath` must fail through both readers, leave the earlier file at the
/// destination as it was and no temporary file.
void expectUnreadable(const ScratchDir& dir, const std::string& encPath,
                      const Bytes& withKey = key(), const Bytes& withIv = iv()) {
    const std::vector<std::string> before = dir.entries();
    EXPECT_EQ(AESUtils::decryptFileToBytes(encPath, withKey, withIv), std::nullopt);

    CallbackLog log;
    decryptFile(encPath, dir.file("out"), log, withKey, withIv);
    EXPECT_EQ(log.outcomes, kFailed);
    EXPECT_FALSE(fs::exists(dir.file("out")));

    const Bytes earlier = {'o', 'l', 'd'};
    test::writeFile(dir.file("out"), earlier);
    CallbackLog again;
    decryptFile(encPath, dir.file("out"), again, withKey, withIv);
    EXPECT_EQ(again.outcomes, kFailed);
    EXPECT_EQ(test::readFile(dir.file("out")), earlier);
    fs::remove(dir.file("out"));
    EXPECT_EQ(dir.entries(), before);
}

TEST(FileFormat, WrongKeyReadsNothing) {
    const ScratchDir dir;
    const std::string enc = encryptedCopy(dir, test::patternBytes(2 * kMiB + 5));
    Bytes otherKey = key();
    otherKey[5] ^= 0x01;
    expectUnreadable(dir, enc, otherKey);
}

TEST(FileFormat, TruncatedBodyReadsNothing) {
    const ScratchDir dir;
    // The last source byte is 0: with the padding block cut off, the exposed last byte is not
    // valid padding either.
    Bytes source = test::patternBytes(kMiB + 32);
    source.back() = 0;
    const Bytes file = test::readFile(encryptedCopy(dir, source));
    for (const std::size_t cut : {1UL, 7UL, 16UL, 48UL - 1}) {
        test::writeFile(dir.file("cut.enc"), test::slice(file, 0, file.size() - cut));
        SCOPED_TRACE(cut);
        expectUnreadable(dir, dir.file("cut.enc"));
    }
}

// xor-ing 0x10 into the last byte of the block before a full chunk's padding block makes the
// padding end in 0x00, which never verifies: the chunk fails for sure, not by chance.
TEST(FileFormat, ADamagedChunkReadsNothingAndNeverCompletes) {
    const ScratchDir dir;
    const Bytes file = test::readFile(encryptedCopy(dir, test::patternBytes(3 * kMiB)));
    for (const std::size_t chunk : {0UL, 1UL, 2UL}) {
        Bytes damaged = file;
        damaged[25 + (chunk + 1) * kCipherChunk - 17] ^= 0x10;
        test::writeFile(dir.file("damaged.enc"), damaged);
        SCOPED_TRACE(chunk);
        expectUnreadable(dir, dir.file("damaged.enc"));
    }
}

TEST(FileFormat, NotAnEncryptedFile) {
    const ScratchDir dir;
    test::writeFile(dir.file("empty.enc"), {});
    expectUnreadable(dir, dir.file("empty.enc"));
    Bytes noReturn = test::patternBytes(100000);
    std::replace(noReturn.begin(), noReturn.end(), std::uint8_t{0x0D}, std::uint8_t{0x0E});
    test::writeFile(dir.file("noline.enc"), noReturn);
    expectUnreadable(dir, dir.file("noline.enc"));
}

TEST(FileFormat, BadKeyMaterialIsAFailureNotARead) {
    const ScratchDir dir;
    const std::string enc = encryptedCopy(dir, test::patternBytes(1000));
    const Bytes shortIv = test::slice(iv(), 0, 15);
    const Bytes longKey = test::patternBytes(33);
    for (const auto& [withKey, withIv] :
         {std::pair{key(), shortIv}, std::pair{longKey, iv()}, std::pair{Bytes{}, Bytes{}}}) {
        CallbackLog log;
        encryptFile(dir.file("plain"), dir.file("bad.enc"), log, withKey, withIv);
        EXPECT_EQ(log.outcomes, kFailed);
        EXPECT_FALSE(fs::exists(dir.file("bad.enc")));
        expectUnreadable(dir, enc, withKey, withIv);
    }

    // Other AES key sizes are accepted, and an IV beyond 16 bytes counts with its first 16.
    Bytes longIv = iv();
    longIv.resize(24, 0x55);
    for (const std::size_t keyLength : {16UL, 24UL}) {
        const Bytes otherKey = test::patternBytes(keyLength, 5);
        CallbackLog log;
        encryptFile(dir.file("plain"), dir.file("aes.enc"), log, otherKey, longIv);
        EXPECT_EQ(log.outcomes, kCompleted);
        EXPECT_EQ(AESUtils::decryptFileToBytes(dir.file("aes.enc"), otherKey, iv()),
                  test::readFile(dir.file("plain")));
    }
}

class Cancellation : public testing::TestWithParam<int> {};

// Three chunks: shouldCancel is asked before each and once more after the last (the stream has
// not met its end yet), so calls 1 and 4 are the first and the extra check.
TEST_P(Cancellation, LeavesNothingAndNeverCompletes) {
    const ScratchDir dir;
    const Bytes source = test::patternBytes(2 * kMiB + 5);
    const std::string enc = encryptedCopy(dir, source);
    const Bytes earlier = {'o', 'l', 'd'};
    const int call = GetParam();

    for (const bool withEarlierFile : {false, true}) {
        if (withEarlierFile) {
            test::writeFile(dir.file("out.enc"), earlier);
            test::writeFile(dir.file("out"), earlier);
        }
        CallbackLog encryption(call);
        encryptFile(dir.file("plain"), dir.file("out.enc"), encryption);
        EXPECT_EQ(encryption.outcomes, kCancelled);
        EXPECT_EQ(encryption.cancelQueries, call);
        EXPECT_LT(encryption.progressCalls.size(), static_cast<std::size_t>(call));

        CallbackLog decryption(call);
        decryptFile(enc, dir.file("out"), decryption);
        EXPECT_EQ(decryption.outcomes, kCancelled);
        EXPECT_EQ(decryption.cancelQueries, call);

        if (withEarlierFile) {
            EXPECT_EQ(test::readFile(dir.file("out.enc")), earlier);
            EXPECT_EQ(test::readFile(dir.file("out")), earlier);
            fs::remove(dir.file("out.enc"));
            fs::remove(dir.file("out"));
        }
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"plain", "plain.enc"}));
    }
}

INSTANTIATE_TEST_SUITE_P(FirstAndExtraCheck, Cancellation, testing::Values(1, 2, 4));

TEST(FileFormat, ShouldCancelIsAskedOnceMoreAfterTheLastChunk) {
    const ScratchDir dir;
    const std::string enc = encryptedCopy(dir, test::patternBytes(2 * kMiB + 5));
    CallbackLog encryption(5);
    encryptFile(dir.file("plain"), dir.file("again.enc"), encryption);
    EXPECT_EQ(encryption.outcomes, kCompleted);
    EXPECT_EQ(encryption.cancelQueries, 4);
    CallbackLog decryption(5);
    decryptFile(enc, dir.file("out"), decryption);
    EXPECT_EQ(decryption.outcomes, kCompleted);
    EXPECT_EQ(decryption.cancelQueries, 4);
}

TEST(FileFormat, MissingSourcePrintsOneLineAndFails) {
    const ScratchDir dir;
    const std::string missing = dir.file("missing");
    for (int run = 0; run < 3; ++run) {
        CallbackLog log;
        testing::internal::CaptureStdout();
        if (run == 0) {
            encryptFile(missing, dir.file("out"), log);
        } else if (run == 1) {
            decryptFile(missing, dir.file("out"), log);
        } else {
            EXPECT_EQ(AESUtils::decryptFileToBytes(missing, key(), iv()), std::nullopt);
            log.outcomes = kFailed;
        }
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 1) << run;
        EXPECT_NE(printed.find(missing), std::string::npos) << run;
        EXPECT_EQ(log.outcomes, kFailed) << run;
        EXPECT_TRUE(dir.entries().empty()) << run;
    }
}

TEST(FileFormat, ASourceThatCannotBeOpenedFails) {
    const ScratchDir dir;
    fs::create_directory(dir.file("folder"));
    CallbackLog encryption;
    encryptFile(dir.file("folder"), dir.file("out"), encryption);
    EXPECT_EQ(encryption.outcomes, kFailed);
    expectUnreadable(dir, dir.file("folder"));
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"folder"});
}

// A FIFO has a size (0) but no bytes to count on; opening it for reading would also wait for a
// writer. It must fail at once, in a child so that a hang cannot stall the suite.
TEST(FileFormat, AFifoSourceFailsWithoutBlocking) {
    const ScratchDir dir;
    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int result = test::runInChild(
        [&] {
            CallbackLog encryption;
            encryptFile(fifo, dir.file("out.enc"), encryption);
            CallbackLog decryption;
            decryptFile(fifo, dir.file("out"), decryption);
            const bool bytesFailed = !AESUtils::decryptFileToBytes(fifo, key(), iv());
            return encryption.outcomes == kFailed && decryption.outcomes == kFailed && bytesFailed
                       ? 0
                       : 1;
        },
        std::chrono::seconds(10));
    EXPECT_EQ(result, 0) << "1: not reported as failure, -1: blocked";
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"fifo"});
}

TEST(FileFormat, DestinationFolderMissingOrAFolder) {
    const ScratchDir dir;
    const std::string enc = encryptedCopy(dir, test::patternBytes(kMiB + 3));
    fs::create_directory(dir.file("folder"));
    test::writeFile(dir.file("folder/inside"), {1});
    for (const std::string& dst :
         {dir.file("missing/out"), dir.file("folder"), dir.file("folder") + "/"}) {
        CallbackLog encryption;
        encryptFile(dir.file("plain"), dst, encryption);
        EXPECT_EQ(encryption.outcomes, kFailed) << dst;
        CallbackLog decryption;
        decryptFile(enc, dst, decryption);
        EXPECT_EQ(decryption.outcomes, kFailed) << dst;
    }
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"folder", "plain", "plain.enc"}));
    EXPECT_EQ(test::readFile(dir.file("folder/inside")), Bytes{1});
}

// A full disk, seen through a file-size limit (SIGXFSZ ignored, so a write fails with EFBIG).
TEST(FileFormat, AWriteFailureFailsTheRunAndKeepsTheEarlierFile) {
    const ScratchDir dir;
    const std::string enc = encryptedCopy(dir, test::patternBytes(kMiB + kMiB / 2));
    const Bytes earlier = {'o', 'l', 'd'};
    test::writeFile(dir.file("out.enc"), earlier);
    test::writeFile(dir.file("out"), earlier);
    const int result = test::runInChild([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{256 * 1024, 256 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        CallbackLog encryption;
        encryptFile(dir.file("plain"), dir.file("out.enc"), encryption);
        CallbackLog decryption;
        decryptFile(enc, dir.file("out"), decryption);
        return (encryption.outcomes == kFailed ? 0 : 1) | (decryption.outcomes == kFailed ? 0 : 2);
    });
    EXPECT_EQ(result, 0) << "1: encryption, 2: decryption not reported as failed";
    EXPECT_EQ(test::readFile(dir.file("out.enc")), earlier);
    EXPECT_EQ(test::readFile(dir.file("out")), earlier);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"out", "out.enc", "plain", "plain.enc"}));
}

/// An output device that fails every write once `capacity` bytes are in.
class FailingOutputStream final : public OutputStream {
public:
    explicit FailingOutputStream(std::size_t capacity) : capacity_(capacity) {}
    [[nodiscard]] bool hasSpaceAvailable() const override { return !failed_; }
    std::ptrdiff_t write(const std::uint8_t* /*buffer*/, std::size_t n) override {
        if (written == capacity_) {
            failed_ = true;
            return -1;
        }
        const std::size_t count = std::min(n, capacity_ - written);
        written += count;
        return static_cast<std::ptrdiff_t>(count);
    }
    std::size_t written = 0;

private:
    std::size_t capacity_;
    bool failed_ = false;
};

TEST(FileFormat, AFailingOutputDeviceFailsTheRun) {
    const ScratchDir dir;
    const std::string enc = encryptedCopy(dir, test::patternBytes(2 * kMiB + 7));
    for (const std::size_t capacity : {0UL, 1000UL, kMiB, 2 * kMiB + 6}) {
        FailingOutputStream device(capacity);
        const RunOutcome outcome = FileCipher::decryptInto(enc, device, key(), iv());
        EXPECT_EQ(outcome.status, RunOutcome::Status::Failed) << capacity;
        EXPECT_FALSE(outcome.reason.empty());
    }
    FailingOutputStream roomy(2 * kMiB + 7);
    EXPECT_TRUE(FileCipher::decryptInto(enc, roomy, key(), iv()).succeeded());
    EXPECT_EQ(roomy.written, 2 * kMiB + 7);
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
        test::writeFile(dir.file("src"), test::patternBytes(c.size));
        test::writeFile(dir.file("src.enc"), earlier);
        CallbackLog log;
        log.beforeCancelAnswer = [&](int call) {
            if (call == c.call) {
                fs::resize_file(dir.file("src"), c.shrinkTo);
            }
        };
        encryptFile(dir.file("src"), dir.file("src.enc"), log);
        EXPECT_EQ(log.outcomes, kFailed);
        EXPECT_EQ(test::readFile(dir.file("src.enc")), earlier);
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"src", "src.enc"}));
    }

    const std::string enc = encryptedCopy(dir, test::patternBytes(3 * kMiB));
    CallbackLog log;
    log.beforeCancelAnswer = [&](int call) {
        if (call == 2) {
            fs::resize_file(enc, 25 + kCipherChunk + 4096);
        }
    };
    decryptFile(enc, dir.file("out"), log);
    EXPECT_EQ(log.outcomes, kFailed);
    EXPECT_FALSE(fs::exists(dir.file("out")));
}

// Bytes appended after the size was taken are not read: the file holds the source as it was.
TEST(FileFormat, ASourceThatGrowsIsReadUpToItsFirstSize) {
    const ScratchDir dir;
    const Bytes source = test::patternBytes(kMiB + 10);
    test::writeFile(dir.file("src"), source);
    CallbackLog log;
    log.beforeCancelAnswer = [&](int call) {
        if (call == 1) {
            Bytes grown = source;
            grown.resize(source.size() + 5000, 0x42);
            test::writeFile(dir.file("src"), grown);
        }
    };
    encryptFile(dir.file("src"), dir.file("src.enc"), log);
    EXPECT_EQ(log.outcomes, kCompleted);
    EXPECT_EQ(AESUtils::decryptFileToBytes(dir.file("src.enc"), key(), iv()), source);
}

TEST(FileFormat, AnEarlierFileIsReplacedOnSuccess) {
    const ScratchDir dir;
    const Bytes source = test::patternBytes(100);
    test::writeFile(dir.file("src"), source);
    test::writeFile(dir.file("src.enc"), test::patternBytes(5 * 1000 * 1000, 4));
    test::writeFile(dir.file("back"), test::patternBytes(3000, 4));
    CallbackLog encryption;
    encryptFile(dir.file("src"), dir.file("src.enc"), encryption);
    EXPECT_EQ(encryption.outcomes, kCompleted);
    EXPECT_EQ(test::readFile(dir.file("src.enc")).size(), test::encryptedSize(100));
    CallbackLog decryption;
    decryptFile(dir.file("src.enc"), dir.file("back"), decryption);
    EXPECT_EQ(decryption.outcomes, kCompleted);
    EXPECT_EQ(test::readFile(dir.file("back")), source);
}

} // namespace
} // namespace corvix
