// corvix-cli encrypt and decrypt over files and folders: per-file outcomes, exit codes, tree
// mirroring, existing outputs, and the folder that outputs must never leave.

#include "CliProcess.h"
#include "Crypto/FileCipher.h"
#include "Key/CorvixKey.h"

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
        FileCipher::decryptToBytes(path.string(), CorvixKey::aesKey(), CorvixKey::ivBytes());
    return plain ? std::string(plain->begin(), plain->end()) : "<does not decrypt>";
}

TEST(CliUsage, BadUsageExitsWithTwo) {
    const TempFolder folder;
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
        const CliRun run = runCli(args, folder.path());
        EXPECT_EQ(run.exitCode, 2) << (args.empty() ? "" : args[0]);
        EXPECT_TRUE(run.out.empty());
        EXPECT_TRUE(mentions(run.err, "corvix-cli: "));
    }
    const CliRun help = runCli({"--help"}, folder.path());
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(mentions(help.out, "exit status: 0"));
}

TEST(CliFiles, MixedInputsReportEachFileAndExitWithOne) {
    const TempFolder folder;
    writeFile(folder / "a.txt", "alpha");
    writeFile(folder / "b.json", "{}");
    fs::create_directory(folder / "assets");

    const CliRun run =
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
    const CliRun back = runCli({"decrypt", "out/a.txt.enc", "a.txt"}, folder.path());
    EXPECT_EQ(back.exitCode, 1);
    EXPECT_EQ(readFile(folder / "out/a.txt"), "alpha");
    EXPECT_TRUE(mentions(back.err, "a.txt: name does not end in .enc"));

    const CliRun good = runCli({"decrypt", "-q", "out/b.json.enc"}, folder.path());
    EXPECT_EQ(good.exitCode, 0);
    EXPECT_TRUE(good.out.empty() && good.err.empty());
}

TEST(CliFiles, RecursiveRunMirrorsTheTreeAndSkipsLinks) {
    const TempFolder folder;
    writeFile(folder / "assets/top.txt", "top");
    writeFile(folder / "assets/img/deep/er/logo.png", "png");
    writeFile(folder / "assets/img/.hidden.json", "hidden");
    writeFile(folder / "elsewhere/secret.txt", "secret");
    fs::create_symlink("../top.txt", folder / "assets/img/link.txt");
    fs::create_symlink("../../elsewhere", folder / "assets/img/linked-folder");
    fs::create_directory(folder / "assets/empty");

    const CliRun run = runCli({"encrypt", "-r", "assets", "-o", "out"}, folder.path());
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
    writeFile(folder / "out/notes.md", "not encrypted");
    const CliRun back = runCli({"decrypt", "-r", "out", "-o", "back"}, folder.path());
    EXPECT_EQ(back.exitCode, 0) << back.err;
    EXPECT_EQ(readFile(folder / "back/img/deep/er/logo.png"), "png");
    EXPECT_EQ(readFile(folder / "back/top.txt"), "top");
    EXPECT_FALSE(fs::exists(folder / "back/notes.md"));
    EXPECT_FALSE(fs::exists(folder / "back/notes"));
}

TEST(CliFiles, SummaryCountsTheSkippedLink) {
    const TempFolder folder;
    writeFile(folder / "in/a.txt", "a");
    fs::create_symlink("a.txt", folder / "in/b.txt");
    const CliRun run = runCli({"encrypt", "-r", "in", "-o", "out"}, folder.path());
    EXPECT_EQ(linesOf(run.out).back(), "1 ok, 0 failed, 1 skipped");
}

TEST(CliFiles, NothingIsWrittenOutsideTheOutputFolder) {
    const TempFolder folder;
    writeFile(folder / "in/top.txt", "top");
    writeFile(folder / "in/sub/inner.txt", "inner");
    ASSERT_EQ(runCli({"encrypt", "in/top.txt", "in/sub/inner.txt"}, folder.path()).exitCode, 0);
    // Names that would decrypt to "." or "..": no file name below the output folder.
    writeFile(folder / "in/..enc", "x");
    writeFile(folder / "in/...enc", "x");
    // A folder on the way that is a link to somewhere else.
    fs::create_directories(folder / "outside");
    fs::create_directories(folder / "out");
    fs::create_symlink("../outside", folder / "out/sub");

    const CliRun run = runCli({"decrypt", "-r", "in", "-o", "out"}, folder.path());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(mentions(run.err, "in/..enc: name would decrypt to '.'"));
    EXPECT_TRUE(mentions(run.err, "in/...enc: name would decrypt to '..'"));
    EXPECT_TRUE(mentions(run.err, "in/sub/inner.txt.enc: out/sub is a symbolic link"));
    EXPECT_EQ(readFile(folder / "out/top.txt"), "top");
    EXPECT_TRUE(fs::is_empty(folder / "outside"));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), {}), 3); // in, out, outside
}

