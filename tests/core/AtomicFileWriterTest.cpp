// The atomic writer: what can be seen while it writes, what is left after it commits or gives
// up, and where the file lands when its folder is swapped for a link in the meantime. The
// destinations it refuses are in tests/reliability/FaultInjectionTest.cpp.

#include "Files/AtomicFileWriter.h"

#include "Basics/Encodings.h"
#include "TestKit.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace corvix::test {
namespace {

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
        std::string before; // "", "file" (mode 0640), "link" (to nothing), or "racer": another
                            // writer puts a file there while this one writes
        bool commit;
        std::string file = "out";
    };
    const mode_t umask = ::umask(0);
    ::umask(umask);
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
            fs::permissions(target, static_cast<fs::perms>(0640));
        } else if (row.before == "link") {
            fs::create_symlink("gone", target);
        }
        AtomicFileWriter writer(target.string());
        ASSERT_TRUE(writer.create(0604)) << writer.failure()->message();
        ASSERT_TRUE(put(writer, "new"));
        // A new file has no name until it is whole; a replacement's temporary file is private.
        const auto writing = namesIn(scratch.path());
        EXPECT_EQ(writing.size(), row.before == "file" || row.before == "link" ? 2U : 0U);
        for (const std::string& name : writing) {
            EXPECT_TRUE(name == row.file ||
                        (AtomicFileWriter::isTemporaryName(name) && modeOf(scratch / name) == 0600))
                << name;
        }
        AtomicFileWriter racer(target.string());
        ASSERT_TRUE(row.before != "racer" || (racer.create() && put(racer, "x") && racer.commit()));
        if (row.commit) {
            ASSERT_TRUE(writer.commit()) << writer.failure()->message();
            EXPECT_EQ(modeOf(target), row.before == "file" ? 0640U : 0604U & ~umask);
        } else {
            writer.discard();
        }
        EXPECT_EQ(namesIn(scratch.path()).size(), row.commit || row.before == "file" ? 1U : 0U);
        EXPECT_TRUE(!fs::exists(target) ||
                    readBytes(target) == utf8Bytes(row.commit ? "new" : "earlier"));
    }
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
