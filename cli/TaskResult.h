#pragma once

#include <corvix/Manifest.h>
#include <corvix/Outcome.h>
#include <optional>
#include <string>

namespace corvix::cli {

/// How a file that did not fail ended: done, or skipped for a reason.
struct Done {
    std::optional<std::string> skipped;
    /// The file that a listing run wrote or read, as a manifest lists it (its path left empty).
    std::optional<ManifestEntry> listed{};
};

/// How one file ended.
using TaskResult = Outcome<Done>;

} // namespace corvix::cli
