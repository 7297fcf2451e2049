#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvix::cli {

/// Text from outside, above all file names (which may hold any byte), made safe to show.
class SafeText {
public:
    SafeText() = delete;

    /// The code of the control character (C0, DEL or C1: U+0080 to U+009F) that `sequence`, one
    /// well-formed UTF-8 sequence, encodes; nothing for any other character.
    [[nodiscard]] static std::optional<unsigned> controlCode(std::string_view sequence);

    /// `text` for a terminal: control characters and bytes that are not UTF-8 become \xHH and a
    /// backslash \\, so that it never breaks a line or drives the terminal, and two different
    /// texts never look alike.
    [[nodiscard]] static std::string forTerminal(std::string_view text);
};

} // namespace corvix::cli
