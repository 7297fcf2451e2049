// The chunk pipeline gives the same bytes, callbacks and chunk digests whatever the backend, the
// number of cipher threads and the buffers it may use, with several runs sharing them at once;
// and it stops where it should. Chunks of 64 KiB are the smallest that the multi-buffer backend
// runs in its lanes (it leaves a smaller chunk alone to OpenSSL) and take two pieces there.

#include "Format/ChunkPipeline.h"

#include "Basics/Encodings.h"
#include "Files/FileInputStream.h"
#include "Files/Streams.h"
#include "TestKit.h"

#include <algorithm>
#include <corvix/AESUtils.h>
#include <corvix/CorvixKey.h>
#include <gtest/gtest.h>
#include <thread>

namespace corvix {
namespace {

using enum ChunkCipher::Direction;
constexpr std::size_t kChunk = 65536, kSealed = kChunk + 16;

struct Record {
    corvix::Outcome<> run;
    Bytes output;
    std::vector<std::uint64_t> progress; // 0 for a call with another total
    std::size_t questions = 0;
    Bytes digests; // the chunk digests heard of, one after another
};

// Rows: a backend, and the number of cipher threads and of buffers.
class Pipeline : public testing::TestWithParam<
                     std::tuple<const CipherBackend*, std::pair<std::size_t, std::size_t>>> {
protected:
    // The reference: each chunk encrypted on its own by the one-shot operation.
    static Bytes chunkByChunk(const Bytes& plain) {
        Bytes sealed;
        for (std::size_t at = 0; at < plain.size(); at += kChunk) {
            const Bytes rest(plain.begin() + at, plain.end());
            const auto piece =
                AESUtils::encryptBytes(rest, std::min<std::ptrdiff_t>(kChunk, std::ssize(rest)),
                                       CorvixKey::aesKey(), CorvixKey::ivBytes());
            sealed.insert(sealed.end(), piece->begin(), piece->end());
        }
        return sealed;
    }

    // Runs `inputs`, each announced as `more` bytes longer than it is, through a pipeline of this
    // row as one batch, into memory or `sink`; each shouldCancel says yes at its `cancelAt`-th
    // question.
    std::vector<Record> runAll(ChunkCipher::Direction direction, const std::vector<Bytes>& inputs,
                               OutputStream* sink = nullptr, std::size_t cancelAt = 0,
                               std::uint64_t more = 0) {
        std::vector<Record> results(inputs.size());
        std::vector<ChunkCallbacks> callbacks;
        std::vector<FileInputStream> ins;
        std::vector<ByteArrayOutputStream> memory;
        std::vector<ChunkRun> runs;
        ins.reserve(inputs.size()), memory.reserve(inputs.size()), callbacks.reserve(inputs.size());
        // A callback on another thread spoils the record: progress 0, a thousand questions.
        const auto caller = std::this_thread::get_id();
        const auto here = [caller] { return std::this_thread::get_id() == caller; };
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            Record& result = results[i];
            const std::uint64_t total = inputs[i].size() + more;
            callbacks.push_back(
                {[&result, total, here](std::uint64_t done, std::uint64_t all) {
                     result.progress.push_back(all == total && here() ? done : 0);
                 },
                 [&result, here, cancelAt] {
                     return (result.questions += here() ? 1 : 1000) == cancelAt;
                 },
                 [&result, here](std::size_t length, const Bytes& digest) {
                     result.digests.insert(result.digests.end(), digest.begin(), digest.end());
                     result.digests.resize(result.digests.size() + (here() ? 0 : length));
                 }});
            const auto path = scratch / (std::to_string(std::hash<std::thread::id>{}(caller)) +
                                         "_" + std::to_string(i));
            test::writeFile(path, inputs[i]);
            EXPECT_TRUE(ins.emplace_back(path.string()).open());
            memory.emplace_back(result.output);
            runs.push_back({ins.back(), total, sink ? *sink : memory.back(), callbacks.back()});
        }
        const ChunkPipeline pipeline(direction, *CorvixKey::material(), kChunk,
                                     *std::get<0>(GetParam()));
        pipeline.runEach(runs, pool, buffers);
        for (std::size_t i = 0; i < runs.size(); ++i) {
            results[i].run = runs[i].outcome;
        }
        return results;
    }

    Record run(ChunkCipher::Direction direction, const Bytes& input, std::uint64_t total,
               OutputStream* sink = nullptr, std::size_t cancelAt = 0) {
        return runAll(direction, {input}, sink, cancelAt, total - input.size()).front();
    }

