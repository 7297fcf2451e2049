// corvix-cli cat: ranges of the plaintext on standard output, up to the top of the 64-bit range,
// and a file it cannot read.

#include "TestKit.h"

#include <gtest/gtest.h>

namespace corvix {

TEST(CliCat, WritesARangeOrSaysWhyNot) {
    const test::Scratch dir;
    const Bytes plain = test::pattern(2 * 1048576 + 100, 5);
    test::writeFile(dir / "a", plain);
    ASSERT_EQ(test::run({CORVIX_CLI_PATH, "encrypt", "a"}, dir.path()).code, 0);
    const std::string max = "18446744073709551615";
    // A row: the options, then where the range starts in the plaintext and how long it is.
    const std::vector<std::tuple<std::vector<std::string>, std::size_t, std::size_t>> rows = {
        {{"--offset", "1048570", "--length=20"}, 1048570, 20},
        {{}, 0, plain.size()},
        {{"--offset", "1", "--length", max}, 1, plain.size() - 1},
        {{"--offset=" + max, "--length", "5"}, plain.size(), 0},
        {{"--length", "0"}, 0, 0},
    };
    for (auto [command, from, count] : rows) {
        const std::string name = command.empty() ? "whole" : command[0] + " " + command[1];
        command.insert(command.begin(), {CORVIX_CLI_PATH, "cat"});
        command.push_back("a.enc");
        const test::Exit range = test::run(command, dir.path());
        EXPECT_EQ(range.code, 0) << name << range.err;
        EXPECT_TRUE(range.out ==
                    std::string(plain.begin() + static_cast<std::ptrdiff_t>(from),
                                plain.begin() + static_cast<std::ptrdiff_t>(from + count)))
            << name;
    }
    const test::Exit absent = test::run({CORVIX_CLI_PATH, "cat", "absent.enc"}, dir.path());
    EXPECT_EQ(absent.code, 1);
    EXPECT_EQ(absent.err.find("corvix-cli: absent.enc: cannot open"), 0U) << absent.err;
}

} // namespace corvix
