#pragma once

#include "OutputFolder.h"
#include "RunSettings.h"
#include "TaskResult.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>

namespace corvix::cli {

enum class Action { Encrypt, Decrypt, Verify };

/// One input file and what to make of it: an output under an output folder, or only a check.
/// A task can also be settled while planning (a folder without -r, a link that is skipped),
/// and then only reports that result.
class FileTask {
public:
    /// A file to encrypt or decrypt into `folder` / `relativeOutput`.
    FileTask(Action action, std::filesystem::path input, std::uint64_t size, OutputFolder folder,
             std::filesystem::path relativeOutput);
    /// A file to verify.
    FileTask(std::filesystem::path input, std::uint64_t size);
    /// A path whose result is known without running anything.
    FileTask(std::filesystem::path input, TaskResult settled);

    [[nodiscard]] const std::filesystem::path& input() const { return input_; }
    [[nodiscard]] std::optional<std::filesystem::path> output() const;
    [[nodiscard]] std::uint64_t size() const { return size_; }
    [[nodiscard]] bool isSettled() const { return settled_.has_value(); }

    /// Runs the task; `onBytes` hears of input bytes as they are consumed (any thread).
    [[nodiscard]] TaskResult run(const RunSettings& settings,
                                 const std::function<void(std::uint64_t)>& onBytes) const;

private:
    [[nodiscard]] std::optional<TaskResult> checkExistingOutput(const RunSettings& settings) const;

    Action action_ = Action::Verify;
    std::filesystem::path input_;
    std::uint64_t size_ = 0;
    std::optional<OutputFolder> folder_;
    std::filesystem::path relativeOutput_;
    std::optional<TaskResult> settled_;
};

} // namespace corvix::cli
