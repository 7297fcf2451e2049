// The chunk pipeline must give the same bytes and the same callbacks whatever the number of
// worker threads. Small chunk sizes make many chunks cheap, so ordering faults show quickly.

#include "Crypto/AESUtils.h"
#include "Crypto/ByteArrayOutputStream.h"
#include "Crypto/ChunkPipeline.h"
#include "Crypto/InputStream.h"
#include "Crypto/OutputStream.h"
#include "Key/CorvixKey.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <thread>

namespace corvix {
namespace {

using Direction = ChunkCipher::Direction;

constexpr std::size_t kChunk = 64;

Bytes patterned(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    Bytes bytes(size);
    for (auto& byte : bytes) {
        byte = static_cast<std::uint8_t>(generator());
    }
    return bytes;
}

// Delivers its bytes in pieces of varying size and reports bytes available until a read has
// met the end, as a file does.
class MemoryInputStream final : public InputStream {
public:
    explicit MemoryInputStream(Bytes bytes) : bytes_(std::move(bytes)) {}

    bool hasBytesAvailable() const override { return !atEnd_; }

    std::ptrdiff_t read(std::uint8_t* buffer, std::size_t n) override {
        if (position_ == bytes_.size()) {
            atEnd_ = true;
            return 0;
        }
        const std::size_t piece = std::min({n, bytes_.size() - position_, 1 + position_ % 37});
        std::memcpy(buffer, bytes_.data() + position_, piece);
        position_ += piece;
        return static_cast<std::ptrdiff_t>(piece);
    }

private:
    Bytes bytes_;
    std::size_t position_ = 0;
    bool atEnd_ = false;
};

// Accepts `limit` bytes, then fails like a full disk.
class FailingOutputStream final : public OutputStream {
public:
    explicit FailingOutputStream(std::size_t limit) : limit_(limit) {}

    bool hasSpaceAvailable() const override { return !failed_; }

