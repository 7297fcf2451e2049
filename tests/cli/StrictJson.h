#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace corvix::test {

/// A value of a flat JSON object: null, true/false, a number or a string.
using JsonValue = std::variant<std::nullptr_t, bool, double, std::string>;
using JsonObject = std::map<std::string, JsonValue>;

/// Parses one JSON object whose values are not nested, strictly after RFC 8259: the whole
/// text must be the object, strings must be well-formed UTF-8 with no raw control characters,
/// escapes and numbers must have the grammar's form, and no name may repeat. Nothing when the
/// text breaks any rule.
[[nodiscard]] std::optional<JsonObject> parseFlatJsonObject(std::string_view text);

} // namespace corvix::test
