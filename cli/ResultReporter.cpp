#include "ResultReporter.h"

#include "JsonLine.h"
#include "Key/Console.h"

#include <cstdio>

namespace corvix::cli {

namespace {

void printErrorLine(const std::string& text) {
    const std::string whole = text + "\n";
    std::fputs(whole.c_str(), stderr);
}

} // namespace

ResultReporter::ResultReporter(Style style, bool quiet) : style_(style), quiet_(quiet) {}

void ResultReporter::report(const FileTask& task, const TaskResult& result) {
    switch (result.status) {
    case TaskResult::Status::Ok:
        ++ok_;
        break;
    case TaskResult::Status::Failed:
        ++failed_;
        printErrorLine("corvix-cli: " + task.input().string() + ": " + result.reason);
        break;
    case TaskResult::Status::Skipped:
        ++skipped_;
        break;
    }
    if (style_ == Style::Json) {
        printLine(jsonLine(task, result));
    } else if (!quiet_ && result.status != TaskResult::Status::Failed) {
        printLine(line(task, result));
    }
}

std::string ResultReporter::line(const FileTask& task, const TaskResult& result) const {
    std::string text = std::string(result.statusName()) + " " + task.input().string();
    if (result.status == TaskResult::Status::Skipped) {
        return text + ": " + result.reason;
    }
    if (const auto output = task.output()) {
        text += " -> " + output->string();
    }
    return text;
}

std::string ResultReporter::jsonLine(const FileTask& task, const TaskResult& result) {
    const auto output = task.output();
    std::optional<std::string> error;
    if (result.status != TaskResult::Status::Ok) {
        error = result.reason;
    }
    return JsonLine()
        .add("input", task.input().string())
        .addOptional("output", output ? std::optional(output->string()) : std::nullopt)
        .add("status", result.statusName())
        .add("bytes", task.size())
        .addOptional("error", error)
        .text();
}

void ResultReporter::summarize() const {
    if (quiet_) {
        return;
    }
    const std::string text = std::to_string(ok_) + " ok, " + std::to_string(failed_) + " failed, " +
                             std::to_string(skipped_) + " skipped";
    if (style_ == Style::Json) {
        printErrorLine(text);
    } else {
        printLine(text);
    }
}

} // namespace corvix::cli
