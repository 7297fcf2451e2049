#pragma once

#include "Key/Bytes.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace corvix::reliability {

/// The whole content of a file, or nothing when it does not exist or cannot be read.
[[nodiscard]] std::optional<Bytes> readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const Bytes& content);
/// SHA-256 of a file in hex, or "absent".
[[nodiscard]] std::string fileDigest(const std::filesystem::path& path);

/// `size` reproducible bytes that are not all alike, so that a misplaced block shows.
[[nodiscard]] Bytes patternBytes(std::size_t size, std::uint32_t seed);

/// The file's encryption with the built-in key material, written by the encryptor; fails the
/// current test when the encryptor does not complete.
void encryptWithBuiltInKey(const std::filesystem::path& source,
                           const std::filesystem::path& target);

} // namespace corvix::reliability
