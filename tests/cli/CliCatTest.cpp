// corvix-cli cat: a range of the plaintext on standard output, and a file it cannot read.

#include "TestKit.h"

#include <gtest/gtest.h>

namespace corvix {

TEST(CliCat, WritesARangeOrSaysWhyNot) {
    const test::Scratch dir;
    const Bytes plain = test::pattern(2 * 1048576 + 100, 5);
    test::writeFile(dir / "a", plain);
    ASSERT_EQ(test::run({CORVIX_CLI_PATH, "encrypt", "a"}, dir.path()).code, 0);
    const test::Exit range = test::run(
        {CORVIX_CLI_PATH, "cat", "--offset", "1048570", "--length=20", "a.enc"}, dir.path());
    EXPECT_EQ(range.code, 0) << range.err;
    EXPECT_TRUE(range.out == std::string(plain.begin() + 1048570, plain.begin() + 1048590));
    // The largest length there is: the rest of the file, the end not overflowing.
    const test::Exit rest = test::run(
        {CORVIX_CLI_PATH, "cat", "--offset", "1", "--length", "18446744073709551615", "a.enc"},
        dir.path());
    EXPECT_EQ(rest.code, 0) << rest.err;
    EXPECT_TRUE(rest.out == std::string(plain.begin() + 1, plain.end()));
    const test::Exit absent = test::run({CORVIX_CLI_PATH, "cat", "absent.enc"}, dir.path());
    EXPECT_EQ(absent.code, 1);
    EXPECT_EQ(absent.err.find("corvix-cli: absent.enc: cannot open"), 0U) << absent.err;
}

} // namespace corvix
