#include "FileTask.h"

#include "Crypto/AtomicFileWriter.h"
#include "Crypto/FileCipher.h"
#include "Crypto/FileInputStream.h"
#include "Crypto/HeaderCheck.h"
#include "Verifier.h"

#include <cerrno>
#include <new>
#include <system_error>

namespace corvix::cli {

namespace {

TaskResult resultOf(const RunOutcome& outcome) {
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

std::string lastName(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool isNewer(const timespec& a, const timespec& b) {
    return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

// An input stream over the planned file: by its path, or by its name in the folder reached
// from the walked tree.
FileInputStream streamFor(const InputFile& input, const OpenFolder& folder) {
    return input.tree ? FileInputStream(folder, lastName(input.relative), input.shown)
                      : FileInputStream(input.shown);
}

} // namespace

FileTask::FileTask(Action action, InputFile input, OutputFolder folder, std::string relativeOutput)
    : action_(action), input_(std::move(input)), folder_(std::move(folder)),
      relativeOutput_(std::move(relativeOutput)) {}

FileTask::FileTask(InputFile input) : action_(Action::Verify), input_(std::move(input)) {}

FileTask::FileTask(std::string input, TaskResult settled) : settled_(std::move(settled)) {
    input_.shown = std::move(input);
}

std::uint64_t FileTask::size() const {
    return input_.status.st_size > 0 ? static_cast<std::uint64_t>(input_.status.st_size) : 0;
}

std::optional<std::string> FileTask::output() const {
    if (!folder_) {
        return std::nullopt;
    }
    return folder_->pathOf(relativeOutput_);
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
    try {
        OpenFolder folder;
        if (input_.tree) {
            std::error_code error;
            folder = input_.tree->openBeneath(folderOf(input_.relative), false, error);
            if (error) {
                return TaskResult::failed(error.value() == ELOOP
                                              ? "a folder on the way is now a symbolic link; "
                                                "it is not followed"
                                              : "cannot open its folder: " + error.message());
            }
        }
        FileInputStream input = streamFor(input_, folder);
        if (!input.open()) {
            return TaskResult::failed(input.error().value() == ELOOP
                                          ? "is now a symbolic link; it is not followed"
                                          : "cannot open: " + input.error().message());
        }
        return runOpened(input, settings, callbacks);
    } catch (const std::bad_alloc&) {
        return TaskResult::failed("not enough memory");
    } catch (const std::exception& error) {
        return TaskResult::failed(error.what());
    }
}

TaskResult FileTask::runOpened(FileInputStream& input, const RunSettings& settings,
                               const ChunkCallbacks& callbacks) const {
    if (action_ == Action::Verify) {
        return resultOf(Verifier(settings.material, settings.headerText).verify(input, callbacks));
    }
    // A file whose header is not ours would decrypt to nothing or to noise: it is refused
    // before anything is made for it.
    if (action_ == Action::Decrypt) {
        const RunOutcome header = HeaderCheck::check(input, settings.headerText, settings.material);
        if (!header.succeeded()) {
            return resultOf(header);
        }
    }
    return write(input, settings, callbacks);
}

TaskResult FileTask::write(FileInputStream& input, const RunSettings& settings,
                           const ChunkCallbacks& callbacks) const {
    auto prepared = folder_->prepare(relativeOutput_);
    if (const auto* problem = std::get_if<std::string>(&prepared)) {
        return TaskResult::failed(*problem);
    }
    const OpenFolder& folder = std::get<OpenFolder>(prepared);
    if (auto early = checkExistingOutput(settings, folder)) {
        return *early;
    }
    AtomicFileWriter writer(folder, lastName(relativeOutput_), *output());
    return resultOf(
        action_ == Action::Encrypt
            ? FileCipher::encrypt(input, writer, settings.headerText, settings.material, callbacks)
            : FileCipher::decrypt(input, writer, settings.material, callbacks));
}

std::optional<TaskResult> FileTask::checkExistingOutput(const RunSettings& settings,
                                                        const OpenFolder& folder) const {
    const std::string target = *output();
    const std::string name = lastName(relativeOutput_);
    struct stat info {};
    std::error_code error;
    if (!folder.status(name, info, false, error)) {
        if (error == std::errc::no_such_file_or_directory) {
            return std::nullopt;
        }
        return TaskResult::failed("cannot look at the output " + target + ": " + error.message());
    }
    // What a link leads to decides, as for the writer; a dangling one is only a name.
    if (S_ISLNK(info.st_mode) && !folder.status(name, info, true, error)) {
        info.st_mode = S_IFREG;
    }
    if (!S_ISREG(info.st_mode)) {
        return TaskResult::failed("output " + target +
                                  " exists and is not a regular file; it is left as it is");
    }
    switch (settings.existingOutput) {
    case ExistingOutput::Replace:
        return std::nullopt;
    case ExistingOutput::Refuse:
        return TaskResult::failed("output " + target +
                                  " exists (-f replaces it, -u replaces it when older)");
    case ExistingOutput::ReplaceOlder:
        break;
    }
    // As make does: an output at least as new as its input is up to date.
    if (!isNewer(input_.status.st_mtim, info.st_mtim)) {
        return TaskResult::skipped("output " + target + " is up to date");
    }
    return std::nullopt;
}

} // namespace corvix::cli
