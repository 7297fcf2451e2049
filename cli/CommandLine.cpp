#include "CommandLine.h"

#include <algorithm>
#include <charconv>
#include <thread>

namespace corvix::cli {

namespace {

constexpr unsigned kMostJobs = 256;

const char* const kUsage = R"(usage:
  corvix-cli encrypt [OPTIONS] PATH...   write each file to DIR/NAME.enc
  corvix-cli decrypt [OPTIONS] PATH...   write each NAME.enc back to DIR/NAME
  corvix-cli verify [OPTIONS] PATH...    check .enc files; writes nothing
  corvix-cli cat [--offset N] [--length N] [--key-file FILE] FILE.enc
                                         write the plaintext, or N bytes of it from offset N,
                                         to stdout; only the chunks the range touches are read
  corvix-cli key [--key-file FILE]       print the AES key and IV in hex, as a key file: the
                                         built-in ones, or FILE's and its key fingerprint
  corvix-cli keygen -o FILE              write new random key material to FILE (mode 0600;
                                         an existing FILE is never replaced)
  corvix-cli --version                   print the version and the key fingerprint
  corvix-cli --help                      show this help

options:
  -o, --output DIR   write the outputs under DIR (created if missing); without -o each
                     output goes to the folder of its input
  -r, --recursive    walk folder arguments and mirror their trees under DIR (needs -o);
                     only regular files are taken, for decrypt only names ending in .enc;
                     symbolic links inside the folders are reported and skipped
  -f, --force        replace outputs that exist
  -u, --update       replace an existing output only when its input is newer; otherwise
                     report the file as skipped
  -j, --jobs N       work on N files at once (default: the number of cores)
  -q, --quiet        no progress bar, no per-file lines, no summary; failures still print
      --json         one JSON object per file on stdout, in input order:
                     {"input":..., "output":... or null, "status":"ok"|"failed"|"skipped",
                      "bytes": size of the input, "error":... or null}
      --key-file FILE
                     the key material in FILE (from keygen) instead of the built-in one;
                     a FILE that is missing or malformed stops the run before it starts

Without -r a folder argument fails. A walk leaves out DIR itself when it lies in the tree,
and .enc files when the tree is encrypted into itself: those are earlier outputs. Nothing
is written outside DIR. An existing output fails unless -f or -u is given.
verify reads each file through to the end and reports "ok" or why it does not read back:
no header terminator, a header that does not decrypt to the header text, a chunk that does
not decrypt, a truncated body. It walks folder arguments whole, taking names ending in .enc.

Output: per file "ok IN -> OUT" or "skipped IN: WHY" on stdout, "corvix-cli: IN: WHY" on
stderr for a failure, in input order; then "N ok, N failed, N skipped" on stdout (on stderr
with --json, so that stdout carries only JSON lines). A progress bar (files, bytes, rate,
time left) is drawn on stderr only when stderr is a terminal. Every output is written
whole or not at all.

exit status: 0 every file ok or skipped, 1 some file failed or stdout could not be written
(a closed pipe stops the run), 2 bad usage or key file, 130 interrupted
)";

unsigned defaultJobs() {
    return std::max(1U, std::thread::hardware_concurrency());
}

std::optional<unsigned> jobCount(const std::string& text) {
    unsigned value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || value == 0 || value > kMostJobs) {
        return std::nullopt;
    }
    return value;
}

CommandLine::Parsed failed(std::string error) {
    return {std::nullopt, std::move(error)};
}

/// Walks the arguments after the command one by one; options may stand anywhere before "--".
class OptionReader {
public:
    OptionReader(const std::vector<std::string>& args, Options& options)
        : args_(args), options_(options) {}

    /// An empty text when every argument was understood.
    std::string readAll() {
        for (index_ = 1; index_ < args_.size(); ++index_) {
            const std::string& arg = args_[index_];
            std::string error;
            if (optionsEnded_ || arg.size() < 2 || arg[0] != '-') {
                options_.paths.push_back(arg);
            } else if (arg == "--") {
                optionsEnded_ = true;
            } else if (arg.starts_with("--")) {
                error = readLong(arg.substr(2));
            } else {
                error = readShortCluster(arg.substr(1));
            }
            if (!error.empty()) {
                return error;
            }
        }
        return {};
    }

    [[nodiscard]] bool forced() const { return force_; }
    [[nodiscard]] bool updating() const { return update_; }

private:
    std::string readLong(const std::string& body) {
        const auto equals = body.find('=');
        const std::string name = body.substr(0, equals);
        std::optional<std::string> inlineValue;
        if (equals != std::string::npos) {
            inlineValue = body.substr(equals + 1);
        }
        if (name == "output" || name == "jobs") {
            return readValue(name == "output" ? 'o' : 'j', inlineValue, "--" + name);
        }
        if (name == "key-file") {
            return readKeyFile(inlineValue);
        }
        if (inlineValue) {
            return "--" + name + " takes no value";
        }
        static const std::pair<const char*, char> kFlags[] = {
            {"recursive", 'r'}, {"force", 'f'}, {"update", 'u'}, {"quiet", 'q'}, {"help", 'h'}};
        for (const auto& [flagName, letter] : kFlags) {
            if (name == flagName) {
                return readFlag(letter);
            }
        }
        if (name == "json") {
            options_.json = true;
            return {};
        }
        return "unknown option '--" + name + "'";
    }

