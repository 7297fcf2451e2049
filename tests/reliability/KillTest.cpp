// corvix-cli killed with SIGKILL at random moments while it encrypts or decrypts an 8 MiB file.
// Whatever the moment, the destination is absent, the earlier file byte for byte, or the
// complete output; a killed run leaves at most a hidden temporary file, and the next run over
// the same destination succeeds beside it.

#include "Crypto/FileCipher.h"
#include "EncryptedFiles.h"
#include "Files.h"
#include "Process.h"
#include "ScratchDir.h"

#include <chrono>
#include <gtest/gtest.h>
#include <iostream>
#include <random>
#include <set>
#include <thread>

namespace corvix::test {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kSourceSize = 8 * FileCipher::kPlainChunkSize + 123;
constexpr int kRuns = 50;

struct Tally {
    int absent = 0;
    int earlier = 0;
    int complete = 0;
    int killedMidWrite = 0; // a temporary file was seen just before the kill
};

class KillTest : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        plain = patternBytes(kSourceSize, 9);
        writeFile(scratch / "big", plain);
        ASSERT_TRUE(encryptWithBuiltInKey(scratch / "big", scratch / "big.enc"));
        encrypted = readFile(scratch / "big.enc");
        std::filesystem::create_directory(out);
    }

    [[nodiscard]] bool encrypting() const { return GetParam() == "encrypt"; }
    [[nodiscard]] std::filesystem::path destination() const {
        return out / (encrypting() ? "big.enc" : "big");
    }
    [[nodiscard]] const Bytes& expected() const { return encrypting() ? encrypted : plain; }

    // Its output goes to /dev/null, so nothing blocks when it is killed mid-run.
    [[nodiscard]] Process command() const {
        const auto source = scratch / (encrypting() ? "big" : "big.enc");
        ProcessOptions uncaptured;
        uncaptured.captureOutput = false;
        return Process(
            {CORVIX_CLI_PATH, GetParam(), "-f", "-q", "-o", out.string(), source.string()},
            uncaptured);
    }

    // Largest size among the temporary files now in the output folder.
    [[nodiscard]] std::uintmax_t temporarySize() const {
        std::uintmax_t largest = 0;
        for (const auto& name : temporaryFiles(out)) {
            std::error_code error;
            const auto size = std::filesystem::file_size(out / name, error);
            if (!error) {
                largest = std::max(largest, size);
            }
        }
        return largest;
    }

    // Waits until a temporary file holds at least `bytes` (a whole one is still waiting for its
    // flush and rename), or the child ends; true when it did.
    [[nodiscard]] bool waitForTemporaryOf(std::uintmax_t bytes, Process& child) const {
        while (!child.hasEnded()) {
            const auto size = temporarySize();
            if (size >= bytes) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        return false;
    }

    ScratchDir scratch;
    std::filesystem::path out = scratch / "out";
    Bytes plain;
    Bytes encrypted;
};

TEST_P(KillTest, KilledRunLeavesTheEarlierFileOrTheWholeOutputAndTheNextRunSucceeds) {
    // How long one whole run takes here (sanitizers and load change it a lot).
    auto slowest = Clock::duration::zero();
    for (int i = 0; i < 2; ++i) {
        const auto started = Clock::now();
        Process whole = command();
        whole.start();
        ASSERT_EQ(whole.wait().exitCode, 0);
        slowest = std::max(slowest, Clock::now() - started);
    }
    ASSERT_EQ(readFile(destination()), expected());

    std::mt19937_64 generator(std::random_device{}());
    const auto span = std::chrono::duration_cast<std::chrono::microseconds>(slowest * 13 / 10);
    std::uniform_int_distribution<std::int64_t> delay(0, span.count());
    std::uniform_int_distribution<std::uintmax_t> fill(1, expected().size() - 1);
    Tally tally;
    for (int run = 0; run < kRuns; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        const bool hadEarlier = run % 2 == 0;
        const Bytes earlier{'e', 'a', 'r', 'l', 'i', 'e', 'r', static_cast<std::uint8_t>(run)};
        if (hadEarlier) {
            writeFile(destination(), earlier);
        } else {
            std::filesystem::remove(destination());
        }

        Process child = command();
        child.start();
        // Half the runs die at a random moment, half once their temporary file holds some bytes.
        if (run % 4 < 2) {
            std::this_thread::sleep_for(std::chrono::microseconds(delay(generator)));
        } else if (waitForTemporaryOf(fill(generator), child)) {
            ++tally.killedMidWrite;
        }
        child.kill();
        const ProcessResult ended = child.wait();
        if (ended.signal == 0) {
            EXPECT_EQ(ended.exitCode, 0) << "a run that was not killed failed";
        }

        const auto now = readIfPresent(destination());
        if (!now) {
            EXPECT_FALSE(hadEarlier) << "the earlier file is gone";
            ++tally.absent;
        } else if (*now == expected()) {
            ++tally.complete;
        } else {
            EXPECT_TRUE(hadEarlier && *now == earlier)
                << "a torn destination of " << now->size() << " bytes";
            ++tally.earlier;
        }
        EXPECT_EQ(entriesOf(out).size(), temporaryFiles(out).size() + (now ? 1U : 0U))
            << "a file other than the destination and hidden temporary files";
        if (HasFailure()) {
            return;
        }
    }

    // The next run replaces the destination and leaves the killed runs' leftovers alone.
    const auto leftovers = temporaryFiles(out);
    Process last = command();
    last.start();
    EXPECT_EQ(last.wait().exitCode, 0);
    EXPECT_EQ(readFile(destination()), expected());
    EXPECT_EQ(temporaryFiles(out), leftovers);

    EXPECT_GT(tally.killedMidWrite, 0) << "no run was caught with its temporary file";
    std::cout << "corvix-cli " << GetParam() << ": " << kRuns << " runs killed (whole run "
              << std::chrono::duration_cast<std::chrono::milliseconds>(slowest).count()
              << " ms): destination absent " << tally.absent << ", earlier file " << tally.earlier
              << ", complete output " << tally.complete << "; killed beside a temporary file "
              << tally.killedMidWrite << "; hidden temporary files left " << leftovers.size()
              << "\n";
    RecordProperty("absent", tally.absent);
    RecordProperty("earlier", tally.earlier);
    RecordProperty("complete", tally.complete);
    RecordProperty("leftovers", static_cast<int>(leftovers.size()));
}

INSTANTIATE_TEST_SUITE_P(Cli, KillTest, ::testing::Values("encrypt", "decrypt"),
                         [](const auto& info) { return info.param; });

} // namespace
} // namespace corvix::test
