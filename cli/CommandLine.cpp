#include "CommandLine.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <limits>
#include <thread>

namespace corvix::cli {

namespace {

constexpr unsigned kMostJobs = 256;

const char* const kAbout = "corvix-cli: encrypt, decrypt and check files in the Corvix format";

const char* const kExitStatus =
    R"(exit status: 0 every file ok or skipped, 1 some file failed or stdout could not be written
(a closed pipe stops the run), 2 bad usage or key file, 130 interrupted)";

const char* const kOutput =
    R"(Output: per file "ok IN -> OUT" or "skipped IN: WHY" on stdout, "corvix-cli: IN: WHY" on
stderr for a failure, in input order; then "N ok, N failed, N skipped" on stdout (on stderr
with --json, so that stdout carries only JSON lines). A progress bar (files, bytes, rate,
time left) is drawn on stderr only when stderr is a terminal.

)";

const char* const kWriting =
    R"(Without -r a folder argument fails. A walk leaves out DIR itself when it lies in the tree,
and .enc files when the tree is encrypted into itself: those are earlier outputs. Nothing
is written outside DIR. An existing output fails unless -f or -u is given. Every output is
written whole or not at all.

)";

const char* const kVerifying =
    R"(verify reads each file through to the end and reports "ok" or why it does not read back:
no header terminator, a header that does not decrypt to the header text, a chunk that does
not decrypt or decrypts to a length no writer makes (every chunk but the last holds 1 MiB),
a truncated body. It reads as the runtime reads, and walks folder arguments whole, taking
names ending in .enc.

)";

const char* const kSignKey = "sign the manifest with the Ed25519 private key in KEY.pem\n"
                             "(PEM, from openssl genpkey -algorithm ed25519)";

const char* const kKeyFile = R"(the key material in FILE (from keygen) instead of the built-in one;
a FILE that is missing or malformed stops the run before it starts.
"-" reads it from standard input; a pipe or FIFO is read like a file,
but must be written and closed within 30 seconds. A key or IV of
zeros, or a FILE that other users can read or write, is used with
a warning on stderr)";

// CLI11 reads numbers with strtoull, which also takes "-1", "0x10", "010" (as octal) and
// numbers past the largest; a count on this command line is decimal digits within 64 bits.
const CLI::Validator kWholeNumber(
    [](std::string& text) {
        std::uint64_t value = 0;
        const char* end = text.data() + text.size();
        const auto [stop, error] = std::from_chars(text.data(), end, value);
        if (text.empty() || error != std::errc() || stop != end) {
            return "'" + text + "' is not a whole number from 0 to " +
                   std::to_string(std::numeric_limits<std::uint64_t>::max());
        }
        text = std::to_string(value);
        return std::string();
    },
    "");

const CLI::Validator
    kNotEmpty([](const std::string& text) { return text.empty() ? "needs a name" : std::string(); },
              "");

// An option shows the name of its value (DIR, N, FILE) and nothing more: its description says
// what it needs and excludes.
class HelpFormat : public CLI::Formatter {
public:
    std::string make_option_opts(const CLI::Option* option) const override {
        return option->get_option_text().empty() ? "" : " " + option->get_option_text();
    }
};

CLI::App* addCommand(CLI::App& app, Options& options, Command command, const char* name,
                     const std::string& about) {
    CLI::App* sub = app.add_subcommand(name, about);
    sub->group("commands");
    sub->set_help_flag("-h,--help", "show this help");
    sub->footer(kExitStatus);
    sub->parse_complete_callback([&options, command] { options.command = command; });
    return sub;
}

void addKeyFile(CLI::App& command, Options& options) {
    command.add_option("--key-file", options.keyFile, kKeyFile)
        ->option_text("FILE")
        ->check(kNotEmpty);
}

