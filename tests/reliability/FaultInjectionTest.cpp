// Faults from outside: a write that fails part-way (a file-size limit in a child process), a
// source that shrinks, grows or disappears mid-run, and output folders that cannot take the
// file. Every failure must be reported as one, leave the earlier file at the destination as it
// was and leave no temporary file behind. The tests run as root, so none relies on permissions.

#include "ChildProcess.h"
#include "Crypto/AESUtils.h"
#include "Crypto/FileCipher.h"
#include "Crypto/OutputStream.h"
#include "Key/CorvixKey.h"
#include "ScratchFolder.h"
#include "TestFiles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace corvix::reliability {
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
        encryptWithBuiltInKey(scratch / "data", scratch / "data.enc");
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
            return readFile(destination());
        }
        return AESUtils::decryptFileToBytes(destination().string(), CorvixKey::aesKey(),
                                            CorvixKey::ivBytes());
    }

    void expectEarlierFileKeptAndNoTemporary() {
        EXPECT_EQ(fileDigest(destination()), earlier);
        EXPECT_TRUE(ScratchFolder::temporaryFiles(out).empty());
        EXPECT_EQ(ScratchFolder::entries(out),
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

    ScratchFolder scratch;
    std::filesystem::path out = scratch / "out";
    Bytes plain;
    std::string earlier;
};

TEST_P(FaultInjection, WriteThatFailsPartWayIsAFailure) {
    // A limit inside the header line, inside the first chunk and inside the third.
    for (const rlim_t limit :
         {rlim_t{10}, rlim_t{4096}, rlim_t{2 * FileCipher::kCipherChunkSize + 5000}}) {
        SCOPED_TRACE("file size limit " + std::to_string(limit));
        const ChildResult child = ChildProcess::runForked(
            [&] { return run(source(), destination()).code(); }, ChildOptions::limitedTo(limit));
        EXPECT_EQ(child.signal, 0);
        EXPECT_EQ(child.exitCode, Report::failedOnce());
        expectEarlierFileKeptAndNoTemporary();
    }
}

TEST_P(FaultInjection, CliReportsAWriteThatFailsPartWay) {
    // SIGXFSZ stays at its default in the child: corvix-cli must ignore it to report the file.
    const ChildResult result =
        ChildProcess::run({CORVIX_CLI_PATH, operationName(GetParam()), "-f", "-q", "-o",
                           out.string(), source().string()},
                          ChildOptions::limitedTo(FileCipher::kCipherChunkSize + 5000));
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.errors.find(source().string()), std::string::npos) << result.errors;
    expectEarlierFileKeptAndNoTemporary();
}

TEST_P(FaultInjection, SourceThatShrinksMidRunIsAFailure) {
    // Inside the second chunk, exactly at its start, and empty.
    const std::uint64_t boundary =
        encrypting() ? FileCipher::kPlainChunkSize : 25 + FileCipher::kCipherChunkSize;
    for (const std::uint64_t size : {boundary + 7, boundary, std::uint64_t{0}}) {
        SCOPED_TRACE("shrunk to " + std::to_string(size));
        const Bytes original = *readFile(source());
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
    EXPECT_TRUE(ScratchFolder::temporaryFiles(out).empty());
}

TEST_P(FaultInjection, SourceThatIsNotARegularFileIsAFailure) {
    const auto pipe = scratch / "pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    for (const auto& path : {scratch / "missing", pipe, out}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(run(path, destination()).code(), Report::failedOnce());
        expectEarlierFileKeptAndNoTemporary();
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
    EXPECT_TRUE(ScratchFolder::temporaryFiles(scratch.path()).empty());
}

TEST_P(FaultInjection, DestinationThatIsAFolderIsAFailureAndKeepsTheFolder) {
    const auto folder = out / "taken";
    std::filesystem::create_directory(folder);
    writeFile(folder / "inside", Bytes{'i'});
    EXPECT_EQ(run(source(), folder).code(), Report::failedOnce());
    EXPECT_EQ(ScratchFolder::entries(folder), std::vector<std::string>{"inside"});
    EXPECT_TRUE(ScratchFolder::temporaryFiles(out).empty());
}

TEST_P(FaultInjection, CliOutputFolderThatIsAFileIsAFailure) {
    const auto folderFile = scratch / "folder-file";
    writeFile(folderFile, Bytes{'f'});
    const ChildResult result = ChildProcess::run({CORVIX_CLI_PATH, operationName(GetParam()), "-q",
                                                  "-o", folderFile.string(), source().string()});
    EXPECT_EQ(result.exitCode, 1) << result.errors;
    EXPECT_EQ(*readFile(folderFile), Bytes{'f'});
    EXPECT_TRUE(ScratchFolder::temporaryFiles(scratch.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(Both, FaultInjection,
                         ::testing::Values(Operation::Encrypt, Operation::Decrypt),
                         [](const auto& info) { return operationName(info.param); });

// An output stream that takes `capacity` bytes and then fails, like a full disk.
class FailingOutputStream final : public OutputStream {
public:
    explicit FailingOutputStream(std::size_t capacity) : capacity_(capacity) {}
    [[nodiscard]] bool hasSpaceAvailable() const override { return written_ < capacity_; }
    std::ptrdiff_t write(const std::uint8_t*, std::size_t n) override {
        if (written_ >= capacity_) {
            return -1;
        }
        const std::size_t count = std::min(n, capacity_ - written_);
        written_ += count;
        return static_cast<std::ptrdiff_t>(count);
    }

private:
    std::size_t capacity_;
    std::size_t written_ = 0;
};

TEST(FailingOutputStream, DecryptIntoReportsTheFailedWriteAndStopsCalling) {
    ScratchFolder scratch;
    writeFile(scratch / "data", patternBytes(kSourceSize, 6));
    encryptWithBuiltInKey(scratch / "data", scratch / "data.enc");
    for (const std::size_t capacity :
         {std::size_t{0}, std::size_t{100}, FileCipher::kPlainChunkSize + 1}) {
        FailingOutputStream sink(capacity);
        int progress = 0;
        const RunOutcome outcome = FileCipher::decryptInto(
            (scratch / "data.enc").string(), sink, CorvixKey::aesKey(), CorvixKey::ivBytes(),
            {[&](std::uint64_t, std::uint64_t) { ++progress; }, {}});
        EXPECT_EQ(outcome.status, RunOutcome::Status::Failed) << capacity;
        EXPECT_EQ(progress, static_cast<int>(capacity / FileCipher::kPlainChunkSize)) << capacity;
    }
}

} // namespace
} // namespace corvix::reliability
