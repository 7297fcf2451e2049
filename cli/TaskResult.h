#pragma once

#include <corvix/Outcome.h>
#include <optional>
#include <string>

namespace corvix::cli {

/// How a file that did not fail ended: done, or skipped for a reason.
struct Done {
    std::optional<std::string> skipped;
};

/// How one file ended.
using TaskResult = Outcome<Done>;

} // namespace corvix::cli
