#pragma once

#include "Files/OpenFolder.h"

#include <memory>
#include <string>
#include <sys/stat.h>

namespace corvix::cli {

/// Where an input file is read from: a path named on the command line (a link there is
/// followed, as cp does), or a file that a walk found below a folder it holds open (then nothing
/// on the way is followed, so a folder swapped for a link after the walk is refused, not read
/// through).
struct InputFile {
    // Paths are kept as plain text: a path object holds every one of its parts apart, which
    // made the memory of a deep walk grow with the square of its depth.
    std::string shown;
    std::shared_ptr<const OpenFolder> tree; ///< the walked folder, or null for a named path
    std::string relative;                   ///< below `tree`
    struct stat status {};                  ///< as the plan found it: size, time and identity
};

} // namespace corvix::cli
