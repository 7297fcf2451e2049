#pragma once

#include "CommandLine.h"
#include "Key/KeyMaterial.h"

#include <optional>
#include <string>

namespace corvix::cli {

/// The key material of a run and the two commands about keys. Problems are reported on stderr.
class KeyCommands {
public:
    KeyCommands() = delete;

    /// The built-in material, or the material in the file --key-file names. A key file that is
    /// missing, unreadable or malformed gives nothing; one that other users can read is used
    /// with a warning.
    [[nodiscard]] static std::optional<KeyMaterial> material(const Options& options);

    /// `key`: the material in the key-file form, then its fingerprint when it came from a file
    /// (the built-in output stays a valid key file).
    static void print(const KeyMaterial& material, bool withFingerprint);

    /// `keygen -o FILE`: new random material in a new file of mode 0600. An existing file is
    /// never replaced; on any failure nothing is left behind.
    [[nodiscard]] static bool generate(const std::string& path);
};

} // namespace corvix::cli
