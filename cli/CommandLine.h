#pragma once

#include "CatCommand.h"

#include <corvix/Outcome.h>
#include <optional>
#include <string>
#include <vector>

namespace corvix::cli {

enum class Command { Encrypt, Decrypt, Verify, Key, Keygen, Version, Help, Cat };

/// What to do with an output that is already there.
enum class ExistingOutput { Refuse, Replace, ReplaceOlder };

struct Options {
    Command command = Command::Help;
    /// For Command::Help: the help asked for, the whole or one command's.
    std::string help;
    std::vector<std::string> paths;
    std::optional<std::string> outputFolder;
    bool recursive = false;
    ExistingOutput existingOutput = ExistingOutput::Refuse;
    bool quiet = false;
    bool json = false;
    unsigned jobs = 1;
    /// The key file that --key-file names ("-": standard input), or the one that keygen writes.
    std::optional<std::string> keyFile;
    CatRequest cat;
};

/// The command line, read by CLI11 with one definition per command: `COMMAND --help` shows that
/// command's options, a single-value option given twice is refused, "--" ends the options, and
/// numbers are checked as they are read.
class CommandLine {
public:
    CommandLine() = delete;

    /// The arguments (argv[0] is the program) read into Options, or the one-line reason they
    /// make no sense.
    [[nodiscard]] static Outcome<Options> parse(int argc, const char* const* argv);
};

} // namespace corvix::cli
