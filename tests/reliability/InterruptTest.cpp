// corvix-cli stopped part-way through a tree that it encrypts into itself, by Ctrl-C or SIGTERM
// (a clean stop) or by SIGKILL, first while it writes a new file, then while it replaces the
// last run's output. No output is ever torn, an output keeps its earlier bytes until its
// replacement is whole, a clean stop leaves no temporary file and names the files it did not
// start, and the next run over the tree takes no leftover of a killed run as an input.

#include "Files/AtomicFileWriter.h"
#include "Format/FileCipher.h"
#include "TestKit.h"

#include <algorithm>
#include <chrono>
#include <corvix/CorvixKey.h>
#include <csignal>
#include <gtest/gtest.h>
#include <thread>

namespace corvix::test {
namespace {

class Interrupt : public testing::TestWithParam<int> {};

TEST_P(Interrupt, LeavesNoTornOutputAndTheNextRunTakesNoLeftover) {
    const Scratch scratch;
    const fs::path tree = scratch / "tree";
    std::vector<Bytes> plain;
    for (unsigned i = 0; i < 8; ++i) {
        plain.push_back(pattern(8 * FileFormat::kPlainChunkSize + 123, i));
        writeFile(tree / ("f" + std::to_string(i)), std::string(plain[i].begin(), plain[i].end()));
    }
    const auto temporaryPresent = [&] {
        return std::any_of(fs::directory_iterator(tree), {}, [](const auto& entry) {
            return AtomicFileWriter::isTemporaryName(entry.path().filename().string());
        });
    };
    const std::vector<std::string> command = {CORVIX_CLI_PATH, "encrypt", "-f",  "-j1", "-r",
                                              "tree",          "-o",      "tree"};
    for (const bool replacing : {false, true}) {
        Child child(command, scratch.path());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!(replacing ? temporaryPresent() : fs::exists(tree / "f0.enc")) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(replacing ? 0 : 2)); // into f1
        child.signal(GetParam());
        const Exit ended = child.wait();
        if (GetParam() == SIGKILL) {
            EXPECT_EQ(ended.signal, SIGKILL);
        } else {
            EXPECT_EQ(ended.code, 130) << ended.err;
            EXPECT_NE(ended.err.find("not started"), std::string::npos) << ended.err;
            EXPECT_FALSE(temporaryPresent());
        }
        for (unsigned i = 0; i < 8; ++i) {
            const fs::path output = tree / ("f" + std::to_string(i) + ".enc");
            const auto read = FileCipher::decryptToBytes(output, *CorvixKey::material());
            EXPECT_TRUE(read ? *read == plain[i] : i > 0 && !replacing && !fs::exists(output))
                << output;
        }
        const Exit again = run(command, scratch.path());
        EXPECT_EQ(again.code, 0) << again.err;
        EXPECT_EQ(again.out.find(".part"), std::string::npos) << again.out;
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, Interrupt, testing::Values(SIGINT, SIGTERM, SIGKILL),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

} // namespace
} // namespace corvix::test
