// corvix-cli as a build script runs it. Most cases are rows of tests/data/cli/scenarios.json,
// each run in a fresh scratch folder:
//   "prefix"   a command that runs corvix-cli (prlimit), if any;
//   "args"     the arguments after the program name;
//   "before"   the files made first, path -> content: "enc:TEXT" is TEXT encrypted,
//              "pattern:N" N pattern bytes, "link:TARGET" a link, "fifo:" a FIFO, and a
//              leading "old:" dates the file an hour back;
//   "exit"     the exit code;
//   "after"    files the run leaves, path -> content (a .enc file must decrypt to it) or null;
//              no file other than these and those before may be there;
//   "stdout", "stderr"  parts of the lines printed there, in this order (stderr null: nothing).
// The rows of tests/data/cli/key-files.json run each file of tests/data/keyfiles as a key file
// ("key:MODE:NAME" copies it with that mode); those of failures.json write to a full standard
// output or read a file that is not there.
// Then what a table cannot hold: ranges that cat writes, up to the top of the 64-bit range; every
// control character in --json names; standard output that fails or goes away; the flush before a
// replacing rename; many jobs under a low limit of descriptors; key files from standard input, a
// pipe and a FIFO; keys from keygen checked against the openssl command; and signed manifests.

#include "Basics/Encodings.h"
#include "Format/FileCipher.h"
#include "Key/KeyFile.h"
#include "TestKit.h"

#include <algorithm>
#include <corvix/CorvixKey.h>
#include <corvix/EncryptedFileReader.h>
#include <corvix/Manifest.h>
#include <corvix/Version.h>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace corvix::test {
namespace {

using nlohmann::json;
const std::string kCli = CORVIX_CLI_PATH;

std::string asText(const Bytes& bytes) {
    return {bytes.begin(), bytes.end()};
}

std::string expanded(const std::string& content) {
    return content.starts_with("pattern:") ? asText(pattern(std::stoul(content.substr(8))))
                                           : content;
}

void make(const fs::path& path, std::string content) {
    const bool old = content.starts_with("old:");
    content.erase(0, old ? 4 : 0);
    fs::create_directories(path.parent_path());
    if (content.starts_with("link:")) {
        fs::create_symlink(content.substr(5), path);
    } else if (content == "fifo:") {
        ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
    } else if (content.starts_with("key:")) { // key:MODE:NAME, a file of tests/data/keyfiles
        fs::copy_file(CORVIX_TEST_DATA_DIR "/keyfiles/" + content.substr(8), path);
        fs::permissions(path, static_cast<fs::perms>(std::stoi(content.substr(4, 3), nullptr, 8)));
    } else if (content.starts_with("enc:")) {
        ASSERT_TRUE(writeEncrypted(path, expanded(content.substr(4))));
    } else {
        writeFile(path, expanded(content));
    }
    if (old) {
        fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(1));
    }
}

// What a file holds, in the words of a row.
std::string held(const fs::path& path) {
    if (fs::is_fifo(fs::symlink_status(path)) || path.extension() != ".enc") {
        return fs::is_fifo(fs::symlink_status(path)) ? "fifo:" : readFile(path);
    }
    const auto plain = FileCipher::decryptToBytes(path, *CorvixKey::material());
    return plain ? asText(*plain) : "<does not decrypt>";
}

// The openssl command with `args` in `folder`: what it printed; a failure fails the test.
std::string openssl(std::vector<std::string> args, const fs::path& folder) {
    args.insert(args.begin(), CORVIX_OPENSSL_COMMAND);
    const Exit ran = run(args, folder);
    EXPECT_EQ(ran.code, 0) << args[1] << ": " << ran.err;
    return ran.out;
}

std::vector<json> table(const std::string& name) {
    return json::parse(readFile(CORVIX_TEST_DATA_DIR "/cli/" + name));
}

// Whether `printed` holds `parts` in this order.
bool holdsInOrder(const std::string& printed, const std::vector<std::string>& parts) {
    std::size_t at = 0;
    for (const std::string& part : parts) {
        at = printed.find(part, at);
        if (at == std::string::npos) {
            return false;
        }
        at += part.size();
    }
    return true;
}

