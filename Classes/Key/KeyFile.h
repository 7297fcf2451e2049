#pragma once

#include <chrono>
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

    /// Files larger than this are refused (reading stops past it): a key file is about a hundred
    /// bytes.
    static constexpr std::size_t kLargestFile = 4096;
    /// How long a pipe or FIFO may take to deliver the whole file and close.
    static constexpr std::chrono::seconds kLongestWait{30};

    /// The material in `text`, or the first thing wrong with it (Errc::badKeyMaterial).
    [[nodiscard]] static Outcome<KeyMaterial> parse(std::string_view text);
    /// parse() of the file at `path`, or of standard input for "-". A pipe, a FIFO or a path such
    /// as `<(command)` is read like a file, but must be written and closed within `patience`, so
    /// a writer that never ends cannot hold the reader. Also says why a file cannot be read or
    /// is no key file (a folder, too large, too slow).
    [[nodiscard]] static Outcome<KeyMaterial>
    read(const std::string& path, std::chrono::milliseconds patience = kLongestWait);
    /// The text form of `material`.
    [[nodiscard]] static std::string text(const KeyMaterial& material);
};

} // namespace corvix