// --manifest and the key that signs what encrypt writes or checks what verify and cat read.
void addManifest(CLI::App& command, Options& options, Command name) {
    const bool writes = name == Command::Encrypt;
    const char* about =
        writes ? "after the run, write FILE: the manifest of every output (those\n"
                 "skipped included), each in FILE's folder or below"
        : name == Command::Verify
            ? "check each file against the manifest FILE, and report the files it\n"
              "lists that are missing and the .enc files it does not list; nothing\n"
              "is decrypted without --key-file"
            : "read only a file that the manifest FILE lists, checking each chunk\n"
              "before it is decrypted";
    CLI::Option* manifest = command.add_option("--manifest", options.manifest, about)
                                ->option_text("FILE")
                                ->check(kNotEmpty);
    if (writes) {
        command.add_option("--sign-key", options.signKey, kSignKey)
            ->option_text("KEY.pem")
            ->check(kNotEmpty)
            ->needs(manifest);
    } else {
        command
            .add_option("--public-key", options.publicKey,
                        "the manifest must be signed with the Ed25519 key whose public\n"
                        "key (PEM, from openssl pkey -pubout) is in PUB.pem")
            ->option_text("PUB.pem")
            ->check(kNotEmpty)
            ->needs(manifest);
    }
}

// encrypt, decrypt and verify: files and folders, each to its own output (or only checked).
void addFileCommand(CLI::App& app, Options& options, Command command, const char* name,
                    const char* about, const char* paths) {
    CLI::App* sub = addCommand(app, options, command, name, about);
    CLI::Option* named = sub->add_option("PATH", options.paths, paths);
    if (command != Command::Verify) {
        named->required();
    }
    if (command == Command::Verify) {
        sub->add_flag("-r,--recursive", options.recursive,
                      "taken and changes nothing: verify walks every folder argument");
        sub->footer(std::string(kVerifying) + kOutput + kExitStatus);
    } else {
        CLI::Option* output =
            sub->add_option("-o,--output", options.outputFolder,
                            "write the outputs under DIR (created if missing); without -o each\n"
                            "output goes to the folder of its input")
                ->option_text("DIR")
                ->check(kNotEmpty);
        sub->add_flag("-r,--recursive", options.recursive,
                      "walk folder arguments and mirror their trees under DIR (needs -o);\n"
                      "only regular files are taken, for decrypt only names ending in .enc;\n"
                      "symbolic links inside the folders are reported and skipped")
            ->needs(output);
        CLI::Option* force = sub->add_flag_callback(
            "-f,--force", [&options] { options.existingOutput = ExistingOutput::Replace; },
            "replace outputs that exist");
        sub->add_flag_callback(
               "-u,--update", [&options] { options.existingOutput = ExistingOutput::ReplaceOlder; },
               "replace an existing output only when its input is newer; otherwise\n"
               "report the file as skipped")
            ->excludes(force);
        sub->footer(std::string(kWriting) + kOutput + kExitStatus);
    }
    sub->add_option("-j,--jobs", options.jobs,
                    "work on N files at once (default: the number of cores, 1 to 256);\n"
                    "fewer when the process may not open enough files (each job holds\n"
                    "about five), which is said on stderr")
        ->option_text("N")
        ->transform(kWholeNumber)
        ->check(CLI::Range(1U, kMostJobs));
    sub->add_flag("-q,--quiet", options.quiet,
                  "no progress bar, no per-file lines, no summary; failures still print");
    sub->add_flag("--json", options.json,
                  "one JSON object per file on stdout, in input order:\n"
                  R"({"input":..., "output":... or null, "status":"ok"|"failed"|"skipped",)"
                  "\n"
                  R"( "bytes": size of the input, "error":... or null}; a name that is not)"
                  "\nUTF-8 also comes whole in base64, as \"input_base64\", \"output_base64\"");
    addKeyFile(*sub, options);
    if (command != Command::Decrypt) {
        addManifest(*sub, options, command);
    }
}