class CliScenario : public testing::TestWithParam<json> {};

TEST_P(CliScenario, ExitsWritesAndPrintsAsExpected) {
    const json& row = GetParam();
    for (const auto& [key, value] : row.items()) {
        ASSERT_TRUE(std::set<std::string>(
                        {"name", "prefix", "args", "before", "exit", "after", "stdout", "stderr"})
                        .contains(key))
            << key;
    }
    const json before = row.value("before", json::object());
    const json after = row.value("after", json::object());
    const Scratch scratch;
    std::set<std::string> expected;
    for (const auto& [path, content] : before.items()) {
        make(scratch / path, content);
        expected.insert(path);
    }
    std::vector<std::string> command = row.value("prefix", std::vector<std::string>{});
    command.push_back(kCli);
    command.insert(command.end(), row.at("args").begin(), row.at("args").end());
    const Exit ran = run(command, scratch.path());
    EXPECT_EQ(ran.code, row.at("exit").get<int>()) << ran.err;

    for (const auto& [path, content] : after.items()) {
        expected.insert(path);
        EXPECT_TRUE(content.is_null() || held(scratch / path) == expanded(content)) << path;
    }
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(scratch.path())) {
        if (!entry.is_directory() || entry.is_symlink()) {
            files.insert(entry.path().lexically_relative(scratch.path()).string());
        }
    }
    EXPECT_EQ(files, expected);
    EXPECT_TRUE(holdsInOrder(ran.out, row.value("stdout", std::vector<std::string>{}))) << ran.out;
    const json err = row.value("stderr", json::array()); // null: nothing at all
    EXPECT_TRUE(err.is_null() ? ran.err.empty() : holdsInOrder(ran.err, err)) << ran.err;
    // Whatever the names hold, no line is broken and no terminal is driven: no C0 control
    // character but the line end, no DEL, no C1 control character (UTF-8 C2 80 to C2 9F).
    const std::string printed = ran.out + ran.err;
    EXPECT_FALSE(
        std::regex_search(printed, std::regex("[\\x00-\\x09\\x0B-\\x1F\\x7F]|\\xC2[\\x80-\\x9F]")))
        << printed;
}

std::string rowName(const testing::TestParamInfo<json>& info) {
    return info.param.at("name");
}
INSTANTIATE_TEST_SUITE_P(Table, CliScenario, testing::ValuesIn(table("scenarios.json")), rowName);
INSTANTIATE_TEST_SUITE_P(KeyFiles, CliScenario, testing::ValuesIn(table("key-files.json")),
                         rowName);
INSTANTIATE_TEST_SUITE_P(Failures, CliScenario, testing::ValuesIn(table("failures.json")), rowName);

TEST(CliTables, HaveEveryRow) {
    EXPECT_EQ(table("key-files.json").size(), 20U);
    EXPECT_EQ(table("tamperings.json").size(), 10U);
    EXPECT_EQ(table("failures.json").size(), 4U);
}

TEST(CliJson, EveryNameRoundTripsAndNonUtf8NamesKeepTheirBytes) {
    const Scratch scratch;
    std::set<std::string> names; // each control character, with a quote and a backslash
    for (int byte = 1; byte < 0x80; byte = byte == 0x1F ? 0x7F : byte + 1) {
        writeFile(scratch /
                      *names.insert("in/" + std::string(1, static_cast<char>(byte)) + "\"\\").first,
                  "12345");
    }
    writeFile(scratch / "in/\xff\xc3\xa9", "x");
    const Exit ran = run({kCli, "encrypt", "--json", "-r", "in", "-o", "out"}, scratch.path());
    EXPECT_EQ(ran.code, 0) << ran.err;
    std::map<std::string, json> objects;
    std::istringstream lines(ran.out);
    for (std::string line; std::getline(lines, line);) {
        const json object = json::parse(line);
        objects[object.at("input")] = object;
    }
    ASSERT_EQ(objects.size(), names.size() + 1) << ran.out;
    for (const std::string& name : names) {
        json want = {{"status", "ok"}, {"bytes", 5}, {"error", nullptr}, {"input", name}};
        want["output"] = "out/" + name.substr(3) + ".enc";
        EXPECT_EQ(objects[name], want);
    }
    const json& odd = objects.at("in/\xef\xbf\xbd\xc3\xa9");
    EXPECT_EQ(odd.at("input_base64"), base64Text(utf8Bytes("in/\xff\xc3\xa9")));
    EXPECT_EQ(odd.at("output_base64"), base64Text(utf8Bytes("out/\xff\xc3\xa9.enc")));
}

