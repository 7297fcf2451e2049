#include "TaskPlanner.h"

#include "Files/AtomicFileWriter.h"

#include <algorithm>
#include <cerrno>
#include <set>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

namespace corvix::cli {

namespace fs = std::filesystem;

namespace {

const std::string kEncSuffix = ".enc";

Action actionFor(Command command) {
    return command == Command::Encrypt    ? Action::Encrypt
           : command == Command::Decrypt  ? Action::Decrypt
           : command == Command::Manifest ? Action::List
                                          : Action::Verify;
}

TaskResult failed(int number, std::string path, std::string reason) {
    return Error{std::error_code(number, std::generic_category()), std::move(path),
                 std::move(reason)};
}

TaskResult skipped(std::string why) {
    return Done{std::move(why)};
}

/// The output's file name for the input `path`.
Outcome<std::string> outputName(Action action, const std::string& path) {
    const std::string name = fs::path(path).filename().string();
    if (action == Action::Encrypt) {
        return name + kEncSuffix;
    }
    const auto refused = [&](const std::string& reason) {
        return Error{std::make_error_code(std::errc::invalid_argument), path, reason};
    };
    if (!name.ends_with(kEncSuffix)) {
        return refused("name does not end in .enc, so there is no name to give the output");
    }
    const std::string stripped = name.substr(0, name.size() - kEncSuffix.size());
    if (stripped.empty() || stripped == "." || stripped == "..") {
        return refused("name would decrypt to '" + stripped + "', which is no file name");
    }
    return stripped;
}

// A task fails instead of racing another when an earlier task writes the same output, or when
// its output is another task's input: which of the two came first would depend on -j.
void settleSharedOutputs(std::vector<FileTask>& tasks) {
    std::set<std::pair<dev_t, ino_t>> inputs;
    for (const FileTask& task : tasks) {
        if (!task.isSettled()) {
            inputs.emplace(task.inputFile().status.st_dev, task.inputFile().status.st_ino);
        }
    }
    // An output folder that takes more than one output is read once: an output whose name is
    // not in it is no input. (A run with one output there, such as a build's, looks at that
    // output alone, however many files the folder holds.)
    struct Listing {
        int outputs = 0;
        std::optional<std::unordered_set<std::string>> names;
    };
    std::unordered_map<std::string, Listing> folders;
    const auto mayExist = [&folders](const std::string& path) {
        const auto slash = path.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
        Listing& listing = folders[folder];
        if (++listing.outputs == 2) {
            const auto opened = OpenFolder::open(folder);
            if (const auto read = opened ? opened->names() : opened.error()) {
                listing.names.emplace(read->begin(), read->end());
            } else if (read.error().code == std::errc::no_such_file_or_directory) {
                listing.names.emplace(); // a folder still to be made holds nothing
            }
        }
        return !listing.names || listing.names->contains(path.substr(slash + 1));
    };
    std::unordered_map<std::string, std::string> writers;
    std::error_code error;
    const fs::path here = fs::current_path(error);
    for (FileTask& task : tasks) {
        const auto output = task.output();
        if (!output) {
            continue;
        }
        const auto [earlier, isFirst] =
            writers.emplace((here / *output).lexically_normal().string(), task.input());
        struct stat existing {};
        if (!isFirst) {
            task = FileTask(task.input(),
                            failed(EEXIST, *output, "is also the output of " + earlier->second));
        } else if (mayExist(*output) && ::stat(output->c_str(), &existing) == 0 &&
                   inputs.contains({existing.st_dev, existing.st_ino})) {
            task = FileTask(task.input(), failed(EEXIST, *output, "is also an input of this run"));
        }
    }
}

} // namespace

TaskPlanner::TaskPlanner(const Options& options)
    : action_(actionFor(options.command)), options_(options) {
    if (options.outputFolder) {
        output_.emplace(*options.outputFolder, true);
        struct stat info {};
        if (::stat(options.outputFolder->c_str(), &info) == 0) {
            outputStatus_ = info;
        }
    }
}

std::vector<FileTask> TaskPlanner::plan() const {
    std::vector<FileTask> tasks;
    tasks.reserve(options_.paths.size());
    for (const std::string& argument : options_.paths) {
        addArgument(argument, tasks);
    }
    settleSharedOutputs(tasks);
    return tasks;
}

void TaskPlanner::addArgument(const std::string& input, std::vector<FileTask>& tasks) const {
    struct stat info {};
    // A link named on the command line is followed, as cp does; links met in a walk are not.
    if (::stat(input.c_str(), &info) != 0) {
        tasks.emplace_back(input, errno == ENOENT ? failed(ENOENT, input, "no such file or folder")
                                                  : Error::system(errno, input, {}));
        return;
    }
    if (S_ISDIR(info.st_mode)) {
        if ((action_ == Action::Encrypt || action_ == Action::Decrypt) && !options_.recursive) {
            tasks.emplace_back(input, failed(EISDIR, input, "is a folder (-r walks it)"));
            return;
        }
        auto opened = OpenFolder::open(input);
        if (!opened) {
            tasks.emplace_back(input,
                               Error::system(opened.error().code, input, "cannot read the folder"));
            return;
        }
        const auto top = std::make_shared<const OpenFolder>(std::move(*opened));
        std::string relative;
        addTree(Walk{top, input, isOutputFolder(info)}, *top, relative, tasks);
        return;
    }
    if (!S_ISREG(info.st_mode)) {
        tasks.emplace_back(input, failed(ENOTSUP, input, "not a regular file"));
        return;
    }
    addFile(InputFile{input, nullptr, {}, info},
            output_.value_or(OutputFolder(fs::path(input).parent_path().string(), false)), {},
            tasks);
}

void TaskPlanner::addTree(const Walk& walk, const OpenFolder& folder, std::string& relative,
                          std::vector<FileTask>& tasks) const {
    auto listed = folder.names();
    if (!listed) {
        const std::string shown = OutputFolder::joined(walk.shownTop, relative);
        tasks.emplace_back(shown,
                           Error::system(listed.error().code, shown, "cannot read the folder"));
        return;
    }
    std::vector<std::string>& names = *listed;
    std::sort(names.begin(), names.end());

    const std::size_t folderLength = relative.size();
    const auto shown = [&] { return OutputFolder::joined(walk.shownTop, relative); };
    for (const std::string& name : names) {
        relative.resize(folderLength);
        relative += (folderLength == 0 ? "" : "/") + name;
        const auto status = folder.status(name, false);
        if (!status) {
            tasks.emplace_back(shown(), Error::system(status.error().code, shown(), "cannot read"));
            continue;
        }
        const struct stat& info = *status;
        if (S_ISLNK(info.st_mode)) {
            if (takesName(name, walk.inPlace)) {
                tasks.emplace_back(shown(), skipped("symbolic link, not followed"));
            }
        } else if (S_ISDIR(info.st_mode)) {
            if (isOutputFolder(info)) {
                continue;
            }
            const auto inner = folder.openBeneath(name, false);
            if (!inner) {
                const std::error_code code = inner.error().code;
                tasks.emplace_back(
                    shown(), code.value() == ELOOP
                                 ? TaskResult(Error{code, shown(),
                                                    "became a symbolic link; it is not followed"})
                                 : Error::system(code, shown(), "cannot read the folder"));
                continue;
            }
            addTree(walk, *inner, relative, tasks);
        } else if (!takesName(name, walk.inPlace)) {
            continue;
        } else if (!S_ISREG(info.st_mode)) {
            tasks.emplace_back(shown(), skipped("not a regular file"));
        } else {
            addFile(InputFile{shown(), walk.top, relative, info},
                    output_.value_or(OutputFolder({}, false)), relative.substr(0, folderLength),
                    tasks);
        }
    }
    relative.resize(folderLength);
}

void TaskPlanner::addFile(InputFile input, const OutputFolder& folder,
                          const std::string& relativeFolder, std::vector<FileTask>& tasks) const {
    if (action_ == Action::Verify || action_ == Action::List) {
        tasks.emplace_back(std::move(input), action_);
        return;
    }
    const auto name = outputName(action_, input.shown);
    if (!name) {
        tasks.emplace_back(input.shown, name.error());
        return;
    }
    tasks.emplace_back(action_, std::move(input), folder,
                       OutputFolder::joined(relativeFolder, *name));
}

bool TaskPlanner::takesName(const std::string& name, bool inPlace) const {
    const bool encrypted = name.ends_with(kEncSuffix);
    // A tree encrypted into itself holds the outputs of earlier runs; they are no inputs, and
    // neither is what a killed run left behind.
    if (action_ == Action::Encrypt) {
        return !(inPlace && encrypted) && !AtomicFileWriter::isTemporaryName(name);
    }
    return encrypted;
}

bool TaskPlanner::isOutputFolder(const struct stat& folder) const {
    // Outputs of an earlier run inside the tree are not inputs of this one.
    return outputStatus_ && folder.st_dev == outputStatus_->st_dev &&
           folder.st_ino == outputStatus_->st_ino;
}

} // namespace corvix::cli
