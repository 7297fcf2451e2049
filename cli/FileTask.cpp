#include "FileTask.h"

#include "Files/AtomicFileWriter.h"
#include "Files/FileInputStream.h"
#include "Format/FileCipher.h"
#include "ManifestCommands.h"

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
FileInputStream streamFor(const InputFile& input, const OpenFolder* folder) {
    return folder != nullptr ? FileInputStream(*folder, lastName(input.relative), input.shown)
                             : FileInputStream(input.shown);
}

// A step of a task, where an exception (running out of memory too) fails the file `input`.
template <typename Step> std::optional<TaskResult> guarded(const std::string& input, Step step) {
    try {
        return step();
    } catch (const std::bad_alloc&) {
        return Error{std::make_error_code(std::errc::not_enough_memory), input,
                     "not enough memory"};
    } catch (const std::exception& error) {
        return Error{std::make_error_code(std::errc::io_error), input, error.what()};
    }
}

} // namespace

FileTask::FileTask(Action action, InputFile input, OutputFolder folder, std::string relativeOutput)
    : action_(action), input_(std::move(input)), folder_(std::move(folder)),
      relativeOutput_(std::move(relativeOutput)) {}

FileTask::FileTask(InputFile input, Action action) : action_(action), input_(std::move(input)) {}

FileTask::FileTask(std::string input, TaskResult settled) : settled_(std::move(settled)) {
    input_.shown = std::move(input);
}

std::uint64_t FileTask::size() const {
    return input_.status.st_size > 0 ? static_cast<std::uint64_t>(input_.status.st_size) : 0;
}

std::optional<std::string> FileTask::output() const {
    return folder_ ? std::optional(folder_->pathOf(relativeOutput_)) : std::nullopt;
}

TaskResult FileTask::failed(const std::error_code& code, std::string reason) const {
    return Error{code, input(), std::move(reason)};
}

// The folders the files of a batch are read from and written to: the last one opened is kept
// for the files after it in the same folder.
struct FileTask::Folders {
    struct Kept {
        std::string path;
        std::shared_ptr<const OpenFolder> folder;

        // The folder at `at`, as `open` opens it unless it is the one kept.
        template <typename Open>
        Outcome<std::shared_ptr<const OpenFolder>> reached(std::string at, Open open) {
            if (!folder || path != at) {
                auto opened = open();
                if (!opened) {
                    return opened;
                }
                path = std::move(at);
                folder = std::move(*opened);
            }
            return folder;
        }
    };
    Kept input;
    Kept output;
};

// One file of a batch, open.
struct FileTask::Opened {
    std::uint64_t reported = 0;
    ChunkCallbacks callbacks;
    std::shared_ptr<const OpenFolder> folder; // the input's, when it was reached from a tree
    std::optional<FileInputStream> input;
    ManifestEntry listing; // of the output, when the run lists them
    std::optional<AtomicFileWriter> writer;
    std::optional<TaskResult> result;
};

std::vector<std::optional<TaskResult>>
FileTask::runEach(std::span<const FileTask* const> batch, const RunSettings& settings,
                  const std::function<void(std::uint64_t)>& onBytes) {
    std::vector<Opened> files(batch.size()); // never moves: the runs below point into it
    std::vector<FileCipher::Run> encryptions;
    std::vector<std::size_t> encrypting;
    Folders folders;
    for (std::size_t i = 0; i < batch.size(); ++i) {
        const FileTask& task = *batch[i];
        Opened& file = files[i];
        file.callbacks.onProgress = [&file, &onBytes](std::uint64_t done, std::uint64_t) {
            onBytes(done - file.reported);
            file.reported = done;
        };
        file.callbacks.shouldCancel = settings.shouldStop;
        if (!task.settled_ && settings.shouldStop && settings.shouldStop()) {
            continue; // not started
        }
        file.result = guarded(task.input(), [&] { return task.open(file, folders, settings); });
        if (file.result) {
            continue;
        }
        if (task.action_ == Action::Encrypt) {
            encryptions.push_back({*file.input, *file.writer, file.callbacks,
                                   settings.list ? &file.listing : nullptr});
            encrypting.push_back(i);
        } else {
            file.result = guarded(task.input(), [&] { return task.runOpened(file, settings); });
            file.input.reset(); // its descriptor and buffer are not needed any more
        }
    }
    const auto broken = guarded({}, [&] {
        FileCipher::encryptEach(encryptions, settings.headerText, settings.material);
        return std::optional<TaskResult>();
    });
    for (std::size_t k = 0; k < encrypting.size(); ++k) {
        const FileTask& task = *batch[encrypting[k]];
        Opened& file = files[encrypting[k]];
        file.result = broken ? task.failed(broken->error().code, broken->error().reason)
                             : task.resultOf(encryptions[k].outcome);
        if (*file.result && settings.list) {
            (*file.result)->listed = std::move(file.listing);
        }
    }
    std::vector<std::optional<TaskResult>> results;
    for (Opened& file : files) {
        // A file stopped before a chunk of it was written was not started after all.
        const bool stoppedAtOnce = file.result && !*file.result &&
                                   file.result->error().code == Errc::cancelled &&
                                   file.reported == 0;
        results.push_back(stoppedAtOnce ? std::nullopt : std::move(file.result));
    }
    return results;
}