TEST(CliStdout, AReaderThatGoesAwayStopsTheRun) {
    const Scratch scratch;
    writeFile(scratch / "in/f0", "first");
    for (unsigned i = 1; i < 10; ++i) {
        writeFile(scratch / ("in/f" + std::to_string(i)), "");
        fs::resize_file(scratch / ("in/f" + std::to_string(i)), 8 << 20);
    }
    // The reader takes the first line and goes away while the run is held still before the
    // second output is in place, so that files remain that the run must not start.
    std::optional<Child> child;
    int reader = -1;
    for (int attempt = 0;; ++attempt) {
        ASSERT_LT(attempt, 5) << "the run was never caught before its second output";
        fs::remove_all(scratch / "piped");
        int ends[2];
        ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
        child.emplace(
            std::vector<std::string>{kCli, "encrypt", "--json", "-j1", "-r", "in", "-o", "piped"},
            scratch.path(), ends[1]);
        ::close(ends[1]);
        reader = ends[0];
        std::string first;
        for (char c = 0; ::read(reader, &c, 1) == 1 && c != '\n';) {
            first += c;
        }
        EXPECT_EQ(json::parse(first).at("input"), "in/f0");
        if (child->freezeWhen([&] { return !fs::exists(scratch / "piped/f1.enc"); })) {
            break;
        }
        ::close(reader);
    }
    ::close(reader);
    child->signal(SIGCONT);
    const Exit piped = child->wait();
    EXPECT_EQ(piped.code, 1) << piped.err; // not 141: no death by SIGPIPE
    EXPECT_NE(piped.err.find("not started"), std::string::npos) << piped.err;
    for (const auto& entry : fs::directory_iterator(scratch / "piped")) {
        EXPECT_TRUE(FileCipher::decryptToBytes(entry.path(), *CorvixKey::material())) << entry;
    }
}

// A replaced output is flushed to disk before it is renamed; and the file layer's Linux-only
// fast paths are in use exactly when the build has them (CORVIX_PORTABLE_FS leaves them out).
TEST(CliSystemCalls, AReplacedOutputIsFlushedBeforeItIsRenamedAndFastPathsAreTheBuilds) {
    const Scratch scratch;
    writeFile(scratch / "in/sub/a.txt", "new");
    writeFile(scratch / "in/sub/b.txt", "new");
    writeFile(scratch / "out/sub/a.txt.enc", "old");
    // LeakSanitizer cannot run under ptrace.
    const Exit ran = run({"env", "ASAN_OPTIONS=detect_leaks=0", "strace", "-f", "-o", "trace", "-e",
                          "trace=fdatasync,fsync,rename,renameat,renameat2,linkat,openat,openat2",
                          kCli, "encrypt", "-f", "-r", "in", "-o", "out"},
                         scratch.path());
    ASSERT_EQ(ran.code, 0) << ran.err;
    const std::string trace = readFile(scratch / "trace");
    const auto renamed = trace.find(", \"a.txt.enc\"");
    ASSERT_NE(renamed, std::string::npos) << trace;
    EXPECT_LT(trace.find("sync("), renamed) << trace;
    for (const char* fastPath : {"openat2(", "O_TMPFILE", "O_PATH", "/proc/self/status"}) {
        EXPECT_EQ(trace.find(fastPath) != std::string::npos, CORVIX_TEST_PORTABLE_FS == 0)
            << fastPath;
    }
}

