#pragma once

#include <cstdint>
#include <vector>

namespace corvix {

/// An ordered sequence of bytes, passed and returned by value.
using Bytes = std::vector<std::uint8_t>;

} // namespace corvix
