#pragma once

#include "CatCommand.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace corvix::cli {

enum class Command { Encrypt, Decrypt, Verify, Key, Keygen, Version, Help, Cat };

/// What to do with an output that is already there.
enum class ExistingOutput { Refuse, Replace, ReplaceOlder };

struct Options {
    Command command = Command::Help;
    std::vector<std::string> paths;
    std::optional<std::filesystem::path> outputFolder;
    bool recursive = false;
    ExistingOutput existingOutput = ExistingOutput::Refuse;
    bool quiet = false;
    bool json = false;
    unsigned jobs = 1;
    /// The key file that --key-file names, or the one that keygen writes.
    std::optional<std::string> keyFile;
    CatRequest cat;
};

/// The arguments after the program name, read into Options, or the reason they make no sense.
class CommandLine {
public:
    struct Parsed {
        std::optional<Options> options;
        std::string error;
    };

    [[nodiscard]] static Parsed parse(const std::vector<std::string>& args);
    [[nodiscard]] static const char* usage();
};

} // namespace corvix::cli
