#pragma once

#include "CommandLine.h"

#include <corvix/KeyMaterial.h>
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
};

} // namespace corvix::cli
