#include "FileTask.h"

#include "Crypto/FileCipher.h"
#include "Verifier.h"

#include <system_error>

namespace corvix::cli {

namespace fs = std::filesystem;

FileTask::FileTask(Action action, fs::path input, std::uint64_t size, OutputFolder folder,
                   fs::path relativeOutput)
    : action_(action), input_(std::move(input)), size_(size), folder_(std::move(folder)),
      relativeOutput_(std::move(relativeOutput)) {}

FileTask::FileTask(fs::path input, std::uint64_t size)
    : action_(Action::Verify), input_(std::move(input)), size_(size) {}

FileTask::FileTask(fs::path input, TaskResult settled)
    : input_(std::move(input)), settled_(std::move(settled)) {}

std::optional<fs::path> FileTask::output() const {
    if (!folder_) {
        return std::nullopt;
    }
    return folder_->root() / relativeOutput_;
}

std::optional<TaskResult> FileTask::checkExistingOutput(const RunSettings& settings) const {
    const fs::path target = *output();
    std::error_code error;
    const fs::file_status status = fs::symlink_status(target, error);
    if (!fs::exists(status)) {
        return std::nullopt;
    }
    if (fs::is_directory(status)) {
        return TaskResult::failed("output " + target.string() + " is a folder");
    }
    switch (settings.existingOutput) {
    case ExistingOutput::Replace:
        return std::nullopt;
    case ExistingOutput::Refuse:
        return TaskResult::failed("output " + target.string() +
                                  " exists (-f replaces it, -u replaces it when older)");
    case ExistingOutput::ReplaceOlder:
        break;
    }
    const auto outputTime = fs::last_write_time(target, error);
    const auto inputTime = error ? outputTime : fs::last_write_time(input_, error);
    if (error) {
        return TaskResult::failed("cannot compare the times of " + target.string() + ": " +
                                  error.message());
    }
    // As make does: an output at least as new as its input is up to date.
    if (outputTime >= inputTime) {
        return TaskResult::skipped("output " + target.string() + " is up to date");
    }
    return std::nullopt;
}

TaskResult FileTask::run(const RunSettings& settings,
                         const std::function<void(std::uint64_t)>& onBytes) const {
    if (settled_) {
        return *settled_;
    }
    std::uint64_t reported = 0;
    ChunkCallbacks callbacks;
    callbacks.onProgress = [&reported, &onBytes](std::uint64_t done, std::uint64_t) {
        onBytes(done - reported);
        reported = done;
    };
    callbacks.shouldCancel = settings.shouldStop;

    RunOutcome outcome;
    if (action_ == Action::Verify) {
        outcome = Verifier(settings.material, settings.headerText)
                      .verify(input_.string(), callbacks);
    } else {
        if (auto early = checkExistingOutput(settings)) {
            return *early;
        }
        if (auto problem = folder_->prepare(relativeOutput_)) {
            return TaskResult::failed(*problem);
        }
        const std::string target = output()->string();
        outcome = action_ == Action::Encrypt
                      ? FileCipher::encrypt(input_.string(), target, settings.headerText,
                                            settings.material, callbacks)
                      : FileCipher::decrypt(input_.string(), target, settings.material, callbacks);
    }
    switch (outcome.status) {
    case RunOutcome::Status::Completed:
        return TaskResult::ok();
    case RunOutcome::Status::Cancelled:
        return TaskResult::failed("interrupted");
    case RunOutcome::Status::Failed:
        break;
    }
    return TaskResult::failed(outcome.reason);
}

} // namespace corvix::cli
