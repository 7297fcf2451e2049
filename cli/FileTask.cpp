#include "FileTask.h"

#include "Files/AtomicFileWriter.h"
#include "Files/FileInputStream.h"
#include "Format/FileCipher.h"

#include <cerrno>
#include <new>
#include <system_error>

namespace corvix::cli {

namespace {

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

TaskResult FileTask::failed(const std::error_code& code, std::string reason) const {
    return Error{code, input(), std::move(reason)};
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
            auto opened = input_.tree->openBeneath(folderOf(input_.relative), false);
            if (!opened) {
                const std::error_code code = opened.error().code;
                return failed(code, code.value() == ELOOP
                                        ? "a folder on the way is now a symbolic link; it is "
                                          "not followed"
                                        : "cannot open its folder: " + code.message());
            }
            folder = std::move(*opened);
        }
        FileInputStream input = streamFor(input_, folder);
        if (Outcome<> opened = input.open(); !opened) {
            const std::error_code code = opened.error().code;
            return code.value() == ELOOP
                       ? failed(code, "is now a symbolic link; it is not followed")
                       : TaskResult(opened.error());
        }
        return runOpened(input, settings, callbacks);
    } catch (const std::bad_alloc&) {
        return failed(std::make_error_code(std::errc::not_enough_memory), "not enough memory");
    } catch (const std::exception& error) {
        return failed(std::make_error_code(std::errc::io_error), error.what());
    }
}

TaskResult FileTask::runOpened(FileInputStream& input, const RunSettings& settings,
                               const ChunkCallbacks& callbacks) const {
    if (action_ != Action::Verify) {
        return write(input, settings, callbacks);
    }
    // The body streams through one chunk buffer at a time, so memory does not grow with it.
    DiscardingOutputStream nowhere;
    return resultOf(
        FileCipher::decryptInto(input, nowhere, settings.material, settings.headerText, callbacks));
}

TaskResult FileTask::resultOf(const Outcome<>& outcome) const {
    if (outcome) {
        return Done{};
    }
    if (outcome.error().code == Errc::cancelled) {
        return failed(outcome.error().code, "interrupted");
    }
    return outcome.error();
}

TaskResult FileTask::write(FileInputStream& input, const RunSettings& settings,
                           const ChunkCallbacks& callbacks) const {
    auto folder = folder_->prepare(relativeOutput_);
    if (!folder) {
        return folder.error();
    }
    if (auto early = checkExistingOutput(settings, *folder)) {
        return *early;
    }
    AtomicFileWriter writer(*folder, lastName(relativeOutput_), *output());
    return resultOf(
        action_ == Action::Encrypt
            ? FileCipher::encrypt(input, writer, settings.headerText, settings.material, callbacks)
            : FileCipher::decrypt(input, writer, settings.material, settings.headerText,
                                  callbacks));
}

std::optional<TaskResult> FileTask::checkExistingOutput(const RunSettings& settings,
                                                        const OpenFolder& folder) const {
    const std::string target = *output();
    const std::string name = lastName(relativeOutput_);
    auto found = folder.status(name, false);
    if (!found) {
        if (found.error().code == std::errc::no_such_file_or_directory) {
            return std::nullopt;
        }
        return Error::system(found.error().code, target, "cannot look at the output");
    }
    struct stat info = *found;
    // What a link leads to decides, as for the writer; a dangling one is only a name.
    if (S_ISLNK(info.st_mode)) {
        const auto target = folder.status(name, true);
        info.st_mode = target ? target->st_mode : S_IFREG;
    }
    const auto exists = std::make_error_code(std::errc::file_exists);
    if (!S_ISREG(info.st_mode)) {
        return Error{exists, target, "exists and is not a regular file; it is left as it is"};
    }
    switch (settings.existingOutput) {
    case ExistingOutput::Replace:
        return std::nullopt;
    case ExistingOutput::Refuse:
        return Error{exists, target, "exists (-f replaces it, -u replaces it when older)"};
    case ExistingOutput::ReplaceOlder:
        break;
    }
    // As make does: an output at least as new as its input is up to date.
    if (!isNewer(input_.status.st_mtim, info.st_mtim)) {
        return TaskResult(Done{"output " + target + " is up to date"});
    }
    return std::nullopt;
}

} // namespace corvix::cli