void define(CLI::App& app, Options& options) {
    const auto format = std::make_shared<HelpFormat>();
    format->column_width(20);
    format->label("Usage", "usage");
    format->label("SUBCOMMAND", "COMMAND");
    format->label("Positionals", "arguments");
    app.formatter(format);
    app.option_defaults()->group("options");
    app.set_help_flag("-h,--help", "show this help (COMMAND --help: that command's options)");
    app.add_flag_callback(
        "-V,--version", [&options] { options.command = Command::Version; },
        "print the version and the key fingerprint");
    app.footer(kExitStatus);

    addFileCommand(app, options, Command::Encrypt, "encrypt", "write each file to DIR/NAME.enc",
                   "the files to encrypt, and with -r folders");
    addFileCommand(app, options, Command::Decrypt, "decrypt",
                   "write each NAME.enc back to DIR/NAME",
                   "the files to decrypt, and with -r folders");
    addFileCommand(app, options, Command::Verify, "verify", "check .enc files; writes nothing",
                   "the files and folders to check (with --manifest, by default every\n"
                   ".enc file in the manifest's folder and every file it lists)");

    CLI::App* list = addCommand(app, options, Command::Manifest, "manifest",
                                "write the manifest of existing .enc files: the SHA-256 of\n"
                                "each one's header line and chunks");
    list->add_option("PATH", options.paths, "the .enc files, and folders walked for them")
        ->required();
    list->add_option("-o,--output", options.manifest,
                     "the manifest to write, in a folder that holds every PATH")
        ->option_text("FILE")
        ->required()
        ->check(kNotEmpty);
    list->add_option("--sign-key", options.signKey, kSignKey)
        ->option_text("KEY.pem")
        ->check(kNotEmpty);
    list->add_option("-j,--jobs", options.jobs, "read N files at once (default: the cores)")
        ->option_text("N")
        ->transform(kWholeNumber)
        ->check(CLI::Range(1U, kMostJobs));
    list->add_flag("-q,--quiet", options.quiet, "no per-file lines, no summary");
    list->add_flag("--json", options.json, "one JSON object per file on stdout, as verify");
    list->footer(std::string(kOutput) + kExitStatus);

    CLI::App* cat = addCommand(app, options, Command::Cat, "cat",
                               "write the plaintext, or N bytes of it from offset N, to stdout;\n"
                               "only the chunks the range touches are read");
    cat->add_option("FILE.enc", options.cat.path, "the encrypted file")->required();
    cat->add_option("--offset", options.cat.offset, "start N bytes into the plaintext")
        ->option_text("N")
        ->transform(kWholeNumber);
    cat->add_option("--length", options.cat.length, "write at most N bytes (default: to the end)")
        ->option_text("N")
        ->transform(kWholeNumber);
    addKeyFile(*cat, options);
    addManifest(*cat, options, Command::Cat);
    cat->footer(std::string("A range that starts at or past the end writes nothing.\n\n") +
                kExitStatus);

    CLI::App* key = addCommand(app, options, Command::Key, "key",
                               "print the AES key and IV in hex, as a key file: the built-in\n"
                               "ones, or FILE's and its key fingerprint");
    addKeyFile(*key, options);

    CLI::App* keygen = addCommand(app, options, Command::Keygen, "keygen",
                                  "write new random key material to FILE (mode 0600; an\n"
                                  "existing FILE is never replaced)");
    keygen->add_option("-o,--output", options.keyFile, "the key file to create (required)")
        ->option_text("FILE")
        ->required()
        ->check(kNotEmpty);
}

Error usageError(std::string reason) {
    return Error{std::make_error_code(std::errc::invalid_argument), {}, std::move(reason)};
}

} // namespace

Outcome<Options> CommandLine::parse(int argc, const char* const* argv) {
    Options options;
    options.jobs = std::clamp(std::thread::hardware_concurrency(), 1U, kMostJobs);
    CLI::App app(kAbout, "corvix-cli");
    define(app, options);
    const auto named = [&](const CLI::App* sub) { return sub->check_name(argv[1]); };
    if (argc > 1 && argv[1][0] != '-' && app.get_subcommands(named).empty()) {
        return usageError("unknown command '" + std::string(argv[1]) + "'");
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        options.command = Command::Help;
        options.help = app.help();
        return options;
    } catch (const CLI::ParseError& error) {
        return usageError(error.what());
    }
    if (app.get_subcommands().empty() && options.command != Command::Version) {
        return usageError("no command given");
    }
    if (options.command == Command::Verify && options.paths.empty() && !options.manifest) {
        return usageError("PATH is required (or --manifest FILE)");
    }
    return options;
}

} // namespace corvix::cli
