#pragma once

#include "Key/Bytes.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvix::test {
// Being retired: new tests use TestKit.h.
inline namespace legacy {

// Whole-file helpers. They make missing parent folders and throw when a file cannot be read or
// written, which fails the test that called them.
void writeFile(const std::filesystem::path& path, const Bytes& content);
void writeText(const std::filesystem::path& path, std::string_view content);
[[nodiscard]] Bytes readFile(const std::filesystem::path& path);
[[nodiscard]] std::string readText(const std::filesystem::path& path);
/// The whole content, or nothing when there is no file to read.
[[nodiscard]] std::optional<Bytes> readIfPresent(const std::filesystem::path& path);
/// SHA-256 of a file in hex, or "absent".
[[nodiscard]] std::string fileDigest(const std::filesystem::path& path);

/// The names in `folder`, hidden ones included, sorted; none when it does not exist.
[[nodiscard]] std::vector<std::string> entriesOf(const std::filesystem::path& folder);
/// The hidden temporary files (".NAME.XXXXXX.part") that the atomic writer keeps in `folder`.
[[nodiscard]] std::vector<std::string> temporaryFiles(const std::filesystem::path& folder);

/// Lines of a text, without their newlines.
[[nodiscard]] std::vector<std::string> linesOf(const std::string& text);

/// Deterministic bytes in which no two 16-byte blocks are alike, so a misplaced block shows.
[[nodiscard]] Bytes patternBytes(std::size_t count, std::uint32_t seed = 1);
/// At most `count` bytes from `offset` on.
[[nodiscard]] Bytes slice(const Bytes& bytes, std::size_t offset, std::size_t count);

} // namespace legacy
} // namespace corvix::test
