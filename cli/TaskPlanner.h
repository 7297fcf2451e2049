#pragma once

#include "CommandLine.h"
#include "FileTask.h"

#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace corvix::cli {

/// Turns the paths on the command line into tasks, in a stable order: the arguments as given,
/// and the files of a folder sorted by name, folder by folder, so that every run (whatever the
/// number of jobs) lists the same files in the same order.
///
/// Folders are walked through descriptors, each one opened from its parent without following
/// links, so a folder swapped for a link during the walk is reported, not walked.
class TaskPlanner {
public:
    explicit TaskPlanner(const Options& options);

    [[nodiscard]] std::vector<FileTask> plan() const;

private:
    /// What a whole walk shares: the folder named on the command line, held open, and whether
    /// it is its own output folder.
    struct Walk {
        std::shared_ptr<const OpenFolder> top;
        std::string shownTop;
        bool inPlace = false;
    };

    void addArgument(const std::string& argument, std::vector<FileTask>& tasks) const;
    /// Walks `folder`, found at `relative` below the top. `relative` is one text for the whole
    /// walk, grown and cut back folder by folder, so memory grows with the depth, not its square.
    void addTree(const Walk& walk, const OpenFolder& folder, std::string& relative,
                 std::vector<FileTask>& tasks) const;
    void addFile(InputFile input, const OutputFolder& folder, const std::string& relativeFolder,
                 std::vector<FileTask>& tasks) const;

    /// In a folder walk, whether a file of this name is an input at all.
    [[nodiscard]] bool takesName(const std::string& name, bool inPlace) const;
    [[nodiscard]] bool isOutputFolder(const struct stat& folder) const;

    Action action_;
    Options options_;
    /// -o DIR: one folder, opened once, for every task.
    std::optional<OutputFolder> output_;
    std::optional<struct stat> outputStatus_;
};

} // namespace corvix::cli
