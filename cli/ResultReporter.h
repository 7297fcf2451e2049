#pragma once

#include "FileTask.h"
#include "TaskResult.h"

#include <cstddef>

namespace corvix::cli {

/// Tells the user how each file ended, one line per file, and sums up at the end.
///
/// Lines: "ok IN -> OUT" and "skipped IN: WHY" on stdout (not with -q); a failure always gets
/// "corvix-cli: IN: WHY" on stderr. Json: one object per file on stdout instead of the stdout
/// lines, so that stdout holds nothing else, and the summary goes to stderr.
class ResultReporter {
public:
    enum class Style { Lines, Json };

    ResultReporter(Style style, bool quiet);

    void report(const FileTask& task, const TaskResult& result);
    /// "N ok, N failed, N skipped" (not with -q).
    void summarize() const;

    [[nodiscard]] bool anyFailed() const { return failed_ > 0; }

private:
    [[nodiscard]] std::string line(const FileTask& task, const TaskResult& result) const;
    [[nodiscard]] static std::string jsonLine(const FileTask& task, const TaskResult& result);

    Style style_;
    bool quiet_;
    std::size_t ok_ = 0;
    std::size_t failed_ = 0;
    std::size_t skipped_ = 0;
};

} // namespace corvix::cli
