// The chunk pipeline must give the same bytes and the same callbacks whatever the number of
// worker threads. Small chunk sizes make many chunks cheap, so ordering faults show quickly.

#include "Crypto/ChunkPipeline.h"

#include "Crypto/AESUtils.h"
#include "Crypto/ByteArrayOutputStream.h"
#include "Crypto/InputStream.h"
#include "FailingOutputStream.h"
#include "Files.h"
#include "Key/CorvixKey.h"
#include "Key/KeyMaterial.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <thread>

namespace corvix {
namespace {

using Direction = ChunkCipher::Direction;

constexpr std::size_t kChunk = 64;

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

// The reference: every chunk encrypted on its own by the one-shot operation, one after another.
Bytes encryptChunkByChunk(const Bytes& plain) {
    Bytes sealed;
    for (std::size_t offset = 0; offset < plain.size(); offset += kChunk) {
        const Bytes chunk = test::slice(plain, offset, kChunk);
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
    const ChunkPipeline pipeline(direction, KeyMaterial::builtIn(), chunkSize);
    run.outcome = pipeline.run(in, input.size(), out, callbacks, workers);
    return run;
}

TEST(ChunkPipeline, EveryWorkerCountGivesTheSameBytesAndCallbacks) {
    const Bytes plain = test::patternBytes(kChunk * 41 + 23, 1);
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

        const PipelineRun decrypted =
            runPipeline(Direction::Decrypt, expected, kChunk + 16, workers);
        ASSERT_TRUE(decrypted.outcome.succeeded()) << decrypted.outcome.reason;
        EXPECT_EQ(decrypted.output, plain);
    }
}

TEST(ChunkPipeline, CancellationStopsWithinTheChunksInFlight) {
    const Bytes plain = test::patternBytes(kChunk * 30, 2);
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

TEST(ChunkPipeline, ADamagedMiddleChunkIsNamedAndNothingAfterItIsWritten) {
    const Bytes plain = test::patternBytes(kChunk * 12, 4);
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

// The input ends before the size it was given, as a source that shrank does: the run fails
// instead of writing stale buffer bytes as data, in the only chunk or in a later one.
TEST(ChunkPipeline, AnInputShorterThanItsSizeFailsInsteadOfWritingStaleBytes) {
    for (const std::size_t size : {kChunk / 2, kChunk * 6}) {
        const Bytes plain = test::patternBytes(size, 5);
        for (const std::size_t workers : {0, 2}) {
            MemoryInputStream in(test::slice(plain, 0, size - 10));
            Bytes output;
            ByteArrayOutputStream out(output);
            const ChunkPipeline pipeline(Direction::Encrypt, KeyMaterial::builtIn(), kChunk);
            EXPECT_EQ(pipeline.run(in, size, out, {}, workers).status, RunOutcome::Status::Failed);
            EXPECT_LE(output.size(), (size - 1) / kChunk * (kChunk + 16));
        }
    }
}

// The failing device: the run stops at the first write that fails, whether it fails a chunk's
// first byte or one inside it, and reports no progress for the chunk it could not write.
TEST(ChunkPipeline, AFailingWriteStopsTheRun) {
    const Bytes plain = test::patternBytes(kChunk * 20, 6);
    for (const std::size_t workers : {0, 2}) {
        for (const std::size_t capacity :
             {std::size_t{0}, 3 * (kChunk + 16), 3 * (kChunk + 16) + 5}) {
            SCOPED_TRACE(capacity);
            MemoryInputStream in(plain);
            test::FailingOutputStream out(capacity);
            int progressCalls = 0;
            ChunkCallbacks callbacks;
            callbacks.onProgress = [&](std::uint64_t, std::uint64_t) { ++progressCalls; };
            const ChunkPipeline pipeline(Direction::Encrypt, KeyMaterial::builtIn(), kChunk);
            const RunOutcome outcome = pipeline.run(in, plain.size(), out, callbacks, workers);
            EXPECT_EQ(outcome.status, RunOutcome::Status::Failed);
            EXPECT_FALSE(outcome.reason.empty());
            EXPECT_EQ(progressCalls, capacity == 0 ? 0 : 3);
        }
    }
}

} // namespace
} // namespace corvix
