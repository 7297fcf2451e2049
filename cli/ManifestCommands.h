#pragma once

#include "FileTask.h"

#include <corvix/Manifest.h>
#include <corvix/Outcome.h>
#include <optional>
#include <string>
#include <vector>

namespace corvix::cli {

/// What --manifest adds to the commands: where a manifest lists a file, the keys that sign and
/// check it, and the manifest that a run writes or that verify checks against.
class ManifestCommands {
public:
    ManifestCommands() = delete;

    /// The path under which the manifest at `manifestPath` lists `file`: relative to the
    /// manifest's folder. Nothing for a file outside that folder.
    [[nodiscard]] static std::optional<std::string> listedPath(const std::string& file,
                                                               const std::string& manifestPath);
    /// Why the manifest at `manifestPath` cannot list the file that each task writes (encrypt)
    /// or reads (manifest); nothing when it can list them all.
    [[nodiscard]] static std::optional<Error> unlistable(const std::vector<FileTask>& tasks,
                                                         const std::string& manifestPath);
    /// The PEM text of the key file at `path`: a private key that signs, or a public key that
    /// checks; any other file is Errc::badSigningKey.
    [[nodiscard]] static Outcome<std::string> key(const std::string& path, bool isPrivate);
    /// The manifest at `path`, and with `publicKey` the failure of its signature, if any.
    struct Checked {
        Manifest manifest;
        std::optional<Error> signature;
    };
    [[nodiscard]] static Outcome<Checked> load(const std::string& path,
                                               const std::optional<std::string>& publicKey);
    /// Tasks that report each file the manifest lists and no task reads, as missing.
    [[nodiscard]] static std::vector<FileTask> missing(const std::vector<FileTask>& tasks,
                                                       const Manifest& manifest,
                                                       const std::string& manifestPath);
};

} // namespace corvix::cli