TEST(CliDescriptors, ManyJobsUnderALowLimitWriteEveryFile) {
    const Scratch scratch;
    constexpr std::ptrdiff_t kFiles = 1500;
    const Bytes content = pattern(16384); // long enough for the jobs to overlap
    for (std::ptrdiff_t i = 0; i < kFiles; ++i) {
        writeFile(scratch / ("in/f" + std::to_string(i)), content);
    }
    // 128 jobs of up to five descriptors each would need 640 of the 256.
    const Exit ran = run({"prlimit", "--nofile=256:256", kCli, "encrypt", "-q", "-j", "128", "-r",
                          "in", "-o", "out"},
                         scratch.path());
    EXPECT_EQ(ran.code, 0) << ran.err.substr(0, 1000);
    EXPECT_EQ(ran.err.find("corvix-cli: -j lowered to "), 0U) << ran.err.substr(0, 1000);
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch / "out"), {}), kFiles);
}

TEST(CliCat, WritesTheRangeAsked) {
    const Scratch dir;
    const Bytes plain = pattern(2 * 1048576 + 100, 5);
    writeFile(dir / "a", plain);
    ASSERT_EQ(run({kCli, "encrypt", "a"}, dir.path()).code, 0);
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
        SCOPED_TRACE(command.empty() ? "whole" : command[0] + " " + command[1]);
        command.insert(command.begin(), {kCli, "cat"});
        command.push_back("a.enc");
        const Exit range = run(command, dir.path());
        EXPECT_EQ(range.code, 0) << range.err;
        EXPECT_TRUE(utf8Bytes(range.out) ==
                    copyPrefix(count, Bytes(plain.begin() + from, plain.end())));
    }
}

TEST(KeyFile, StandardInputPipesAndFifosAreReadLikeFilesButNotWaitedForLong) {
    Scratch dir;
    const std::string text = readFile(CORVIX_TEST_DATA_DIR "/keyfiles/valid.key");
    writeFile(dir / "app.key", text);
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    // Opening the FIFO waits until both ends are open: the writer in the background and the run.
    for (const std::string source :
         {"- < app.key", "<(cat app.key)", "fifo & cat app.key > fifo; wait $!"}) {
        const Exit ran = run({"bash", "-c", kCli + " key --key-file " + source}, dir.path());
        EXPECT_TRUE(ran.code == 0 && ran.out.starts_with(text)) << source << ": " << ran.err;
    }

    // A writer that neither writes nor closes is given up on.
    const int writer = ::open((dir / "fifo").c_str(), O_RDWR | O_CLOEXEC);
    const auto material = KeyFile::read((dir / "fifo").string(), std::chrono::milliseconds(20));
    ::close(writer);
    ASSERT_FALSE(material);
    EXPECT_EQ(material.error().reason, "not written whole and closed within 20 ms");
}

