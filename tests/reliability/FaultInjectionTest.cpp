// Faults from outside: a write that fails part-way (a file-size limit in a child process), a
// source that shrinks, grows or disappears mid-run, and output folders that cannot take the
// file. Every failure must be reported as one, leave the earlier file at the destination as it
// was and leave no temporary file behind. The tests run as root, so none relies on permissions.

#include "Crypto/AESUtils.h"
#include "Crypto/FileCipher.h"
#include "EncryptedFiles.h"
#include "Files.h"
#include "Key/CorvixKey.h"
#include "Process.h"
#include "ScratchDir.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace corvix::test {
namespace {

constexpr std::size_t kSourceSize = 3 * FileCipher::kPlainChunkSize + 1000;

// What a run reported, as a child process can hand it back in its exit code.
struct Report {
    int completed = 0;
    int failed = 0;
    int cancelled = 0;

    [[nodiscard]] int code() const { return completed + 4 * failed + 16 * cancelled; }
    [[nodiscard]] static int failedOnce() { return 4; }
};

enum class Operation { Encrypt, Decrypt };

std::string operationName(Operation operation) {
    return operation == Operation::Encrypt ? "encrypt" : "decrypt";
}

class FaultInjection : public ::testing::TestWithParam<Operation> {
protected:
    void SetUp() override {
        plain = patternBytes(kSourceSize, 5);
        writeFile(scratch / "data", plain);
        ASSERT_TRUE(encryptWithBuiltInKey(scratch / "data", scratch / "data.enc"));
        std::filesystem::create_directory(out);
        writeFile(destination(), Bytes{'e', 'a', 'r', 'l', 'i', 'e', 'r'});
        earlier = fileDigest(destination());
    }

    [[nodiscard]] bool encrypting() const { return GetParam() == Operation::Encrypt; }
    [[nodiscard]] std::filesystem::path source() const {
        return scratch / (encrypting() ? "data" : "data.enc");
    }
    [[nodiscard]] std::filesystem::path destination() const {
        return out / (encrypting() ? "data.enc" : "data");
    }

    Report run(const std::filesystem::path& from, const std::filesystem::path& to,
               const AESUtils::CancelQuery& shouldCancel = {}) {
        Report report;
        const auto onComplete = [&] { ++report.completed; };
        const auto onFailure = [&](bool cancelled) {
            ++(cancelled ? report.cancelled : report.failed);
        };
        if (encrypting()) {
            AESUtils::encryptFile(from.string(), to.string(), "quorveth", CorvixKey::aesKey(),
                                  CorvixKey::ivBytes(), {}, onComplete, onFailure, shouldCancel);
        } else {
            AESUtils::decryptFile(from.string(), to.string(), CorvixKey::aesKey(),
                                  CorvixKey::ivBytes(), {}, onComplete, onFailure, shouldCancel);
        }
        return report;
    }

    // The source as it was when the run opened it, read back from what the run wrote.
    std::optional<Bytes> plaintextWritten() {
        if (!encrypting()) {
            return readIfPresent(destination());
        }
        return AESUtils::decryptFileToBytes(destination().string(), CorvixKey::aesKey(),
                                            CorvixKey::ivBytes());
    }

    void expectEarlierFileKeptAndNoTemporary() {
        EXPECT_EQ(fileDigest(destination()), earlier);
        EXPECT_TRUE(temporaryFiles(out).empty());
        EXPECT_EQ(entriesOf(out),
                  std::vector<std::string>{destination().filename().string()});
    }

    // A shouldCancel that does `action` once, just before the reader takes its second chunk.
    // (onProgress would come too late: the reader runs ahead of the writer by several chunks.)
    static AESUtils::CancelQuery beforeSecondChunk(std::function<void()> action) {
        return [action = std::move(action), calls = 0]() mutable {
            if (++calls == 2) {
                action();
            }
            return false;
        };
    }

    ScratchDir scratch;
    std::filesystem::path out = scratch / "out";
    Bytes plain;
    std::string earlier;
};

TEST_P(FaultInjection, WriteThatFailsPartWayIsAFailure) {
    // A limit inside the header line, inside the first chunk and inside the third.
    for (const rlim_t limit :
         {rlim_t{10}, rlim_t{4096}, rlim_t{2 * FileCipher::kCipherChunkSize + 5000}}) {
        SCOPED_TRACE("file size limit " + std::to_string(limit));
        // SIGXFSZ ignored, as a program must for the limit to show as a failed write.
        const int code = runInChild([&] {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit fileSize{limit, limit};
            return ::setrlimit(RLIMIT_FSIZE, &fileSize) == 0 ? run(source(), destination()).code()
                                                             : 99;
        });
        EXPECT_EQ(code, Report::failedOnce()) << "-1: killed by a signal";
        expectEarlierFileKeptAndNoTemporary();
    }
}

TEST_P(FaultInjection, CliReportsAWriteThatFailsPartWay) {
    // SIGXFSZ stays at its default in the child: corvix-cli must ignore it to report the file.
    ProcessOptions limited;
    limited.fileSizeLimit = FileCipher::kCipherChunkSize + 5000;
    const ProcessResult result = runProcess({CORVIX_CLI_PATH, operationName(GetParam()), "-f",
                                             "-q", "-o", out.string(), source().string()},
                                            limited);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find(source().string()), std::string::npos) << result.err;
    expectEarlierFileKeptAndNoTemporary();
}

