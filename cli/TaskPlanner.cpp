#include "TaskPlanner.h"

#include <algorithm>
#include <map>
#include <system_error>
#include <variant>

namespace corvix::cli {

namespace fs = std::filesystem;

namespace {

const std::string kEncSuffix = ".enc";

Action actionFor(Command command) {
    switch (command) {
    case Command::Encrypt:
        return Action::Encrypt;
    case Command::Decrypt:
        return Action::Decrypt;
    default:
        return Action::Verify;
    }
}

/// The output's file name, or why the input cannot have one.
std::variant<fs::path, std::string> outputName(Action action, const fs::path& name) {
    const std::string text = name.string();
    if (action == Action::Encrypt) {
        return fs::path(text + kEncSuffix);
    }
    if (!text.ends_with(kEncSuffix)) {
        return std::string("name does not end in .enc, so there is no name to give the output");
    }
    const std::string stripped = text.substr(0, text.size() - kEncSuffix.size());
    if (stripped.empty() || stripped == "." || stripped == "..") {
        return "name would decrypt to '" + stripped + "', which is no file name";
    }
    return fs::path(stripped);
}

// Later tasks that would write where an earlier one writes fail instead of racing it.
void settleSharedOutputs(std::vector<FileTask>& tasks) {
    std::map<fs::path, fs::path> writers;
    for (FileTask& task : tasks) {
        const auto output = task.output();
        if (!output) {
            continue;
        }
        std::error_code error;
        const fs::path key = fs::absolute(*output, error).lexically_normal();
        const auto [earlier, isFirst] = writers.emplace(key, task.input());
        if (!isFirst) {
            task = FileTask(task.input(), TaskResult::failed("output " + output->string() +
                                                             " is also the output of " +
                                                             earlier->second.string()));
        }
    }
}

} // namespace

TaskPlanner::TaskPlanner(const Options& options)
    : action_(actionFor(options.command)), options_(options) {}

std::vector<FileTask> TaskPlanner::plan() const {
    std::vector<FileTask> tasks;
    for (const std::string& argument : options_.paths) {
        addArgument(argument, tasks);
    }
    settleSharedOutputs(tasks);
    return tasks;
}

void TaskPlanner::addArgument(const std::string& argument, std::vector<FileTask>& tasks) const {
    const fs::path input(argument);
    std::error_code error;
    // A link named on the command line is followed, as cp does; links met in a walk are not.
    const fs::file_status status = fs::status(input, error);
    if (status.type() == fs::file_type::not_found) {
        tasks.emplace_back(input, TaskResult::failed("no such file or folder"));
        return;
    }
    if (error) {
        tasks.emplace_back(input, TaskResult::failed(error.message()));
        return;
    }
    if (fs::is_directory(status)) {
        if (action_ == Action::Verify || options_.recursive) {
            addTree(input, {}, isOutputFolder(input), tasks);
        } else {
            tasks.emplace_back(input, TaskResult::failed("is a folder (-r walks it)"));
        }
        return;
    }
    if (!fs::is_regular_file(status)) {
        tasks.emplace_back(input, TaskResult::failed("not a regular file"));
        return;
    }
    const std::uint64_t size = fs::file_size(input, error);
    const fs::path folder = options_.outputFolder.value_or(input.parent_path());
    addFile(input, error ? 0 : size, OutputFolder(folder), {}, tasks);
}

void TaskPlanner::addTree(const fs::path& top, const fs::path& relative, bool inPlace,
                          std::vector<FileTask>& tasks) const {
    const fs::path folder = relative.empty() ? top : top / relative;
    std::vector<fs::directory_entry> entries;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        entries.push_back(*it);
    }
    if (error) {
        tasks.emplace_back(folder,
                           TaskResult::failed("cannot read the folder: " + error.message()));
        return;
    }
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return a.path().filename() < b.path().filename();
    });

    for (const fs::directory_entry& entry : entries) {
        const fs::path name = entry.path().filename();
        const fs::file_status status = entry.symlink_status(error);
        if (fs::is_symlink(status)) {
            if (takesName(name, inPlace)) {
                tasks.emplace_back(entry.path(),
                                   TaskResult::skipped("symbolic link, not followed"));
            }
        } else if (fs::is_directory(status)) {
            if (!isOutputFolder(entry.path())) {
                addTree(top, relative / name, inPlace, tasks);
            }
        } else if (!takesName(name, inPlace)) {
            continue;
        } else if (!fs::is_regular_file(status)) {
            tasks.emplace_back(entry.path(), TaskResult::skipped("not a regular file"));
        } else {
            const std::uint64_t size = entry.file_size(error);
            addFile(entry.path(), error ? 0 : size,
                    OutputFolder(options_.outputFolder.value_or(fs::path())), relative, tasks);
        }
    }
}

void TaskPlanner::addFile(const fs::path& input, std::uint64_t size, const OutputFolder& folder,
                          const fs::path& relativeFolder, std::vector<FileTask>& tasks) const {
    if (action_ == Action::Verify) {
        tasks.emplace_back(input, size);
        return;
    }
    auto name = outputName(action_, input.filename());
    if (const auto* reason = std::get_if<std::string>(&name)) {
        tasks.emplace_back(input, TaskResult::failed(*reason));
        return;
    }
    tasks.emplace_back(action_, input, size, folder, relativeFolder / std::get<fs::path>(name));
}

bool TaskPlanner::takesName(const fs::path& name, bool inPlace) const {
    const bool encrypted = name.string().ends_with(kEncSuffix);
    // A tree encrypted into itself holds the outputs of earlier runs; they are no inputs.
    return action_ == Action::Encrypt ? !(inPlace && encrypted) : encrypted;
}

bool TaskPlanner::isOutputFolder(const fs::path& folder) const {
    // Outputs of an earlier run inside the tree are not inputs of this one.
    std::error_code error;
    return options_.outputFolder && fs::equivalent(folder, *options_.outputFolder, error);
}

} // namespace corvix::cli
