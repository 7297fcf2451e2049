#pragma once

#include "Process.h"

#include <filesystem>
#include <string>
#include <vector>

namespace corvix::test {

/// Runs the built corvix-cli in `folder` as a build script would: stdout and stderr captured,
/// neither a terminal unless stderr is asked to be one.
inline ProcessResult runCli(std::vector<std::string> args, const std::filesystem::path& folder,
                            bool errOnTerminal = false) {
    args.insert(args.begin(), CORVIX_CLI_PATH);
    ProcessOptions options;
    options.folder = folder;
    options.errOnTerminal = errOnTerminal;
    return runProcess(args, options);
}

} // namespace corvix::test
