#include "JsonLine.h"

#include <cstdio>

namespace corvix::cli {

namespace {

// The length of the well-formed UTF-8 sequence at the start of `text`, or 0 when there is none
// (a stray continuation byte, a cut sequence, an overlong form, a surrogate, beyond U+10FFFF).
std::size_t sequenceLength(std::string_view text) {
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned char low = 0x80; // allowed range of the second byte, which rules out the bad forms
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

} // namespace

std::string JsonLine::quoted(std::string_view utf8) {
    std::string out = "\"";
    while (!utf8.empty()) {
        const std::size_t length = sequenceLength(utf8);
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
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
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