    test::Scratch scratch;
    CipherPool pool{std::get<1>(GetParam()).first};
    ChunkBuffers buffers{std::get<1>(GetParam()).second};
};

// Runs at once, each both ways: a question before every chunk and one more after the last, and
// progress after each chunk with the bytes consumed so far. A row is one thread's batch of input
// sizes; small inputs in a batch share the lanes, more of them than there are buffers.
const std::vector<std::vector<std::size_t>> kBatches = {
    {20 * kChunk + 7},
    {40 * kChunk + 7},
    {60 * kChunk + 7},
    {0,           1,          15,     16,    17,    31,         32,
     100,         1000,       4096,   16384, 16385, kChunk / 2, kChunk - 17,
     kChunk - 16, kChunk - 1, kChunk, 33,    3,     kChunk - 2}};

TEST_P(Pipeline, GivesTheSameBytesAndCallbacksWhileRunsShareIt) {
    ASSERT_EQ(kBatches.size(), 4U);
    std::vector<std::jthread> runs;
    for (const std::vector<std::size_t>& sizes : kBatches) {
        runs.emplace_back([this, &sizes] {
            std::vector<Bytes> plain, sealed;
            for (const std::size_t size : sizes) {
                plain.push_back(test::pattern(size, size % 251));
                sealed.push_back(chunkByChunk(plain.back()));
            }
            for (const auto& [direction, inputs, outputs, piece] :
                 {std::tuple{Encrypt, &plain, &sealed, kChunk},
                  {Decrypt, &sealed, &plain, kSealed}}) {
                const std::vector<Record> results = runAll(direction, *inputs);
                for (std::size_t i = 0; i < sizes.size(); ++i) {
                    SCOPED_TRACE(sizes[i]);
                    const Record& result = results[i];
                    const std::size_t size = (*inputs)[i].size();
                    EXPECT_TRUE(result.run.ok()) << result.run.error().message();
                    EXPECT_EQ(result.output, (*outputs)[i]);
                    EXPECT_EQ(result.questions, (size + piece - 1) / piece + 1);
                    std::vector<std::uint64_t> steps((size + piece - 1) / piece);
                    std::ranges::generate(steps, [&, done = std::size_t{0}]() mutable {
                        return done = std::min(done + piece, size);
                    });
                    EXPECT_EQ(result.progress, steps);
                    // Encrypting, each chunk's SHA-256 in order, on the calling thread.
                    Bytes digests;
                    const Bytes& ciphertext = sealed[i];
                    for (std::size_t at = 0; direction == Encrypt && at < ciphertext.size();
                         at += kSealed) {
                        const Bytes digest = sha256(ciphertext.data() + at,
                                                    std::min(kSealed, ciphertext.size() - at));
                        digests.insert(digests.end(), digest.begin(), digest.end());
                    }
                    EXPECT_EQ(result.digests, digests);
                }
            }
        });
    }
    runs.clear(); // joined
    // However many chunks were queued, the budget is what it was: every buffer back, no more.
    const std::size_t budget = std::get<1>(GetParam()).second;
    std::vector<ChunkBuffers::Lease> held;
    while (auto lease = held.size() <= budget ? buffers.tryTake(1) : std::nullopt) {
        held.push_back(std::move(*lease));
    }
    EXPECT_EQ(held.size(), budget);
}

TEST_P(Pipeline, StopsWithinTheChunksInFlight) {
    const Bytes plain = test::pattern(kChunk * 30, 2);
    const Bytes sealed = chunkByChunk(plain);
    // Cancelled at the tenth question: nine chunks at most were read, and what was written is a
    // prefix of the whole output.
    const Record cancelled = run(Encrypt, plain, plain.size(), nullptr, 10);
    EXPECT_TRUE(!cancelled.run && cancelled.run.error().code == Errc::cancelled &&
                cancelled.questions == 10);
    EXPECT_EQ(cancelled.output, copyPrefix(std::min(cancelled.output.size(), 9 * kSealed), sealed));

    // A damaged seventh chunk is named, and only the six before it are written.
    Bytes damaged = sealed;
    damaged[6 * kSealed + kChunk + 15] ^= 0x55;
    const Record broken = run(Decrypt, damaged, damaged.size());
    EXPECT_TRUE(!broken.run && broken.run.error().reason.starts_with("chunk 7 "));
    EXPECT_EQ(broken.output, copyPrefix(6 * kChunk, plain));

    // An input shorter than its size fails, in the only chunk or a later one, and no stale
    // buffer bytes are written as data.
    for (const std::size_t size : {kChunk / 2, kChunk * 6}) {
        const Record shorter = run(Encrypt, copyPrefix(size - 10, plain), size);
        EXPECT_FALSE(shorter.run.ok()) << size;
        EXPECT_LE(shorter.output.size(), (size - 1) / kChunk * kSealed);
    }

    // The failing device stops the run at a chunk's first byte or inside it; the chunk it
    // could not write gets no progress.
    for (const std::size_t capacity : {0UL, 3 * kSealed, 3 * kSealed + 5}) {
        test::FailingOutputStream device(capacity);
        const Record failed = run(Encrypt, plain, plain.size(), &device);
        EXPECT_FALSE(failed.run.ok());
        EXPECT_EQ(failed.progress.size(), capacity ? 3U : 0U) << capacity;
    }
}

// Every backend: everything on the calling thread; one buffer for all (the runs wait for it);
// fewer buffers than runs and threads; plenty of both.
const std::pair<std::size_t, std::size_t> kSharing[] = {{0, 16}, {1, 1}, {3, 2}, {8, 16}};

std::string rowName(const testing::TestParamInfo<Pipeline::ParamType>& info) {
    const auto& [backend, sharing] = info.param;
    return std::string(backend->name) + "_" + std::to_string(sharing.first) + "threads_" +
           std::to_string(sharing.second) + "buffers";
}

INSTANTIATE_TEST_SUITE_P(Backends, Pipeline,
                         testing::Combine(testing::ValuesIn(CipherBackends::all()),
                                          testing::ValuesIn(kSharing)),
                         rowName);

} // namespace
} // namespace corvix