TEST_P(FaultInjection, SourceThatShrinksMidRunIsAFailure) {
    // Inside the second chunk, exactly at its start, and empty.
    const std::uint64_t boundary =
        encrypting() ? FileCipher::kPlainChunkSize : 25 + FileCipher::kCipherChunkSize;
    for (const std::uint64_t size : {boundary + 7, boundary, std::uint64_t{0}}) {
        SCOPED_TRACE("shrunk to " + std::to_string(size));
        const Bytes original = readFile(source());
        const Report report =
            run(source(), destination(),
                beforeSecondChunk([&] { std::filesystem::resize_file(source(), size); }));
        EXPECT_EQ(report.code(), Report::failedOnce());
        expectEarlierFileKeptAndNoTemporary();
        writeFile(source(), original);
    }
}

TEST_P(FaultInjection, SourceThatGrowsMidRunGivesTheSizeTakenAtTheStart) {
    const Report report =
        run(source(), destination(), beforeSecondChunk([&] {
                std::filesystem::resize_file(source(), std::filesystem::file_size(source()) + 4096);
            }));
    EXPECT_EQ(report.completed, 1);
    EXPECT_EQ(report.code(), 1);
    EXPECT_EQ(plaintextWritten(), plain);
}

TEST_P(FaultInjection, SourceRemovedMidRunIsStillReadWholeThroughItsOpenDescriptor) {
    const Report report =
        run(source(), destination(), beforeSecondChunk([&] { std::filesystem::remove(source()); }));
    EXPECT_EQ(report.code(), 1);
    EXPECT_EQ(plaintextWritten(), plain);
    EXPECT_TRUE(temporaryFiles(out).empty());
}

TEST_P(FaultInjection, SourceThatIsNotARegularFileIsAFailure) {
    const auto pipe = scratch / "pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    for (const auto& path : {scratch / "missing", pipe, out}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(run(path, destination()).code(), Report::failedOnce());
        expectEarlierFileKeptAndNoTemporary();
        if (!encrypting()) {
            EXPECT_FALSE(AESUtils::decryptFileToBytes(path.string(), CorvixKey::aesKey(),
                                                      CorvixKey::ivBytes()));
        }
    }
}

TEST_P(FaultInjection, OutputFolderThatIsMissingOrAFileIsAFailure) {
    const auto folderFile = scratch / "folder-file";
    writeFile(folderFile, Bytes{'f'});
    const std::string folderFileDigest = fileDigest(folderFile);
    for (const auto& folder : {scratch / "missing", folderFile}) {
        SCOPED_TRACE(folder);
        EXPECT_EQ(run(source(), folder / "out").code(), Report::failedOnce());
    }
    EXPECT_FALSE(std::filesystem::exists(scratch / "missing"));
    EXPECT_EQ(fileDigest(folderFile), folderFileDigest);
    EXPECT_TRUE(temporaryFiles(scratch.path()).empty());
}

TEST_P(FaultInjection, DestinationThatIsAFolderIsAFailureAndKeepsTheFolder) {
    const auto folder = out / "taken";
    std::filesystem::create_directory(folder);
    writeFile(folder / "inside", Bytes{'i'});
    EXPECT_EQ(run(source(), folder).code(), Report::failedOnce());
    EXPECT_EQ(entriesOf(folder), std::vector<std::string>{"inside"});
    EXPECT_TRUE(temporaryFiles(out).empty());
}

TEST_P(FaultInjection, CliOutputFolderThatIsAFileIsAFailure) {
    const auto folderFile = scratch / "folder-file";
    writeFile(folderFile, Bytes{'f'});
    const ProcessResult result = runProcess({CORVIX_CLI_PATH, operationName(GetParam()), "-q",
                                             "-o", folderFile.string(), source().string()});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_EQ(readFile(folderFile), Bytes{'f'});
    EXPECT_TRUE(temporaryFiles(scratch.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(Both, FaultInjection,
                         ::testing::Values(Operation::Encrypt, Operation::Decrypt),
                         [](const auto& info) { return operationName(info.param); });

} // namespace
} // namespace corvix::test
