#pragma once

// Files in the format, written with the header text "quorveth" and the built-in key material.

#include <cstdint>
#include <filesystem>
#include <string_view>

namespace corvix::test {
// Being retired: new tests use TestKit.h.
inline namespace legacy {

constexpr std::size_t kMiB = 1048576;
/// A full 1 MiB chunk, encrypted: one block of padding more.
constexpr std::size_t kCipherChunk = kMiB + 16;

/// The header line such files start with (computed once with `openssl enc -aes-256-cbc -a`);
/// it pins the key material without showing it.
inline constexpr std::string_view kQuorvethHeaderLine = "UR4g+z0OV5YSSpHIpEA4ag==";

/// The size of such a file: 24 + 1 bytes of header line, then 1048592 bytes per full chunk and
/// the padded rest.
[[nodiscard]] std::uint64_t encryptedSize(std::uint64_t sourceSize);

/// Encrypts `source` into `target` with the file encryptor; false when it does not complete.
[[nodiscard]] bool encryptWithBuiltInKey(const std::filesystem::path& source,
                                         const std::filesystem::path& target);
/// Writes `plain` to `target`, encrypted, through a plaintext file beside it that is removed.
[[nodiscard]] bool writeEncrypted(const std::filesystem::path& target, std::string_view plain);

} // namespace legacy
} // namespace corvix::test
