// corvix-cli encrypt and decrypt over files and folders: per-file outcomes, exit codes, tree
// mirroring, existing outputs, and the folder that outputs must never leave.

#include "CliRun.h"
#include "Crypto/FileCipher.h"
#include "Files.h"
#include "Key/CorvixKey.h"
#include "Key/KeyMaterial.h"
#include "ScratchDir.h"

#include <chrono>
#include <gtest/gtest.h>

namespace corvix::test {
namespace {

namespace fs = std::filesystem;

bool mentions(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string decrypted(const fs::path& path) {
    const auto plain =
        FileCipher::decryptToBytes(path.string(), KeyMaterial::builtIn());
    return plain ? std::string(plain->begin(), plain->end()) : "<does not decrypt>";
}

TEST(CliUsage, BadUsageExitsWithTwo) {
    const ScratchDir folder;
    const std::vector<std::vector<std::string>> wrong = {
        {},
        {"shred", "a"},
        {"encrypt"},
        {"encrypt", "--frobnicate", "a"},
        {"encrypt", "-o"},
        {"encrypt", "-r", "a"},       // no -o to mirror under
        {"encrypt", "-f", "-u", "a"}, // replace and update at once
        {"encrypt", "-j", "0", "a"},
        {"decrypt", "-jx", "a"},
        {"verify", "-o", "out", "a.enc"}, // verify writes nothing
        {"key", "extra"},
    };
    for (const auto& args : wrong) {
        const ProcessResult run = runCli(args, folder.path());
        EXPECT_EQ(run.exitCode, 2) << (args.empty() ? "" : args[0]);
        EXPECT_TRUE(run.out.empty());
        EXPECT_TRUE(mentions(run.err, "corvix-cli: "));
    }
    const ProcessResult help = runCli({"--help"}, folder.path());
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(mentions(help.out, "exit status: 0"));
}

TEST(CliFiles, MixedInputsReportEachFileAndExitWithOne) {
    const ScratchDir folder;
    writeText(folder / "a.txt", "alpha");
    writeText(folder / "b.json", "{}");
    fs::create_directory(folder / "assets");

    const ProcessResult run =
        runCli({"encrypt", "a.txt", "missing.png", "assets", "b.json", "-o", "out"}, folder.path());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(linesOf(run.out),
              (std::vector<std::string>{"ok a.txt -> out/a.txt.enc", "ok b.json -> out/b.json.enc",
                                        "2 ok, 2 failed, 0 skipped"}));
    EXPECT_EQ(linesOf(run.err),
              (std::vector<std::string>{"corvix-cli: missing.png: no such file or folder",
                                        "corvix-cli: assets: is a folder (-r walks it)"}));
    EXPECT_EQ(decrypted(folder / "out/a.txt.enc"), "alpha");

    // Without -o the output goes beside its input; a name without .enc has no output name.
    const ProcessResult back = runCli({"decrypt", "out/a.txt.enc", "a.txt"}, folder.path());
    EXPECT_EQ(back.exitCode, 1);
    EXPECT_EQ(readText(folder / "out/a.txt"), "alpha");
    EXPECT_TRUE(mentions(back.err, "a.txt: name does not end in .enc"));

    const ProcessResult good = runCli({"decrypt", "-q", "out/b.json.enc"}, folder.path());
    EXPECT_EQ(good.exitCode, 0);
    EXPECT_TRUE(good.out.empty() && good.err.empty());
}

TEST(CliFiles, RecursiveRunMirrorsTheTreeAndSkipsLinks) {
    const ScratchDir folder;
    writeText(folder / "assets/top.txt", "top");
    writeText(folder / "assets/img/deep/er/logo.png", "png");
    writeText(folder / "assets/img/.hidden.json", "hidden");
    writeText(folder / "elsewhere/secret.txt", "secret");
    fs::create_symlink("../top.txt", folder / "assets/img/link.txt");
    fs::create_symlink("../../elsewhere", folder / "assets/img/linked-folder");
    fs::create_directory(folder / "assets/empty");

    const ProcessResult run = runCli({"encrypt", "-r", "assets", "-o", "out"}, folder.path());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(linesOf(run.out),
              (std::vector<std::string>{
                  "ok assets/img/.hidden.json -> out/img/.hidden.json.enc",
                  "ok assets/img/deep/er/logo.png -> out/img/deep/er/logo.png.enc",
                  "skipped assets/img/link.txt: symbolic link, not followed",
                  "skipped assets/img/linked-folder: symbolic link, not followed",
                  "ok assets/top.txt -> out/top.txt.enc", "3 ok, 0 failed, 2 skipped"}));
    EXPECT_EQ(decrypted(folder / "out/img/deep/er/logo.png.enc"), "png");
    EXPECT_FALSE(fs::exists(folder / "out/img/link.txt.enc"));
    EXPECT_FALSE(fs::exists(folder / "out/img/linked-folder"));

    // Decrypting takes only the .enc files of the tree and mirrors it back.
    writeText(folder / "out/notes.md", "not encrypted");
    const ProcessResult back = runCli({"decrypt", "-r", "out", "-o", "back"}, folder.path());
    EXPECT_EQ(back.exitCode, 0) << back.err;
    EXPECT_EQ(readText(folder / "back/img/deep/er/logo.png"), "png");
    EXPECT_EQ(readText(folder / "back/top.txt"), "top");
    EXPECT_FALSE(fs::exists(folder / "back/notes.md"));
    EXPECT_FALSE(fs::exists(folder / "back/notes"));
}

TEST(CliFiles, NothingIsWrittenOutsideTheOutputFolder) {
    const ScratchDir folder;
    writeText(folder / "in/top.txt", "top");
    writeText(folder / "in/sub/inner.txt", "inner");
    ASSERT_EQ(runCli({"encrypt", "in/top.txt", "in/sub/inner.txt"}, folder.path()).exitCode, 0);
    // Names that would decrypt to "." or "..": no file name below the output folder.
    writeText(folder / "in/..enc", "x");
    writeText(folder / "in/...enc", "x");
    // A folder on the way that is a link to somewhere else.
    fs::create_directories(folder / "outside");
    fs::create_directories(folder / "out");
    fs::create_symlink("../outside", folder / "out/sub");

    const ProcessResult run = runCli({"decrypt", "-r", "in", "-o", "out"}, folder.path());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(mentions(run.err, "in/..enc: name would decrypt to '.'"));
    EXPECT_TRUE(mentions(run.err, "in/...enc: name would decrypt to '..'"));
    EXPECT_TRUE(mentions(run.err, "in/sub/inner.txt.enc: out/sub is a symbolic link"));
    EXPECT_EQ(readText(folder / "out/top.txt"), "top");
    EXPECT_TRUE(fs::is_empty(folder / "outside"));
    EXPECT_EQ(folder.entries(), (std::vector<std::string>{"in", "out", "outside"}));
}

TEST(CliFiles, EarlierOutputsInsideTheTreeAreNoInputs) {
    const ScratchDir folder;
    writeText(folder / "assets/a.txt", "a");
    // The output folder inside the walked tree, and the tree as its own output folder.
    for (const char* output : {"assets/enc", "assets"}) {
        ASSERT_EQ(runCli({"encrypt", "-r", "assets", "-o", output}, folder.path()).exitCode, 0);
        const ProcessResult again =
            runCli({"encrypt", "-r", "-u", "assets", "-o", output}, folder.path());
        EXPECT_EQ(again.exitCode, 0) << again.err;
        EXPECT_EQ(linesOf(again.out).back(), "0 ok, 0 failed, 1 skipped") << output;
    }
    EXPECT_FALSE(fs::exists(folder / "assets/enc/enc"));
    EXPECT_FALSE(fs::exists(folder / "assets/a.txt.enc.enc"));
}

TEST(CliFiles, ExistingOutputsAreRefusedReplacedOrUpdated) {
    const ScratchDir folder;
    writeText(folder / "a.txt", "first");
    ASSERT_EQ(runCli({"encrypt", "a.txt"}, folder.path()).exitCode, 0);
    writeText(folder / "a.txt", "second");

    const ProcessResult refused = runCli({"encrypt", "a.txt"}, folder.path());
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(mentions(refused.err, "a.txt.enc exists (-f replaces it"));
    EXPECT_EQ(decrypted(folder / "a.txt.enc"), "first");

    // The output is newer than the input, so -u leaves it alone.
    const auto now = fs::file_time_type::clock::now();
    fs::last_write_time(folder / "a.txt", now - std::chrono::hours(1));
    fs::last_write_time(folder / "a.txt.enc", now);
    const ProcessResult upToDate = runCli({"encrypt", "-u", "a.txt"}, folder.path());
    EXPECT_EQ(upToDate.exitCode, 0);
    EXPECT_EQ(linesOf(upToDate.out).front(), "skipped a.txt: output a.txt.enc is up to date");
    EXPECT_EQ(decrypted(folder / "a.txt.enc"), "first");

    fs::last_write_time(folder / "a.txt", now + std::chrono::hours(1));
    EXPECT_EQ(runCli({"encrypt", "--update", "a.txt"}, folder.path()).exitCode, 0);
    EXPECT_EQ(decrypted(folder / "a.txt.enc"), "second");

    writeText(folder / "a.txt", "third");
    EXPECT_EQ(runCli({"encrypt", "-f", "a.txt"}, folder.path()).exitCode, 0);
    EXPECT_EQ(decrypted(folder / "a.txt.enc"), "third");
}

TEST(CliFiles, TwoInputsForOneOutputDoNotRace) {
    const ScratchDir folder;
    writeText(folder / "x/a.txt", "x");
    writeText(folder / "y/a.txt", "y");
    const ProcessResult run = runCli({"encrypt", "x/a.txt", "y/a.txt", "-o", "out"}, folder.path());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(mentions(run.err, "y/a.txt: output out/a.txt.enc is also the output of x/a.txt"));
    EXPECT_EQ(decrypted(folder / "out/a.txt.enc"), "x");
}

TEST(CliVersion, FingerprintMatchesTheLibraryAndOpenssl) {
    const ScratchDir folder;
    const ProcessResult run = runCli({"--version"}, folder.path());
    ASSERT_EQ(run.exitCode, 0);
    const auto lines = linesOf(run.out);
    ASSERT_EQ(lines.size(), 2U);
    EXPECT_EQ(lines[0], std::string("corvix-cli ") + CORVIX_VERSION);
    EXPECT_EQ(lines[1], "key fingerprint: " + CorvixKey::fingerprint());

    // Independently: SHA-256 of the key bytes that `corvix-cli key` prints, by the openssl tool.
    const ProcessResult openssl = runProcess(
        {"bash", "-c",
         "K=$('" CORVIX_CLI_PATH "' key | sed -n 's/^key://p'); printf \"$(echo \"$K\" | "
         "sed 's/../\\\\x&/g')\" | openssl dgst -sha256 -r | cut -c1-16"});
    EXPECT_EQ(openssl.out, CorvixKey::fingerprint() + "\n") << openssl.err;
}

} // namespace
} // namespace corvix::test
