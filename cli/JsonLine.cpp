#include "JsonLine.h"

#include "Basics/TextEscape.h"

namespace corvix::cli {

std::string JsonLine::quoted(std::string_view utf8) {
    return "\"" + escaped(utf8, EscapeStyle::Json) + "\"";
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
