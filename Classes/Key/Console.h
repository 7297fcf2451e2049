#pragma once

#include <string_view>

namespace corvix {

/// Writes one diagnostic line to standard output in a single write, so lines from two threads
/// never interleave, and flushes it so that a pipe sees it at once.
void printLine(std::string_view line);

} // namespace corvix
