// What corvix-cli prints: JSON lines that parse strictly, a progress bar only on a terminal,
// and the same results in the same order whatever the number of jobs.

#include "CliRun.h"
#include "Files.h"
#include "ScratchDir.h"
#include "StrictJson.h"

#include <gtest/gtest.h>

namespace corvix::test {
namespace {

namespace fs = std::filesystem;

std::vector<JsonObject> jsonLines(const std::string& out) {
    std::vector<JsonObject> objects;
    for (const std::string& line : linesOf(out)) {
        const auto object = parseFlatJsonObject(line);
        EXPECT_TRUE(object.has_value()) << "not strict JSON: " << line;
        if (object) {
            objects.push_back(*object);
        }
    }
    return objects;
}

TEST(StrictJsonCheck, RejectsWhatJsonForbids) {
    EXPECT_TRUE(parseFlatJsonObject(R"({"a":"\u00e9\t\\","b":-15,"c":null})"));
    for (const char* bad : {"{\"a\":\"\x01\"}", "{\"a\":\"\xff\"}", "{\"a\":\"\xc0\xaf\"}",
                            R"({"a":"\x"})", R"({"a":"\ud83d"})", R"({"a":01})", R"({"a":1,})",
                            R"({"a":1}x)", R"({"a":1,"a":2})", R"({a:1})", R"({"a":"b)"}) {
        EXPECT_FALSE(parseFlatJsonObject(bad)) << bad;
    }
}

TEST(CliJson, EveryFileGetsOneStrictObject) {
    const ScratchDir folder;
    // Quotes, backslashes, a line break, a tab, a control byte and a byte that is not UTF-8.
    const std::string odd = "we\"ird\\name\nwith\ttab\x01\xff-\xc3\xa9.txt";
    writeText(folder / "in" / odd, "odd");
    writeText(folder / "in/plain.txt", "12345");
    fs::create_symlink("plain.txt", folder / "in/zlink.txt");

    const ProcessResult run =
        runCli({"encrypt", "--json", "-r", "in", "missing", "-o", "out"}, folder.path());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(linesOf(run.err).back(), "2 ok, 1 failed, 1 skipped");
    const auto objects = jsonLines(run.out);
    ASSERT_EQ(objects.size(), 4U);
    for (const JsonObject& object : objects) {
        EXPECT_EQ(object.size(), 5U);
        for (const char* field : {"input", "output", "status", "bytes", "error"}) {
            EXPECT_EQ(object.count(field), 1U) << field;
        }
    }
    EXPECT_EQ(objects[0].at("output"), JsonValue("out/plain.txt.enc"));
    EXPECT_EQ(objects[0].at("bytes"), JsonValue(5.0));
    EXPECT_EQ(objects[1].at("input"),
              JsonValue("in/we\"ird\\name\nwith\ttab\x01\xef\xbf\xbd-\xc3\xa9.txt"));
    EXPECT_EQ(objects[1].at("status"), JsonValue("ok"));
    EXPECT_EQ(objects[1].at("error"), JsonValue(nullptr));
    EXPECT_EQ(objects[2].at("status"), JsonValue("skipped"));
    EXPECT_EQ(objects[2].at("output"), JsonValue(nullptr));
    EXPECT_EQ(objects[3].at("input"), JsonValue("missing"));
    EXPECT_EQ(objects[3].at("status"), JsonValue("failed"));
    EXPECT_EQ(objects[3].at("error"), JsonValue("no such file or folder"));
}

TEST(CliProgress, BarOnlyWhenStderrIsATerminal) {
    const ScratchDir folder;
    writeText(folder / "a.txt", std::string(100000, 'a'));

    const ProcessResult piped = runCli({"encrypt", "a.txt", "-o", "one"}, folder.path());
    EXPECT_EQ(piped.exitCode, 0);
    EXPECT_TRUE(piped.err.empty()) << piped.err;

    const ProcessResult terminal = runCli({"encrypt", "a.txt", "-o", "two"}, folder.path(), true);
    EXPECT_EQ(terminal.exitCode, 0);
    EXPECT_NE(terminal.err.find("1/1 files"), std::string::npos) << terminal.err;
    EXPECT_EQ(terminal.out, "ok a.txt -> two/a.txt.enc\n1 ok, 0 failed, 0 skipped\n");

    const ProcessResult quiet =
        runCli({"encrypt", "-q", "a.txt", "-o", "three"}, folder.path(), true);
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_TRUE(quiet.err.empty() && quiet.out.empty());
}

TEST(CliJobs, ManyJobsGiveWhatOneJobGives) {
    const ScratchDir folder;
    std::string content;
    for (int i = 0; i < 60; ++i) {
        content +=
            std::string(static_cast<std::size_t>(i * 997 % 40000), static_cast<char>('a' + i % 26));
        writeText(folder / ("in/d" + std::to_string(i % 4) + "/f" + std::to_string(i) + ".txt"),
                  content.substr(content.size() / 2));
    }
    ASSERT_EQ(runCli({"encrypt", "-q", "-r", "in", "-o", "enc"}, folder.path()).exitCode, 0);
    // Some inputs of the decrypt run fail, so that failures are ordered too.
    for (int i = 0; i < 60; i += 7) {
        fs::resize_file(
            folder / ("enc/d" + std::to_string(i % 4) + "/f" + std::to_string(i) + ".txt.enc"), 30);
    }

    const ProcessResult one =
        runCli({"decrypt", "--json", "-j", "1", "-r", "enc", "-o", "one"}, folder.path());
    const ProcessResult many =
        runCli({"decrypt", "--json", "-j8", "-r", "enc", "-o", "many"}, folder.path());
    EXPECT_EQ(one.exitCode, 1);
    EXPECT_EQ(many.exitCode, 1);
    EXPECT_EQ(linesOf(one.err).back(), "51 ok, 9 failed, 0 skipped");
    std::string expected = one.out;
    for (std::size_t at = 0; (at = expected.find("\"one/", at)) != std::string::npos;) {
        expected.replace(at, 5, "\"many/");
    }
    EXPECT_EQ(many.out, expected);
    for (const auto& entry : fs::recursive_directory_iterator(folder / "one")) {
        if (!entry.is_regular_file()) {
            continue;
        }
        EXPECT_EQ(readText(entry.path()),
                  readText(folder / "many" / entry.path().lexically_relative(folder / "one")));
    }
}

} // namespace
} // namespace corvix::test