    std::ptrdiff_t write(const std::uint8_t*, std::size_t n) override {
        if (written_ + n > limit_) {
            failed_ = true;
            return -1;
        }
        written_ += n;
        return static_cast<std::ptrdiff_t>(n);
    }

private:
    std::size_t limit_;
    std::size_t written_ = 0;
    bool failed_ = false;
};

// The reference: every chunk encrypted on its own by the one-shot operation, one after another.
Bytes encryptChunkByChunk(const Bytes& plain) {
    Bytes sealed;
    for (std::size_t offset = 0; offset < plain.size(); offset += kChunk) {
        const Bytes chunk(plain.begin() + static_cast<std::ptrdiff_t>(offset),
                          plain.begin() + static_cast<std::ptrdiff_t>(std::min(offset + kChunk, plain.size())));
        const Bytes piece = *AESUtils::encryptBytes(chunk, static_cast<std::int64_t>(chunk.size()),
                                                    CorvixKey::aesKey(), CorvixKey::ivBytes());
        sealed.insert(sealed.end(), piece.begin(), piece.end());
    }
    return sealed;
}

struct PipelineRun {
    RunOutcome outcome;
    Bytes output;
    std::vector<std::uint64_t> progress;
    int cancelQuestions = 0;
    bool callbacksOnCallingThread = true;
};

PipelineRun runPipeline(Direction direction, const Bytes& input, std::size_t chunkSize,
                std::size_t workers, int cancelAtQuestion = 0) {
    PipelineRun run;
    const auto caller = std::this_thread::get_id();
    ChunkCallbacks callbacks;
    callbacks.onProgress = [&](std::uint64_t done, std::uint64_t total) {
        run.progress.push_back(done);
        EXPECT_EQ(total, input.size());
        run.callbacksOnCallingThread &= std::this_thread::get_id() == caller;
    };
    callbacks.shouldCancel = [&] {
        run.callbacksOnCallingThread &= std::this_thread::get_id() == caller;
        return ++run.cancelQuestions == cancelAtQuestion;
    };
    MemoryInputStream in(input);
    ByteArrayOutputStream out(run.output);
    const ChunkPipeline pipeline(direction, CorvixKey::aesKey(), CorvixKey::ivBytes(), chunkSize);
    run.outcome = pipeline.run(in, input.size(), out, callbacks, workers);
    return run;
}

TEST(ChunkPipeline, EveryWorkerCountGivesTheSameBytesAndCallbacks) {
    const Bytes plain = patterned(kChunk * 41 + 23, 1);
    const Bytes expected = encryptChunkByChunk(plain);
    for (const std::size_t workers : {0, 1, 2, 3, 8}) {
        SCOPED_TRACE(workers);
        const PipelineRun encrypted = runPipeline(Direction::Encrypt, plain, kChunk, workers);
        ASSERT_TRUE(encrypted.outcome.succeeded()) << encrypted.outcome.reason;
        EXPECT_EQ(encrypted.output, expected);
        EXPECT_TRUE(encrypted.callbacksOnCallingThread);
        // One question before each of the 42 chunks and one more once the last is read.
        EXPECT_EQ(encrypted.cancelQuestions, 43);
        ASSERT_EQ(encrypted.progress.size(), 42U);
        for (std::size_t i = 0; i + 1 < encrypted.progress.size(); ++i) {
            EXPECT_EQ(encrypted.progress[i], (i + 1) * kChunk);
        }
        EXPECT_EQ(encrypted.progress.back(), plain.size());

        const PipelineRun decrypted = runPipeline(Direction::Decrypt, expected, kChunk + 16, workers);
        ASSERT_TRUE(decrypted.outcome.succeeded()) << decrypted.outcome.reason;
        EXPECT_EQ(decrypted.output, plain);
    }
}

TEST(ChunkPipeline, CancellationStopsWithinTheChunksInFlight) {
    const Bytes plain = patterned(kChunk * 30, 2);
    const Bytes expected = encryptChunkByChunk(plain);
    for (const std::size_t workers : {0, 4}) {
        SCOPED_TRACE(workers);
        const PipelineRun run = runPipeline(Direction::Encrypt, plain, kChunk, workers, 10);
        EXPECT_EQ(run.outcome.status, RunOutcome::Status::Cancelled);
        EXPECT_EQ(run.cancelQuestions, 10);
        // Whatever was written is a prefix of the full output, and nine chunks at most were read.
        ASSERT_LE(run.output.size(), 9 * (kChunk + 16));
        EXPECT_TRUE(std::equal(run.output.begin(), run.output.end(), expected.begin()));
    }
}

TEST(ChunkPipeline, CancellingAtTheLastQuestionStillCancels) {
    const Bytes plain = patterned(kChunk * 5, 3);
    const PipelineRun run = runPipeline(Direction::Encrypt, plain, kChunk, 2, 6);
    EXPECT_EQ(run.outcome.status, RunOutcome::Status::Cancelled);
}

TEST(ChunkPipeline, ADamagedMiddleChunkIsNamedAndNothingAfterItIsWritten) {
    const Bytes plain = patterned(kChunk * 12, 4);
    Bytes sealed = encryptChunkByChunk(plain);
    sealed[6 * (kChunk + 16) + kChunk + 15] ^= 0x55; // the padding block of the seventh chunk
    for (const std::size_t workers : {0, 3}) {
        SCOPED_TRACE(workers);
        const PipelineRun run = runPipeline(Direction::Decrypt, sealed, kChunk + 16, workers);
        ASSERT_EQ(run.outcome.status, RunOutcome::Status::Failed);
        EXPECT_NE(run.outcome.reason.find("chunk 7 "), std::string::npos) << run.outcome.reason;
        EXPECT_EQ(run.output, Bytes(plain.begin(), plain.begin() + 6 * kChunk));
    }
}

TEST(ChunkPipeline, AnInputShorterThanItsSizeFailsInsteadOfWritingStaleBytes) {
    const Bytes plain = patterned(kChunk * 6, 5);
    for (const std::size_t workers : {0, 2}) {
        MemoryInputStream in(Bytes(plain.begin(), plain.end() - 10));
        Bytes output;
        ByteArrayOutputStream out(output);
        const ChunkPipeline pipeline(Direction::Encrypt, CorvixKey::aesKey(), CorvixKey::ivBytes(), kChunk);
        const RunOutcome outcome = pipeline.run(in, plain.size(), out, {}, workers);
        EXPECT_EQ(outcome.status, RunOutcome::Status::Failed);
        EXPECT_LE(output.size(), 5 * (kChunk + 16));
    }
}

TEST(ChunkPipeline, AFailingWriteStopsTheRun) {
    const Bytes plain = patterned(kChunk * 20, 6);
    for (const std::size_t workers : {0, 2}) {
        MemoryInputStream in(plain);
        FailingOutputStream out(3 * (kChunk + 16));
        int progressCalls = 0;
        ChunkCallbacks callbacks;
        callbacks.onProgress = [&](std::uint64_t, std::uint64_t) { ++progressCalls; };
        const ChunkPipeline pipeline(Direction::Encrypt, CorvixKey::aesKey(), CorvixKey::ivBytes(), kChunk);
        const RunOutcome outcome = pipeline.run(in, plain.size(), out, callbacks, workers);
        EXPECT_EQ(outcome.status, RunOutcome::Status::Failed);
        EXPECT_EQ(progressCalls, 3);
    }
}

TEST(ChunkPipeline, AnEmptyInputCompletesWithoutProgress) {
    const PipelineRun run = runPipeline(Direction::Encrypt, {}, kChunk, 4);
    EXPECT_TRUE(run.outcome.succeeded());
    EXPECT_TRUE(run.output.empty());
    EXPECT_TRUE(run.progress.empty());
}

} // namespace
} // namespace corvix
