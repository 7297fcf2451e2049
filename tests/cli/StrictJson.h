#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace corvix::test {

/// A value of corvix-cli's JSON lines: null, a whole number or a string.
using JsonValue = std::variant<std::nullptr_t, double, std::string>;
using JsonObject = std::map<std::string, JsonValue>;

/// Parses one flat JSON object, accepting only text that RFC 8259 allows: the whole text is
/// the object, no name repeats, strings are well-formed UTF-8 without raw control characters,
/// escapes and numbers have the grammar's form. It knows only the parts of JSON that the tool
/// writes (no nesting, no true/false, no fractions, no surrogate-pair escapes) and refuses
/// those too, so anything it accepts is valid JSON. Nothing on any doubt.
[[nodiscard]] std::optional<JsonObject> parseFlatJsonObject(std::string_view text);

} // namespace corvix::test
