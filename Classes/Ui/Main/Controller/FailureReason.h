#pragma once

#include <QString>
#include <corvix/Outcome.h>
#include <string>

namespace corvix {

/// The few words the window shows beside a failed file's name, from the failure's code and the
/// file it concerns: no such file, no permission to read, not a regular file, output folder
/// missing or not writable, something in the way of the output, disk full. A failure it has no
/// words for shows the system's own text (or Corvix's reason for a failure of its own).
class FailureReason {
public:
    FailureReason() = delete;

    /// The words for `error`, a failure to encrypt `srcPath`.
    [[nodiscard]] static QString inWords(const Error& error, const std::string& srcPath);
};

} // namespace corvix
