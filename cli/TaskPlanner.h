#pragma once

#include "CommandLine.h"
#include "FileTask.h"

#include <filesystem>
#include <string>
#include <vector>

namespace corvix::cli {

/// Turns the paths on the command line into tasks, in a stable order: the arguments as given,
/// and the files of a folder sorted by name, folder by folder, so that every run (whatever the
/// number of jobs) lists the same files in the same order.
class TaskPlanner {
public:
    explicit TaskPlanner(const Options& options);

    [[nodiscard]] std::vector<FileTask> plan() const;

private:
    void addArgument(const std::string& argument, std::vector<FileTask>& tasks) const;
    /// `inPlace`: the tree is its own output folder.
    void addTree(const std::filesystem::path& top, const std::filesystem::path& relative,
                 bool inPlace, std::vector<FileTask>& tasks) const;
    void addFile(const std::filesystem::path& input, std::uint64_t size, const OutputFolder& folder,
                 const std::filesystem::path& relativeFolder, std::vector<FileTask>& tasks) const;

    /// In a folder walk, whether a file of this name is an input at all.
    [[nodiscard]] bool takesName(const std::filesystem::path& name, bool inPlace) const;
    [[nodiscard]] bool isOutputFolder(const std::filesystem::path& folder) const;

    Action action_;
    Options options_;
};

} // namespace corvix::cli
