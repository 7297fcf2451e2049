#pragma once

#include <QString>
#include <string>

namespace corvix {

/// Turns the reason the core gives for a failed file ("cannot open /in/a.txt: No such file or
/// directory") into the few words the window shows beside the file's name: no such file, not a
/// regular file, folder not writable, disk full. A reason it has no words for keeps the system's
/// own error text.
class FailureReason {
public:
    FailureReason() = delete;

    /// The words for `reason`, the failure of encrypting `srcPath`.
    [[nodiscard]] static QString inWords(const std::string& reason, const std::string& srcPath);
};

} // namespace corvix
