#include "JsonLine.h"

#include "Key/Encodings.h"
#include "SafeText.h"

#include <cstdio>

namespace corvix::cli {

std::string JsonLine::quoted(std::string_view utf8) {
    std::string out = "\"";
    while (!utf8.empty()) {
        const std::size_t length = utf8SequenceLength(utf8);
        const char c = utf8.front();
        if (length == 0) {
            out += "\\ufffd";
            utf8.remove_prefix(1);
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (const auto control = SafeText::controlCode(utf8.substr(0, length))) {
            // Escaped even where JSON allows it raw (DEL, C1), so a line never drives a terminal.
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", *control);
            out += escape;
        } else {
            out.append(utf8.substr(0, length));
        }
        utf8.remove_prefix(length);
    }
    out += '"';
    return out;
}

void JsonLine::addName(std::string_view name) {
    if (body_.size() > 1) {
        body_ += ',';
    }
    body_ += quoted(name);
    body_ += ':';
}

JsonLine& JsonLine::add(std::string_view name, std::string_view text) {
    addName(name);
    body_ += quoted(text);
    return *this;
}

JsonLine& JsonLine::addOptional(std::string_view name, const std::optional<std::string>& text) {
    addName(name);
    body_ += text ? quoted(*text) : "null";
    return *this;
}

JsonLine& JsonLine::add(std::string_view name, std::uint64_t number) {
    addName(name);
    body_ += std::to_string(number);
    return *this;
}

} // namespace corvix::cli
