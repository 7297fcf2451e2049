#include "ResultReporter.h"

#include "JsonLine.h"
#include "Key/Encodings.h"
#include "SafeText.h"
#include "StandardOutput.h"

#include <cstdio>

namespace corvix::cli {

namespace {

void printErrorLine(const std::string& text) {
    const std::string whole = text + "\n";
    std::fputs(whole.c_str(), stderr);
}

void addName(JsonLine& json, std::string_view field, const std::optional<std::string>& name) {
    json.addOptional(field, name);
    if (name && !utf8Text(utf8Bytes(*name))) {
        json.add(std::string(field) + "_base64", base64Text(utf8Bytes(*name)));
    }
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
        printErrorLine(SafeText::forTerminal("corvix-cli: " + task.input() + ": " + result.reason));
        break;
    case TaskResult::Status::Skipped:
        ++skipped_;
        break;
    case TaskResult::Status::NotStarted:
        ++notStarted_;
        return;
    }
    if (style_ == Style::Json) {
        StandardOutput::write(jsonLine(task, result) + "\n");
    } else if (!quiet_ && result.status != TaskResult::Status::Failed) {
        StandardOutput::write(SafeText::forTerminal(line(task, result)) + "\n");
    }
}

std::string ResultReporter::line(const FileTask& task, const TaskResult& result) {
    std::string text = std::string(result.statusName()) + " " + task.input();
    if (result.status == TaskResult::Status::Skipped) {
        return text + ": " + result.reason;
    }
    if (const auto output = task.output()) {
        text += " -> " + *output;
    }
    return text;
}

std::string ResultReporter::jsonLine(const FileTask& task, const TaskResult& result) {
    const auto output = task.output();
    std::optional<std::string> error;
    if (result.status != TaskResult::Status::Ok) {
        error = result.reason;
    }
    JsonLine json;
    addName(json, "input", task.input());
    addName(json, "output", output);
    json.add("status", result.statusName()).add("bytes", task.size()).addOptional("error", error);
    return json.text();
}

void ResultReporter::summarize() const {
    if (notStarted_ > 0) {
        printErrorLine("corvix-cli: stopped; " + std::to_string(notStarted_) +
                       (notStarted_ == 1 ? " file was" : " files were") + " not started");
    }
    if (quiet_) {
        return;
    }
    const std::string text = std::to_string(ok_) + " ok, " + std::to_string(failed_) + " failed, " +
                             std::to_string(skipped_) + " skipped";
    if (style_ == Style::Json) {
        printErrorLine(text);
    } else {
        StandardOutput::write(text + "\n");
    }
}

} // namespace corvix::cli
