#pragma once

#include <string>
#include <string_view>

namespace corvix {

/// How a text from outside (a file name, a file's content) is shown so that it never breaks a
/// line or drives a terminal: one walk over the text, two ways to write what it finds. (JSON
/// lines are written by nlohmann-json, which escapes them alike.)
enum class EscapeStyle {
    /// Control characters (C0, DEL, C1) and bytes that are not UTF-8 as \xHH, a backslash as \\;
    /// two different texts never look alike.
    Terminal,
    /// The inside of a debug literal: \" \\ \n \r \t \0, other control characters as \u{HEX}.
    Debug,
};

[[nodiscard]] std::string escaped(std::string_view text, EscapeStyle style);

} // namespace corvix
