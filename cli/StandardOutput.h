#pragma once

#include <string_view>
#include <system_error>

namespace corvix::cli {

/// Standard output, written whole and checked. The first write that fails (a full disk, a
/// closed pipe) is remembered and later writes are not tried, so the run can end with an error
/// (or stop at once, for a reader that went away) instead of losing its records silently.
class StandardOutput {
public:
    StandardOutput() = delete;

    /// Writes all of `text`; false when it could not.
    static bool write(std::string_view text);

    /// What made a write fail, or nothing.
    [[nodiscard]] static std::error_code error();
    /// Whether the reader has gone away (EPIPE): nothing more can reach it.
    [[nodiscard]] static bool closed();
};

} // namespace corvix::cli