TEST(KeyFile, KeygenKeysAgreeWithOpensslAndReadOnlyTheirOwnFiles) {
    Scratch dir;
    const auto cli = [&dir](std::vector<std::string> args) {
        args.insert(args.begin(), kCli);
        return run(args, dir.path());
    };
    ASSERT_EQ(cli({"keygen", "-o", "a.key"}).code, 0);
    ASSERT_EQ(cli({"keygen", "-o", "b.key"}).code, 0);
    const std::string text = readFile(dir / "a.key");
    ASSERT_TRUE(std::regex_match(text, std::regex("key:[0-9a-f]{64}\niv:[0-9a-f]{32}\n")));
    EXPECT_NE(readFile(dir / "b.key"), text);
    EXPECT_EQ(fs::status(dir / "a.key").permissions(),
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(cli({"keygen", "-o", "a.key"}).code, 1);
    EXPECT_EQ(readFile(dir / "a.key"), text);

    // The body of a one-chunk file is the openssl encryption under the file's key and IV.
    const std::string key = text.substr(4, 64);
    writeFile(dir / "plain", pattern(5000));
    ASSERT_EQ(cli({"encrypt", "-q", "--key-file", "a.key", "plain"}).code, 0);
    const std::string sealed = readFile(dir / "plain.enc");
    writeFile(dir / "body", sealed.substr(sealed.find('\r') + 1));
    openssl({"enc", "-d", "-aes-256-cbc", "-K", key, "-iv", text.substr(72, 32), "-in", "body",
             "-out", "opened"},
            dir.path());
    EXPECT_EQ(readBytes(dir / "opened"), pattern(5000));
    EXPECT_EQ(cli({"decrypt", "-q", "--key-file", "a.key", "-o", "back", "plain.enc"}).code, 0);
    EXPECT_EQ(readBytes(dir / "back/plain"), pattern(5000));
    const Exit other = cli({"verify", "-q", "--key-file", "b.key", "plain.enc"});
    EXPECT_EQ(other.code, 1);
    EXPECT_NE(other.err.find("header does not decrypt"), std::string::npos) << other.err;

    // The fingerprint: the first 16 hex digits of SHA-256 over the key's bytes, by openssl; what
    // `key` prints is the key file of the built-in material, whose fingerprint --version shows.
    const auto fingerprint = [&dir](const std::string& keyFile) {
        writeFile(dir / "key.bin", bytesFromHex(readFile(dir / keyFile).substr(4, 64)));
        return "key fingerprint: " +
               openssl({"dgst", "-sha256", "-r", "key.bin"}, dir.path()).substr(0, 16) + "\n";
    };
    EXPECT_EQ(cli({"key", "--key-file", "a.key"}).out, text + fingerprint("a.key"));
    writeFile(dir / "built-in.key", cli({"key"}).out);
    EXPECT_EQ(cli({"--version"}).out,
              "corvix-cli " CORVIX_VERSION "\n" + fingerprint("built-in.key"));
    ASSERT_EQ(cli({"encrypt", "-q", "--key-file", "built-in.key", "-o", "k", "plain"}).code, 0);
    ASSERT_EQ(cli({"encrypt", "-q", "-o", "b", "plain"}).code, 0);
    EXPECT_EQ(readFile(dir / "k/plain.enc"), readFile(dir / "b/plain.enc"));

    // OpenSSL with only its null provider has no SHA-256: no key, rather than a key of zeros; nor
    // any cipher: a key file needs no digest, and the run says what is missing.
    writeFile(dir / "null.cnf", "openssl_conf = a\n[a]\nproviders = b\n[b]\nnull = c\n"
                                "[c]\nactivate = 1\n");
    const Exit noDigest = run({"env", "OPENSSL_CONF=null.cnf", kCli, "key"}, dir.path());
    EXPECT_TRUE(noDigest.code == 1 && noDigest.out.empty()) << noDigest.out;
    const Exit noCipher = run({"env", "OPENSSL_CONF=null.cnf", kCli, "encrypt", "--key-file",
                               "a.key", "-o", "n", "plain"},
                              dir.path());
    EXPECT_EQ(noCipher.code, 1);
    EXPECT_NE(noCipher.err.find("cannot provide AES-256-CBC"), std::string::npos) << noCipher.err;
}

// Signed manifests: one table of tamperings, each row checked through `corvix-cli verify
// --manifest` and through the reader; and a manifest's digests and signature against the openssl
// command.
constexpr std::size_t kLine = 25;       // the header line of "quorveth" and its 0x0D
constexpr std::size_t kChunk = 1048592; // a whole ciphertext chunk

// assets/a.enc (three whole chunks) and assets/b.enc (one), listed in assets/m, signed with
// sign.pem unless `signs` is false; pub.pem is its public key.
struct Shipped {
    Scratch dir;
    explicit Shipped(bool signs) {
        openssl({"genpkey", "-algorithm", "ed25519", "-out", "sign.pem"}, dir.path());
        openssl({"pkey", "-in", "sign.pem", "-pubout", "-out", "pub.pem"}, dir.path());
        writeFile(dir / "a", pattern(3 * 1048576));
        writeFile(dir / "b", "b");
        std::vector<std::string> encrypt{kCli, "encrypt", "-o", "assets", "--manifest", "assets/m"};
        if (signs) {
            encrypt.insert(encrypt.end(), {"--sign-key", "sign.pem"});
        }
        encrypt.insert(encrypt.end(), {"a", "b"});
        const Exit ran = run(encrypt, dir.path());
        EXPECT_EQ(ran.code, 0) << ran.err;
    }
};

// A row of tests/data/cli/tamperings.json: "change", a shell command run in assets/ (none:
// untouched); "signs" (default true); "public_key" to check the signature with, if any; "verify",
// what verify says on stderr (none: all is well); "read", the file read through the reader
// (default a.enc), and "reader", how that ends (the error code's category and message).

// The library's way: the manifest, its signature, the file's entry, then every chunk read.
std::error_code readListed(const fs::path& dir, const json& row) {
    const auto manifest = Manifest::load(dir / "assets/m");
    if (!manifest) {
        return manifest.error().code;
    }
    if (row.contains("public_key")) {
        const auto key = Manifest::readKey(dir / row["public_key"].get<std::string>());
        if (const Outcome<> checked = manifest->checkSignature(*key); !checked) {
            return checked.error().code;
        }
    }
    const std::string name = row.value("read", "a.enc");
    const ManifestEntry* entry = manifest->find(name);
    if (entry == nullptr) {
        return Errc::unlistedFile;
    }
    EncryptedFileReader reader((dir / "assets" / name).string(), *CorvixKey::material(),
                               std::nullopt, *entry);
    if (const Outcome<> opened = reader.open(); !opened) {
        return opened.error().code;
    }
    Bytes plain(reader.size());
    const auto got = reader.read(0, plain.data(), plain.size());
    return got ? std::error_code() : got.error().code;
}

class Tamperings : public testing::TestWithParam<json> {};

TEST_P(Tamperings, VerifyAndTheReaderFailOnEach) {
    const json& row = GetParam();
    const Shipped shipped(row.value("signs", true));
    const Exit changed = run({"bash", "-c", row.value("change", "")}, shipped.dir / "assets");
    ASSERT_EQ(changed.code, 0) << changed.err;
    std::vector<std::string> verify{kCli, "verify", "--manifest", "assets/m"};
    if (row.contains("public_key")) {
        verify.insert(verify.end(), {"--public-key", row["public_key"]});
    }
    const Exit ran = run(verify, shipped.dir.path());
    EXPECT_EQ(ran.code, row.contains("verify") ? 1 : 0) << ran.out << ran.err;
    EXPECT_NE(ran.err.find(row.value("verify", "")), std::string::npos) << ran.err;
    const std::error_code read = readListed(shipped.dir.path(), row);
    EXPECT_EQ(read.category().name() + std::string(": ") + read.message(), row["reader"]);
}

INSTANTIATE_TEST_SUITE_P(Rows, Tamperings, testing::ValuesIn(table("tamperings.json")), rowName);

// The digests and the signature as the openssl command finds them: the header line and each
// chunk hashed by `openssl dgst`, the signed bytes written out by the rule the README gives, and
// the signature checked by `openssl pkeyutl -verify`.
TEST(ManifestKnownAnswer, OpensslAgreesOnDigestsAndSignature) {
    const Shipped shipped(true);
    const fs::path& dir = shipped.dir.path();
    const auto digest = [&](const Bytes& piece) {
        writeFile(dir / "piece", piece);
        return "\"" + openssl({"dgst", "-sha256", "-r", "piece"}, dir).substr(0, 64) + "\"";
    };
    std::string files;
    for (const char* name : {"a.enc", "b.enc"}) {
        const Bytes file = readBytes(dir / "assets" / name);
        std::string chunks;
        for (std::size_t at = kLine; at < file.size(); at += kChunk) {
            const auto end =
                file.begin() + static_cast<std::ptrdiff_t>(std::min(at + kChunk, file.size()));
            chunks += (chunks.empty() ? "" : ",") + digest(Bytes(file.begin() + at, end));
        }
        files += std::string(files.empty() ? "" : ",") + R"({"chunks_sha256":[)" + chunks +
                 R"(],"header_sha256":)" + digest(Bytes(file.begin(), file.begin() + kLine - 1)) +
                 R"(,"length":)" + std::to_string(file.size()) + R"(,"path":")" + name + "\"}";
    }
    writeFile(dir / "signed", R"({"chunk_size":1048576,"files":[)" + files + R"(],"version":1})");
    const auto manifest = json::parse(readFile(dir / "assets/m"));
    writeFile(dir / "signature.b64", manifest.at("signature").get<std::string>());
    openssl({"base64", "-d", "-A", "-in", "signature.b64", "-out", "signature"}, dir);
    openssl({"pkeyutl", "-verify", "-pubin", "-inkey", "pub.pem", "-rawin", "-in", "signed",
             "-sigfile", "signature"},
            dir);
}

} // namespace
} // namespace corvix::test
