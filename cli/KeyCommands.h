#pragma once

#include <corvix/KeyMaterial.h>
#include <corvix/Outcome.h>
#include <string>

namespace corvix::cli {

/// The key material of a run and the two commands about keys.
class KeyCommands {
public:
    KeyCommands() = delete;

    /// The material in the key file that --key-file names ("-": standard input): one that is
    /// missing, unreadable or malformed fails; one that other users can read or write, or a key
    /// or IV of zeros, is used with a warning on stderr.
    [[nodiscard]] static Outcome<KeyMaterial> material(const std::string& keyFile);

    /// `key`: the material in the key-file form, then its fingerprint when it came from a file
    /// (the built-in output stays a valid key file).
    static void print(const KeyMaterial& material, bool withFingerprint);

    /// `keygen -o FILE`: new random material in a new file of mode 0600. An existing file is
    /// never replaced; on any failure nothing is left behind.
    [[nodiscard]] static Outcome<> generate(const std::string& path);
};

} // namespace corvix::cli
