#pragma once

#include "Format/ChunkPipeline.h"
#include "InputFile.h"
#include "OutputFolder.h"
#include "RunSettings.h"
#include "TaskResult.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace corvix {
class AtomicFileWriter;
class FileInputStream;
} // namespace corvix

namespace corvix::cli {

enum class Action { Encrypt, Decrypt, Verify, List };

/// One input file and what to make of it: an output under an output folder, or only a check.
/// A task can also be settled while planning (a folder without -r, a link that is skipped),
/// and then only reports that result.
class FileTask {
public:
    /// A file to encrypt or decrypt into `folder` / `relativeOutput`.
    FileTask(Action action, InputFile input, OutputFolder folder, std::string relativeOutput);
    /// A file to verify (or list).
    explicit FileTask(InputFile input, Action action = Action::Verify);
    /// A path whose result is known without running anything.
    FileTask(std::string input, TaskResult settled);

    [[nodiscard]] const std::string& input() const { return input_.shown; }
    [[nodiscard]] std::optional<std::string> output() const;
    [[nodiscard]] std::uint64_t size() const;
    [[nodiscard]] const InputFile& inputFile() const { return input_; }
    [[nodiscard]] bool isSettled() const { return settled_.has_value(); }

    /// Runs the tasks of a batch, all of one action, and gives their results in order, or
    /// nothing for a file that the run was stopped before (before its first chunk); `onBytes`
    /// hears of input bytes as they are consumed (any thread). Every failure, running out of
    /// memory included, is the result of one file alone. Files to encrypt go through the cipher
    /// together, so that small ones share its lanes.
    [[nodiscard]] static std::vector<std::optional<TaskResult>>
    runEach(std::span<const FileTask* const> batch, const RunSettings& settings,
            const std::function<void(std::uint64_t)>& onBytes);

private:
    struct Folders;
    struct Opened;

    /// Opens the input and, for an output, its writer: nothing when the file is ready to run,
    /// else how the task ends.
    [[nodiscard]] std::optional<TaskResult> open(Opened& file, Folders& folders,
                                                 const RunSettings& settings) const;
    /// Opens (or opens again) the input: nothing when it is open, else how the task ends.
    [[nodiscard]] std::optional<TaskResult> openInput(Opened& file) const;
    /// Decrypts, verifies or lists the opened file.
    [[nodiscard]] TaskResult runOpened(Opened& file, const RunSettings& settings) const;
    /// Verify with a manifest: whether the file is the one it lists.
    [[nodiscard]] TaskResult checkListed(FileInputStream& input, const RunSettings& settings) const;
    /// Whether the output may be written: nothing when it may, else how the task ends.
    [[nodiscard]] std::optional<TaskResult> checkExistingOutput(const RunSettings& settings,
                                                                AtomicFileWriter& writer,
                                                                const OpenFolder& folder) const;
    /// The task's end after a run of the format.
    [[nodiscard]] TaskResult resultOf(const Outcome<>& outcome) const;
    /// A failure of this file, told from its input's side.
    [[nodiscard]] TaskResult failed(const std::error_code& code, std::string reason) const;

    Action action_ = Action::Verify;
    InputFile input_;
    std::optional<OutputFolder> folder_;
    std::string relativeOutput_;
    std::optional<TaskResult> settled_;
};

} // namespace corvix::cli
