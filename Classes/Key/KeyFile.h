#pragma once

#include <corvix/KeyMaterial.h>
#include <corvix/Outcome.h>
#include <string>
#include <string_view>

namespace corvix {

/// Key material as text, the form `corvix-cli key` prints and `corvix-cli keygen` writes:
///
///     key:<64 hex digits>
///     iv:<32 hex digits>
///
/// Two lines and nothing else, each ended by a line feed (the last one may lack it). Hex digits
/// may be upper or lower case. The key is always AES-256, as the file format wants.
class KeyFile {
public:
    KeyFile() = delete;

    /// Files larger than this are refused unread: a key file is about a hundred bytes.
    static constexpr std::size_t kLargestFile = 4096;

    /// The material in `text`, or the first thing wrong with it (Errc::badKeyMaterial).
    [[nodiscard]] static Outcome<KeyMaterial> parse(std::string_view text);
    /// parse() of the file at `path`; also says why a file cannot be read or is no key file
    /// (a folder, a pipe, too large).
    [[nodiscard]] static Outcome<KeyMaterial> read(const std::string& path);
    /// The text form of `material`.
    [[nodiscard]] static std::string text(const KeyMaterial& material);
};

} // namespace corvix