    // "-rf", "-j4", "-oDIR": flags may be grouped; a letter that takes a value ends the group.
    std::string readShortCluster(const std::string& letters) {
        for (std::size_t i = 0; i < letters.size(); ++i) {
            const char letter = letters[i];
            if (letter == 'o' || letter == 'j') {
                std::optional<std::string> rest;
                if (i + 1 < letters.size()) {
                    rest = letters.substr(i + 1);
                }
                return readValue(letter, rest, std::string("-") + letter);
            }
            if (std::string error = readFlag(letter); !error.empty()) {
                return error;
            }
        }
        return {};
    }

    std::string readFlag(char letter) {
        switch (letter) {
        case 'r':
            options_.recursive = true;
            return {};
        case 'f':
            force_ = true;
            return {};
        case 'u':
            update_ = true;
            return {};
        case 'q':
            options_.quiet = true;
            return {};
        case 'h':
            options_.command = Command::Help;
            return {};
        default:
            return std::string("unknown option '-") + letter + "'";
        }
    }

    std::string readValue(char letter, std::optional<std::string> value, const std::string& shown) {
        if (!value) {
            if (index_ + 1 == args_.size()) {
                return shown + (letter == 'o' ? " needs a folder" : " needs a number");
            }
            value = args_[++index_];
        }
        if (letter == 'o') {
            if (value->empty()) {
                return shown + " needs a folder";
            }
            options_.outputFolder = *value;
            return {};
        }
        const auto jobs = jobCount(*value);
        if (!jobs) {
            return shown + " needs a whole number from 1 to " + std::to_string(kMostJobs);
        }
        options_.jobs = *jobs;
        return {};
    }

    std::string readKeyFile(std::optional<std::string> value) {
        if (!value && index_ + 1 < args_.size()) {
            value = args_[++index_];
        }
        if (!value || value->empty()) {
            return "--key-file needs a file";
        }
        options_.keyFile = *value;
        return {};
    }

    const std::vector<std::string>& args_;
    Options& options_;
    std::size_t index_ = 1;
    bool optionsEnded_ = false;
    bool force_ = false;
    bool update_ = false;
};

std::optional<Command> commandNamed(const std::string& name) {
    if (name == "encrypt") {
        return Command::Encrypt;
    }
    if (name == "decrypt") {
        return Command::Decrypt;
    }
    if (name == "verify") {
        return Command::Verify;
    }
    if (name == "cat") {
        return Command::Cat;
    }
    if (name == "key") {
        return Command::Key;
    }
    if (name == "keygen") {
        return Command::Keygen;
    }
    if (name == "--version" || name == "-V") {
        return Command::Version;
    }
    if (name == "--help" || name == "-h" || name == "help") {
        return Command::Help;
    }
    return std::nullopt;
}

// `key [--key-file FILE]` and `keygen -o FILE`: that one option, nothing else.
CommandLine::Parsed keyCommand(const std::vector<std::string>& args, Options options) {
    const bool keygen = options.command == Command::Keygen;
    const std::string name = keygen ? "--output" : "--key-file";
    if (args.size() == 3 && (args[1] == name || (keygen && args[1] == "-o"))) {
        options.keyFile = args[2];
    } else if (args.size() == 2 && args[1].starts_with(name + "=")) {
        options.keyFile = args[1].substr(name.size() + 1);
    }
    if (options.keyFile ? options.keyFile->empty() : keygen || args.size() > 1) {
        return failed(keygen ? "keygen takes -o FILE and nothing else"
                             : "key takes --key-file FILE and nothing else");
    }
    return {options, {}};
}

} // namespace

const char* CommandLine::usage() {
    return kUsage;
}

CommandLine::Parsed CommandLine::parse(const std::vector<std::string>& args) {
    if (args.empty()) {
        return failed("no command given");
    }
    const auto command = commandNamed(args[0]);
    if (!command) {
        return failed("unknown command '" + args[0] + "'");
    }
    Options options;
    options.command = *command;
    options.jobs = defaultJobs();
    if (*command == Command::Help) {
        return {options, {}};
    }
    if (*command == Command::Key || *command == Command::Keygen) {
        return keyCommand(args, options);
    }
    if (*command == Command::Version) {
        if (args.size() != 1) {
            return failed(args[0] + " takes no arguments");
        }
        return {options, {}};
    }
    if (*command == Command::Cat) {
        std::string error;
        auto request = CatCommand::parse({args.begin() + 1, args.end()}, error);
        if (!request) {
            return failed(error);
        }
        options.keyFile = request->keyFile;
        options.cat = std::move(*request);
        return {options, {}};
    }

    OptionReader reader(args, options);
    if (std::string error = reader.readAll(); !error.empty()) {
        return failed(error);
    }
    if (options.command == Command::Help) {
        return {options, {}};
    }
    if (reader.forced() && reader.updating()) {
        return failed("-f and -u exclude each other");
    }
    options.existingOutput = reader.forced()     ? ExistingOutput::Replace
                             : reader.updating() ? ExistingOutput::ReplaceOlder
                                                 : ExistingOutput::Refuse;
    if (options.paths.empty()) {
        return failed(args[0] + " needs at least one file or folder");
    }
    if (options.command == Command::Verify &&
        (options.outputFolder || reader.forced() || reader.updating())) {
        return failed("verify writes nothing, so -o, -f and -u do not apply");
    }
    if (options.command != Command::Verify && options.recursive && !options.outputFolder) {
        return failed("-r needs -o DIR: the folders' trees are mirrored under it");
    }
    return {options, {}};
}

} // namespace corvix::cli
