#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvix::cli {

/// Builds one JSON object on one line, field by field. Texts are escaped as JSON requires (every
/// control character too, DEL and U+0080 to U+009F included), and bytes that are not well-formed
/// UTF-8 (file names may hold any bytes) become U+FFFD, so the line is always valid JSON.
class JsonLine {
public:
    JsonLine& add(std::string_view name, std::string_view text);
    /// The text, or null when there is none.
    JsonLine& addOptional(std::string_view name, const std::optional<std::string>& text);
    JsonLine& add(std::string_view name, std::uint64_t number);

    [[nodiscard]] std::string text() const { return body_ + "}"; }

    /// A JSON string literal, quotes included.
    [[nodiscard]] static std::string quoted(std::string_view utf8);

private:
    void addName(std::string_view name);

    std::string body_ = "{";
};

} // namespace corvix::cli
