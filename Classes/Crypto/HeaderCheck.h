#pragma once

#include "../Key/KeyMaterial.h"
#include "RunOutcome.h"

#include <string>
#include <string_view>

namespace corvix {

class FileInputStream;

/// Checks the header line of an encrypted file, which the readers themselves skip unread: a file
/// whose header line does not decrypt to the expected header text was written with other key
/// material or is not an encrypted file at all.
class HeaderCheck {
public:
    HeaderCheck() = delete;

    /// Completed when the bytes before the file's first 0x0D decrypt to `header`; otherwise
    /// failed with the reason (cannot be read, no header terminator, another header).
    [[nodiscard]] static RunOutcome check(const std::string& path, std::string_view header,
                                          const KeyMaterial& material);
    /// The same over an open stream, read from its start; when the check passes, the stream is
    /// set back at its start for the reader that follows.
    [[nodiscard]] static RunOutcome check(FileInputStream& input, std::string_view header,
                                          const KeyMaterial& material);
};

} // namespace corvix
