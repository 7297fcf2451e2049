// A large file with no 0x0D must fail after reading it through a buffer, not one system call
// per byte. Counted with strace rather than timed.

#include "Files.h"
#include "Process.h"
#include "ScratchDir.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace corvix::test {
namespace {

constexpr std::uintmax_t kSparseSize = 64 * 1024 * 1024;

// Sum of the calls of the read family in an `strace -c` summary.
long readCalls(const std::filesystem::path& summary) {
    std::ifstream in(summary);
    std::string line;
    long calls = 0;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::vector<std::string> tokens;
        for (std::string token; fields >> token;) {
            tokens.push_back(token);
        }
        if (tokens.size() >= 5 && (tokens.back() == "read" || tokens.back() == "pread64" ||
                                   tokens.back() == "readv" || tokens.back() == "preadv")) {
            calls += std::stol(tokens[3]);
        }
    }
    return calls;
}

TEST(HeaderScan, SixtyFourMiBWithoutTerminatorFailsInFewReads) {
    ASSERT_TRUE(std::filesystem::exists(CORVIX_STRACE_PATH))
        << "strace is needed for this test; scripts/install-deps.sh installs it";
    ScratchDir scratch;
    const auto big = scratch / "big.enc";
    std::ofstream(big).close();
    std::filesystem::resize_file(big, kSparseSize); // sparse: all zero bytes, no 0x0D
    std::filesystem::create_directory(scratch / "out");
    const auto summary = scratch / "strace.txt";

    // LeakSanitizer cannot run under ptrace; leaks are checked by the other tests.
    const ProcessResult result = runProcess(
        {"env", "ASAN_OPTIONS=detect_leaks=0", CORVIX_STRACE_PATH, "-f", "-c", "-e",
         "trace=read,pread64,readv,preadv", "-o", summary.string(), CORVIX_CLI_PATH, "decrypt",
         "-q", "-o", (scratch / "out").string(), big.string()});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_NE(result.err.find("no header terminator"), std::string::npos) << result.err;
    EXPECT_TRUE(entriesOf(scratch / "out").empty());
    const long calls = readCalls(summary);
    // One read per byte would be 67 million; one per 4 KiB page is the most allowed.
    EXPECT_GT(calls, 0);
    EXPECT_LT(calls, static_cast<long>(kSparseSize / 4096));
    std::cout << "64 MiB without 0x0D: " << calls << " read calls\n";
    RecordProperty("readCalls", static_cast<int>(calls));
}

} // namespace
} // namespace corvix::test
