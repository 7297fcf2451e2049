#pragma once

#include "FileTask.h"
#include "TaskResult.h"

#include <cstddef>
#include <string>

namespace corvix::cli {

/// Tells the user how each file ended, one line per file, and sums up at the end.
///
/// Lines: "ok IN -> OUT" and "skipped IN: WHY" on stdout (not with -q); a failure always gets
/// "corvix-cli: IN: WHY" on stderr. Json: one object per file on stdout instead of the stdout
/// lines, so that stdout holds nothing else, and the summary goes to stderr. Files that a
/// stopped run never started get one line on stderr for all of them.
///
/// Names may hold any byte. In lines, control characters and bytes that are not UTF-8 are
/// shown as \xHH (a backslash as \\), so a name never breaks a line or drives the terminal. In
/// JSON a name that is not UTF-8 also gets its bytes in base64 ("input_base64",
/// "output_base64"), since its text form cannot tell such names apart.
class ResultReporter {
public:
    enum class Style { Lines, Json };

    ResultReporter(Style style, bool quiet);

    /// Its stdout line waits for flush(), so that lines go out together.
    void report(const FileTask& task, const TaskResult& result);
    /// Writes the stdout lines that wait.
    void flush();
    /// A file that a stopped run never started.
    void notStarted() { ++notStarted_; }
    /// "N ok, N failed, N skipped" (not with -q).
    void summarize();

    [[nodiscard]] bool anyFailed() const { return failed_ > 0 || notStarted_ > 0; }

private:
    [[nodiscard]] static std::string line(const FileTask& task, const TaskResult& result);
    [[nodiscard]] static std::string jsonLine(const FileTask& task, const TaskResult& result);

    Style style_;
    bool quiet_;
    std::string waiting_;
    std::size_t ok_ = 0;
    std::size_t failed_ = 0;
    std::size_t skipped_ = 0;
    std::size_t notStarted_ = 0;
};

} // namespace corvix::cli
