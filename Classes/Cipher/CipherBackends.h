#pragma once

#include "Cipher/CipherEngine.h"

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

namespace corvix {

/// A way to run the chunk cipher. Every backend gives the same bytes; they differ in speed.
struct CipherBackend {
    std::string_view name;
    /// The jobs one engine runs side by side at full speed; it takes no more at once.
    std::size_t lanes = 1;
    std::unique_ptr<CipherEngine> (*makeEngine)() = nullptr;
};

/// The backends this program has: OpenSSL always, others when the program links them in (they
/// add themselves before main starts). The file operations run the chosen one, which is the
/// build's default unless choose() said otherwise.
class CipherBackends {
public:
    CipherBackends() = delete;

    /// Every backend, the build's default first.
    [[nodiscard]] static std::vector<const CipherBackend*> all();
    [[nodiscard]] static const CipherBackend& chosen();
    /// The file operations use `backend` from their next run on.
    static void choose(const CipherBackend& backend);
    /// For a backend linked into the program: it becomes the default. Returns true.
    static bool add(const CipherBackend& backend);
};

} // namespace corvix