TEST(CliFiles, EarlierOutputsInsideTheTreeAreNoInputs) {
    const TempFolder folder;
    writeFile(folder / "assets/a.txt", "a");
    // The output folder inside the walked tree, and the tree as its own output folder.
    for (const char* output : {"assets/enc", "assets"}) {
        ASSERT_EQ(runCli({"encrypt", "-r", "assets", "-o", output}, folder.path()).exitCode, 0);
        const CliRun again = runCli({"encrypt", "-r", "-u", "assets", "-o", output}, folder.path());
        EXPECT_EQ(again.exitCode, 0) << again.err;
        EXPECT_EQ(linesOf(again.out).back(), "0 ok, 0 failed, 1 skipped") << output;
    }
    EXPECT_FALSE(fs::exists(folder / "assets/enc/enc"));
    EXPECT_FALSE(fs::exists(folder / "assets/a.txt.enc.enc"));
}

TEST(CliFiles, ExistingOutputsAreRefusedReplacedOrUpdated) {
    const TempFolder folder;
    writeFile(folder / "a.txt", "first");
    ASSERT_EQ(runCli({"encrypt", "a.txt"}, folder.path()).exitCode, 0);
    writeFile(folder / "a.txt", "second");

    const CliRun refused = runCli({"encrypt", "a.txt"}, folder.path());
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(mentions(refused.err, "a.txt.enc exists (-f replaces it"));
    EXPECT_EQ(decrypted(folder / "a.txt.enc"), "first");

    // The output is newer than the input, so -u leaves it alone.
    const auto now = fs::file_time_type::clock::now();
    fs::last_write_time(folder / "a.txt", now - std::chrono::hours(1));
    fs::last_write_time(folder / "a.txt.enc", now);
    const CliRun upToDate = runCli({"encrypt", "-u", "a.txt"}, folder.path());
    EXPECT_EQ(upToDate.exitCode, 0);
    EXPECT_EQ(linesOf(upToDate.out).front(), "skipped a.txt: output a.txt.enc is up to date");
    EXPECT_EQ(decrypted(folder / "a.txt.enc"), "first");

    fs::last_write_time(folder / "a.txt", now + std::chrono::hours(1));
    EXPECT_EQ(runCli({"encrypt", "--update", "a.txt"}, folder.path()).exitCode, 0);
    EXPECT_EQ(decrypted(folder / "a.txt.enc"), "second");

    writeFile(folder / "a.txt", "third");
    EXPECT_EQ(runCli({"encrypt", "-f", "a.txt"}, folder.path()).exitCode, 0);
    EXPECT_EQ(decrypted(folder / "a.txt.enc"), "third");
}

TEST(CliFiles, TwoInputsForOneOutputDoNotRace) {
    const TempFolder folder;
    writeFile(folder / "x/a.txt", "x");
    writeFile(folder / "y/a.txt", "y");
    const CliRun run = runCli({"encrypt", "x/a.txt", "y/a.txt", "-o", "out"}, folder.path());
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(mentions(run.err, "y/a.txt: output out/a.txt.enc is also the output of x/a.txt"));
    EXPECT_EQ(decrypted(folder / "out/a.txt.enc"), "x");
}

TEST(CliVersion, FingerprintMatchesTheLibraryAndOpenssl) {
    const TempFolder folder;
    const CliRun run = runCli({"--version"}, folder.path());
    ASSERT_EQ(run.exitCode, 0);
    const auto lines = linesOf(run.out);
    ASSERT_EQ(lines.size(), 2U);
    EXPECT_EQ(lines[0], std::string("corvix-cli ") + CORVIX_VERSION);
    EXPECT_EQ(lines[1], "key fingerprint: " + CorvixKey::fingerprint());

    // Independently: SHA-256 of the key bytes that `corvix-cli key` prints, by the openssl tool.
    const std::string script =
        "K=$('" + std::string(CORVIX_CLI_PATH) +
        "' key | sed -n 's/^key://p'); printf \"$(echo \"$K\" | sed 's/../\\\\x&/g')\" | "
        "openssl dgst -sha256 -r | cut -c1-16 > fingerprint";
    writeFile(folder / "fingerprint.sh", script);
    ASSERT_EQ(std::system(("cd '" + folder.path().string() + "' && bash fingerprint.sh").c_str()),
              0);
    EXPECT_EQ(readFile(folder / "fingerprint"), CorvixKey::fingerprint() + "\n");
}

} // namespace
} // namespace corvix::test
