#pragma once

#include <corvix/KeyMaterial.h>
#include <cstdint>
#include <optional>
#include <string>

namespace corvix::cli {

/// What `corvix-cli cat` writes: the plaintext of one encrypted file, or a range of it.
struct CatRequest {
    std::string path;
    std::uint64_t offset = 0;
    std::optional<std::uint64_t> length; ///< to the end when absent
};

/// `corvix-cli cat [--offset N] [--length N] [--key-file FILE] FILE.enc`: the plaintext to
/// standard output, read in place, so only the chunks the range touches are read and decrypted.
class CatCommand {
public:
    CatCommand() = delete;

    /// Writes the range to standard output with the given key material. Returns the exit
    /// status: 0, or 1 after the line "corvix-cli: PATH: WHY" on standard error. A range that
    /// starts at or past the end gives nothing and succeeds.
    [[nodiscard]] static int run(const CatRequest& request, const KeyMaterial& material);
};

} // namespace corvix::cli
