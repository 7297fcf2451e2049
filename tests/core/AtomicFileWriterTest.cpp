// The atomic writer: what can be seen while it writes, what is left after it commits or gives
// up, and where the file lands when its folder is swapped for a link in the meantime. The
// destinations it refuses are in tests/reliability/FaultInjectionTest.cpp.

#include "Files/AtomicFileWriter.h"

#include "Basics/Encodings.h"
#include "Files/FileInputStream.h"
#include "TestKit.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace corvix::test {
namespace {

// Set before any writer reads it: a new file's mode is what it asks for less this mask.
[[maybe_unused]] const mode_t kEarlierUmask = ::umask(027);

unsigned modeOf(const fs::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool put(AtomicFileWriter& writer, const std::string& text) {
    return writeFully(writer, utf8Bytes(text).data(), text.size()) == text.size();
}

TEST(AtomicFileWriter, WritesWholeOrNotAtAllWithItsOwnModes) {
    struct Case {
        const char* name;
        std::string before; // "", "file" (mode 0604), "link" (to nothing), or "racer": another
                            // writer puts a file there while this one writes
        bool commit;
        std::string file = "out";
    };
    for (const Case& row :
         {Case{"new", "", true}, Case{"new, dropped", "", false}, Case{"replaced", "file", true},
          Case{"replacement, dropped", "file", false},
          Case{"name near the limit", "file", true, std::string(250, 'n')},
          Case{"dangling link", "link", true}, Case{"another writer first", "racer", true}}) {
        SCOPED_TRACE(row.name);
        const Scratch scratch;
        const fs::path target = scratch / row.file;
        if (row.before == "file") {
            writeFile(target, "earlier");
            fs::permissions(target, static_cast<fs::perms>(0604));
        } else if (row.before == "link") {
            fs::create_symlink("gone", target);
        }
        AtomicFileWriter writer(target.string());
        ASSERT_TRUE(writer.create(0664)) << writer.failure()->message();
        ASSERT_TRUE(put(writer, "new"));
        // A new file has no name until it is whole (where the system has unnamed files); a
        // temporary file is private.
        const auto writing = namesIn(scratch.path());
        const bool earlier = row.before == "file" || row.before == "link";
        EXPECT_EQ(writing.size(),
                  (earlier ? 1U : 0U) + (earlier || CORVIX_TEST_PORTABLE_FS ? 1 : 0));
        for (const std::string& name : writing) {
            EXPECT_TRUE(name == row.file ||
                        (AtomicFileWriter::isTemporaryName(name) && modeOf(scratch / name) == 0600))
                << name;
        }
        AtomicFileWriter racer(target.string());
        ASSERT_TRUE(row.before != "racer" || (racer.create() && put(racer, "x") && racer.commit()));
        if (row.commit) {
            ASSERT_TRUE(writer.commit()) << writer.failure()->message();
            EXPECT_EQ(modeOf(target), row.before == "file" ? 0604U : 0640U);
        } else {
            writer.discard();
        }
        EXPECT_EQ(namesIn(scratch.path()).size(), row.commit || row.before == "file" ? 1U : 0U);
        EXPECT_TRUE(!fs::exists(target) ||
                    readBytes(target) == utf8Bytes(row.commit ? "new" : "earlier"));
    }
}

// Below a folder held open, the file layer takes plain names only and follows no link.
TEST(AtomicFileWriter, TakesAPlainNameAndTheInputStreamNoLink) {
    const Scratch scratch;
    writeFile(scratch / "sub/file", "x");
    fs::create_symlink("sub/file", scratch / "link");
    const auto folder = std::make_shared<const OpenFolder>(*OpenFolder::open(scratch.path()));
    for (const char* name : {"", ".", "..", "sub/x", "sub/"}) {
        AtomicFileWriter writer(folder, name, name);
        EXPECT_FALSE(writer.create()) << name;
    }
    EXPECT_EQ(scratch.tree(), (std::vector<std::string>{"link", "sub", "sub/file"}));
    FileInputStream input(*folder, "link", "link");
    const Outcome<> opened = input.open();
    EXPECT_TRUE(!opened && opened.error().code.value() == ELOOP);
}

TEST(AtomicFileWriter, StaysInItsFolderWhenTheFolderIsSwappedForALink) {
    for (const bool replacing : {false, true}) {
        const Scratch scratch;
        fs::create_directories(scratch / "elsewhere");
        writeFile(scratch / "out/other", "");
        if (replacing) {
            writeFile(scratch / "out/x", "earlier");
        }
        AtomicFileWriter writer(
            std::make_shared<const OpenFolder>(*OpenFolder::open(scratch / "out")), "x", "out/x");
        ASSERT_TRUE(writer.create() && put(writer, "data"));
        fs::rename(scratch / "out", scratch / "moved");
        fs::create_directory_symlink("elsewhere", scratch / "out");
        ASSERT_TRUE(writer.commit()) << writer.failure()->message();
        EXPECT_EQ(readBytes(scratch / "moved/x"), utf8Bytes("data"));
        EXPECT_EQ(namesIn(scratch / "moved"), (std::vector<std::string>{"other", "x"}));
        EXPECT_TRUE(fs::is_empty(scratch / "elsewhere"));
    }
}

} // namespace
} // namespace corvix::test
