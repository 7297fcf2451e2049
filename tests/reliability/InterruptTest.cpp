// corvix-cli stopped part-way through a tree that it encrypts into itself, by Ctrl-C or SIGTERM
// (a clean stop) or by SIGKILL, first while it writes new files, then while it replaces the
// last run's outputs. No output is ever torn, an output keeps its earlier bytes until its
// replacement is whole, a clean stop leaves no temporary file and names the files it did not
// start, and the next run over the tree takes no leftover of a killed run as an input.

#include "Files/AtomicFileWriter.h"
#include "Format/FileCipher.h"
#include "TestKit.h"

#include <algorithm>
#include <corvix/CorvixKey.h>
#include <csignal>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>

namespace corvix::test {
namespace {

constexpr unsigned kFiles = 8;

class Interrupt : public testing::TestWithParam<int> {};

TEST_P(Interrupt, LeavesNoTornOutputAndTheNextRunTakesNoLeftover) {
    const Scratch scratch;
    const fs::path tree = scratch / "tree";
    std::vector<Bytes> plain;
    for (unsigned i = 0; i < kFiles; ++i) {
        plain.push_back(pattern(2 * FileFormat::kPlainChunkSize + 123, i));
        writeFile(tree / ("f" + std::to_string(i)), plain[i]);
    }
    const auto output = [&](unsigned i) { return tree / ("f" + std::to_string(i) + ".enc"); };
    const auto inode = [&](unsigned i) {
        struct stat info {};
        return ::stat(output(i).c_str(), &info) == 0 ? info.st_ino : 0;
    };
    const auto temporaryPresent = [&] {
        return std::any_of(fs::directory_iterator(tree), {}, [](const auto& entry) {
            return AtomicFileWriter::isTemporaryName(entry.path().filename().string());
        });
    };
    const std::vector<std::string> command = {CORVIX_CLI_PATH, "encrypt", "-f",  "-j1", "-r",
                                              "tree",          "-o",      "tree"};
    for (const bool replacing : {false, true}) {
        // The run is held still at a known point: its first output written (or replaced), the
        // last but one not yet, so the last file is not started; a replacement is under way
        // when it replaces. A run that ends before it is caught is made again.
        std::optional<Child> child;
        for (int attempt = 0;; ++attempt) {
            ASSERT_LT(attempt, 5) << "the run was never caught in the middle";
            for (unsigned i = 0; !replacing && i < kFiles; ++i) {
                fs::remove(output(i));
            }
            const ino_t first = inode(0), lastButOne = inode(kFiles - 2);
            child.emplace(command, scratch.path());
            if (child->freezeWhen([&] {
                    return inode(0) != first && inode(kFiles - 2) == lastButOne &&
                           (!replacing || temporaryPresent());
                })) {
                break;
            }
        }
        child->signal(GetParam());
        child->signal(SIGCONT);
        const Exit ended = child->wait();
        if (GetParam() == SIGKILL) {
            EXPECT_EQ(ended.signal, SIGKILL);
        } else {
            EXPECT_EQ(ended.code, 130) << ended.err;
            EXPECT_NE(ended.err.find("not started"), std::string::npos) << ended.err;
            EXPECT_FALSE(temporaryPresent());
        }
        for (unsigned i = 0; i < kFiles; ++i) {
            const auto read = FileCipher::decryptToBytes(output(i), *CorvixKey::material());
            EXPECT_TRUE(read ? *read == plain[i] : i > 0 && !replacing && !fs::exists(output(i)))
                << output(i);
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
