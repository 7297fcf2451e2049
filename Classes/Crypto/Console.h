#pragma once

#include <string_view>
#include <system_error>

namespace corvix {

/// Standard output, for the diagnostic lines of AESUtils and the front ends. Every write is
/// whole and checked: a text goes out in one piece under a lock, so lines from two threads never
/// interleave, and the first write that fails (a full disk, a closed pipe) is remembered, after
/// which nothing more is tried, so a caller can end with an error (or stop at once, for a reader
/// that went away) instead of losing its records silently.
class Console {
public:
    Console() = delete;

    /// Writes all of `text`; false when it could not.
    static bool write(std::string_view text);
    /// Writes `line` and a line feed.
    static bool printLine(std::string_view line);

    /// What made a write fail, or nothing.
    [[nodiscard]] static std::error_code error();
    /// Whether the reader has gone away (EPIPE): nothing more can reach it.
    [[nodiscard]] static bool closed();
};

} // namespace corvix
