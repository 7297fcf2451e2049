#include "ResultReporter.h"

#include "Basics/Encodings.h"
#include "Basics/TextEscape.h"
#include "Crypto/Console.h"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace corvix::cli {

namespace {

void printErrorLine(const std::string& text) {
    std::fputs((text + "\n").c_str(), stderr);
}

using Json = nlohmann::ordered_json;

Json textOrNull(const std::optional<std::string>& text) {
    return text ? Json(*text) : Json();
}

void addName(Json& json, const std::string& field, const std::optional<std::string>& name) {
    json[field] = textOrNull(name);
    if (name && !isUtf8(*name)) {
        json[field + "_base64"] = base64Text(utf8Bytes(*name));
    }
}

const char* statusName(const TaskResult& result) {
    return !result ? "failed" : result->skipped ? "skipped" : "ok";
}

} // namespace

ResultReporter::ResultReporter(Style style, bool quiet) : style_(style), quiet_(quiet) {}

void ResultReporter::report(const FileTask& task, const TaskResult& result) {
    if (!result) {
        ++failed_;
        flush(); // the lines before it come first
        printErrorLine(escaped("corvix-cli: " + task.input() + ": " +
                                   result.error().messageAfter(task.input()),
                               EscapeStyle::Terminal));
    } else if (result->skipped) {
        ++skipped_;
    } else {
        ++ok_;
    }
    if (style_ == Style::Json) {
        waiting_ += jsonLine(task, result) + "\n";
    } else if (!quiet_ && result) {
        waiting_ += escaped(line(task, result), EscapeStyle::Terminal) + "\n";
    }
}

void ResultReporter::flush() {
    if (!waiting_.empty()) {
        Console::write(waiting_);
        waiting_.clear();
    }
}

std::string ResultReporter::line(const FileTask& task, const TaskResult& result) {
    std::string text = std::string(statusName(result)) + " " + task.input();
    if (result->skipped) {
        return text + ": " + *result->skipped;
    }
    if (const auto output = task.output()) {
        text += " -> " + *output;
    }
    return text;
}

std::string ResultReporter::jsonLine(const FileTask& task, const TaskResult& result) {
    const std::optional<std::string> error =
        result ? result->skipped : result.error().messageAfter(task.input());
    Json json;
    addName(json, "input", task.input());
    addName(json, "output", task.output());
    json["status"] = statusName(result);
    json["bytes"] = task.size();
    json["error"] = textOrNull(error);
    // ASCII alone: control characters (DEL and C1 too) and every other character beyond ASCII
    // as \uXXXX, bytes that are not UTF-8 as \ufffd; the line can never drive a terminal.
    return json.dump(-1, ' ', true, Json::error_handler_t::replace);
}

void ResultReporter::summarize() {
    flush();
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
        Console::write(text + "\n");
    }
}

} // namespace corvix::cli