std::optional<TaskResult> FileTask::open(Opened& file, Folders& folders,
                                         const RunSettings& settings) const {
    if (settled_) {
        return *settled_;
    }
    if (input_.tree) {
        auto reached = folders.input.reached(folderOf(input_.shown), [&] {
            return OpenFolder::sharedBeneath(input_.tree, folderOf(input_.relative), false);
        });
        if (!reached) {
            const std::error_code code = reached.error().code;
            return failed(code, code.value() == ELOOP
                                    ? "a folder on the way is now a symbolic link; it is not "
                                      "followed"
                                    : "cannot open its folder: " + code.message());
        }
        file.folder = *reached;
    }
    if (auto opened = openInput(file); opened) {
        return opened;
    }
    if (action_ == Action::Verify || action_ == Action::List) {
        return std::nullopt;
    }
    const std::string target = *output();
    auto reached =
        folders.output.reached(folderOf(target), [&] { return folder_->prepare(relativeOutput_); });
    if (!reached) {
        return reached.error();
    }
    AtomicFileWriter& writer = file.writer.emplace(*reached, lastName(relativeOutput_), target);
    auto early = checkExistingOutput(settings, writer, **reached);
    if (early && *early && settings.list) {
        // An output that is up to date is listed as it is.
        FileInputStream kept(**reached, lastName(relativeOutput_), target);
        Outcome<> opened = kept.open();
        auto entry = opened ? FileCipher::describe(kept) : Outcome<ManifestEntry>(opened.error());
        if (!entry) {
            return entry.error();
        }
        (*early)->listed = std::move(*entry);
    }
    return early;
}

std::optional<TaskResult> FileTask::openInput(Opened& file) const {
    FileInputStream& input = file.input.emplace(streamFor(input_, file.folder.get()));
    if (Outcome<> opened = input.open(); !opened) {
        const std::error_code code = opened.error().code;
        return code.value() == ELOOP ? failed(code, "is now a symbolic link; it is not followed")
                                     : TaskResult(opened.error());
    }
    return std::nullopt;
}

TaskResult FileTask::runOpened(Opened& file, const RunSettings& settings) const {
    if (action_ == Action::List) {
        auto entry = FileCipher::describe(*file.input);
        return entry ? TaskResult(Done{{}, std::move(*entry)}) : TaskResult(entry.error());
    }
    if (action_ == Action::Verify && settings.manifest) {
        // The digests first; a decryption, when asked for, reads the file once more.
        TaskResult listed = checkListed(*file.input, settings);
        if (!listed || !settings.decrypt) {
            return listed;
        }
        if (auto reopened = openInput(file); reopened) {
            return *reopened;
        }
    }
    if (action_ == Action::Decrypt) {
        return resultOf(FileCipher::decrypt(*file.input, *file.writer, settings.material,
                                            settings.headerText, file.callbacks));
    }
    // The body streams through one chunk buffer at a time, so memory does not grow with it.
    DiscardingOutputStream nowhere;
    return resultOf(FileCipher::decryptInto(*file.input, nowhere, settings.material,
                                            settings.headerText, file.callbacks));
}

TaskResult FileTask::checkListed(FileInputStream& input, const RunSettings& settings) const {
    const auto path = ManifestCommands::listedPath(input_.shown, settings.manifestPath);
    const ManifestEntry* entry = path ? settings.manifest->find(*path) : nullptr;
    if (entry == nullptr) {
        return failed(make_error_code(Errc::unlistedFile),
                      "is not listed in the manifest " + settings.manifestPath);
    }
    const auto found = FileCipher::describe(input);
    if (!found) {
        return found.error();
    }
    const Outcome<> same = entry->checkFound(input_.shown, *found);
    return same ? TaskResult(Done{}) : TaskResult(same.error());
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

std::optional<TaskResult> FileTask::checkExistingOutput(const RunSettings& settings,
                                                        AtomicFileWriter& writer,
                                                        const OpenFolder& folder) const {
    const std::string& target = writer.destination();
    const std::string name = lastName(relativeOutput_);
    auto found = writer.existing();
    if (!found) {
        return Error::system(found.error().code, target, "cannot look at the output");
    }
    if (!*found) {
        return std::nullopt;
    }
    struct stat info = **found;
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
