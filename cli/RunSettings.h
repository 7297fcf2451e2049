#pragma once

#include "CommandLine.h"

#include <corvix/KeyMaterial.h>
#include <corvix/Manifest.h>
#include <functional>
#include <string>

namespace corvix::cli {

/// What every file of one run shares.
struct RunSettings {
    KeyMaterial material;
    std::string headerText;
    ExistingOutput existingOutput = ExistingOutput::Refuse;
    /// Asked before every chunk; true stops the file and leaves its output as it was.
    std::function<bool()> shouldStop;
    /// Whether each file's result carries its manifest entry: encrypt lists its output (and an
    /// output it skips), the manifest command the file it reads.
    bool list = false;
    /// Verify: the manifest every file is checked against, found at `manifestPath`; and whether
    /// the files are also decrypted (not without a key file when there is a manifest).
    const Manifest* manifest = nullptr;
    std::string manifestPath{};
    bool decrypt = true;
};

} // namespace corvix::cli
