#pragma once

#include "FileTask.h"
#include "RunSettings.h"

#include <functional>
#include <vector>

namespace corvix::cli {

class ProgressBar;
class ResultReporter;

/// Runs the tasks on up to `jobs` worker threads. Results reach the reporter on the calling
/// thread and in task order, whatever order the workers finish in; that thread also keeps the
/// progress bar drawn, so no two threads ever write to the terminal.
class TaskRunner {
public:
    TaskRunner(const std::vector<FileTask>& tasks, const RunSettings& settings, unsigned jobs);

    /// `onReported`, when given, hears of each result right after the reporter, in task order.
    void run(ResultReporter& reporter, ProgressBar& bar,
             const std::function<void(const FileTask&, const TaskResult&)>& onReported = {}) const;

private:
    const std::vector<FileTask>& tasks_;
    const RunSettings& settings_;
    unsigned jobs_;
};

} // namespace corvix::cli
