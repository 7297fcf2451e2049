#include "Crypto/AtomicFileWriter.h"

#include "Files.h"
#include "Key/Encodings.h"
#include "ScratchDir.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace corvix {
namespace {

using test::ScratchDir;
namespace fs = std::filesystem;

bool writeAll(AtomicFileWriter& writer, const Bytes& data) {
    return writeFully(writer, data.data(), data.size()) == data.size();
}

TEST(AtomicFileWriter, WritesBesideTheDestinationAndRenamesOnCommit) {
    const ScratchDir dir;
    AtomicFileWriter writer(dir.file("out.enc"));
    ASSERT_TRUE(writer.create());
    const fs::path temporary(writer.temporaryPath());
    EXPECT_EQ(temporary.parent_path(), dir.path());
    EXPECT_TRUE(temporary.filename().string().starts_with(".out.enc."));
    EXPECT_TRUE(temporary.filename().string().ends_with(".part"));
    EXPECT_FALSE(fs::exists(dir / "out.enc")) << "nothing at the destination before commit";

    const Bytes data = test::patternBytes(1000);
    ASSERT_TRUE(writeAll(writer, data));
    ASSERT_TRUE(writer.commit());
    EXPECT_EQ(test::readFile(dir / "out.enc"), data);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"out.enc"});
}

TEST(AtomicFileWriter, AReplacedFileKeepsItsPermissions) {
    const ScratchDir dir;
    const fs::perms mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    test::writeFile(dir / "out", test::patternBytes(5000));
    fs::permissions(dir / "out", mode);
    AtomicFileWriter writer(dir.file("out"));
    ASSERT_TRUE(writer.create());
    ASSERT_TRUE(writeAll(writer, {2}));
    ASSERT_TRUE(writer.commit());
    EXPECT_EQ(test::readFile(dir / "out"), Bytes{2});
    EXPECT_EQ(fs::status(dir / "out").permissions(), mode);
}

// A name close to the 255-byte limit leaves no room for the dot and suffix of the temporary
// file; the temporary name is shortened, on a UTF-8 boundary, instead of failing the run.
TEST(AtomicFileWriter, NamesNearTheLengthLimit) {
    const ScratchDir dir;
    std::string wide;
    for (int i = 0; i < 84; ++i) {
        wide += "文"; // 3 bytes each: 252 bytes
    }
    for (const std::string& name : {std::string(250, 'n') + ".enc", wide}) {
        AtomicFileWriter writer(dir.file(name));
        ASSERT_TRUE(writer.create()) << writer.error().message();
        const std::string temporary = fs::path(writer.temporaryPath()).filename().string();
        EXPECT_LE(temporary.size(), 255U);
        EXPECT_TRUE(utf8Text(Bytes(temporary.begin(), temporary.end())));
        ASSERT_TRUE(writeAll(writer, {1}));
        ASSERT_TRUE(writer.commit()) << writer.error().message();
        EXPECT_EQ(test::readFile(dir / name), Bytes{1});
    }
    EXPECT_EQ(dir.entries().size(), 2U);
}

TEST(AtomicFileWriter, TwoWritersToOneDestinationUseTwoTemporaryFiles) {
    const ScratchDir dir;
    AtomicFileWriter first(dir.file("out"));
    AtomicFileWriter second(dir.file("out"));
    ASSERT_TRUE(first.create());
    ASSERT_TRUE(second.create());
    EXPECT_NE(first.temporaryPath(), second.temporaryPath());
    ASSERT_TRUE(writeAll(first, {1}));
    ASSERT_TRUE(writeAll(second, {2}));
    ASSERT_TRUE(first.commit());
    ASSERT_TRUE(second.commit());
    EXPECT_EQ(test::readFile(dir / "out"), Bytes{2});
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"out"});
}

} // namespace
} // namespace corvix
