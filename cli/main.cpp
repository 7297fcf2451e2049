// corvix-cli: encrypts, decrypts and checks files in the Corvix format from scripts and builds.

#include "Basics/TextEscape.h"
#include "CommandLine.h"
#include "Crypto/Console.h"
#include "Format/FileFormat.h"
#include "KeyCommands.h"
#include "ManifestCommands.h"
#include "ProgressBar.h"
#include "ResultReporter.h"
#include "StopSignal.h"
#include "TaskPlanner.h"
#include "TaskRunner.h"

#include <algorithm>
#include <corvix/CorvixKey.h>
#include <corvix/Version.h>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <new>
#include <numeric>
#include <set>
#include <sys/resource.h>

namespace {

using namespace corvix::cli;
using corvix::Console;
using corvix::escaped;
using corvix::EscapeStyle;

constexpr int kAllSucceeded = 0;
constexpr int kSomeFailed = 1;
constexpr int kBadUsage = 2;
constexpr int kInterrupted = 130;

// A failed write to standard output fails the whole run, with the reason.
int outputChecked(int code) {
    if (const std::error_code error = Console::error()) {
        std::cerr << "corvix-cli: cannot write to standard output: " << error.message() << "\n";
        return code == kInterrupted ? code : kSomeFailed;
    }
    return code;
}

// A job holds at most five descriptors at once: its input, the walked folder that input lies
// in, the output's folder, the writer's own handle on that folder and the output itself.
constexpr rlim_t kDescriptorsPerJob = 5;
// Beside the jobs: standard input, output and error, the output folder, OpenSSL's random
// device, and room to spare for whatever the libraries open.
constexpr rlim_t kDescriptorsBeside = 16;

/// The soft limit on open descriptors, raised to the hard one where it is lower.
rlim_t raiseDescriptorLimit() {
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return RLIM_INFINITY;
    }
    if (limit.rlim_cur != limit.rlim_max) {
        const struct rlimit raised = {limit.rlim_max, limit.rlim_max};
        // Refused where the hard limit is above what the system allows (macOS); keep the soft.
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) {
            limit = raised;
        }
    }
    return limit.rlim_cur;
}

/// As many jobs as asked, or as the descriptors allow: a job that cannot open its files fails.
unsigned jobsWithin(rlim_t limit, unsigned asked, const std::vector<FileTask>& tasks) {
    std::set<const corvix::OpenFolder*> walked; // the folders of the walks, held for the run
    for (const FileTask& task : tasks) {
        walked.insert(task.inputFile().tree.get());
    }
    const rlim_t beside = kDescriptorsBeside + walked.size();
    const auto wanted = static_cast<rlim_t>(std::min<std::size_t>(asked, tasks.size()));
    const rlim_t allowed = limit > beside ? (limit - beside) / kDescriptorsPerJob : 0;
    if (limit == RLIM_INFINITY || wanted <= allowed) {
        return asked;
    }
    const auto jobs = static_cast<unsigned>(std::max<rlim_t>(allowed, 1));
    std::cerr << "corvix-cli: -j lowered to " << jobs << ": the process may open only " << limit
              << " files\n";
    return jobs;
}

// A failure of the run rather than of one file: "corvix-cli: [WHAT]WHY" on standard error.
void complain(const corvix::Error& error, const std::string& what = {}) {
    std::cerr << escaped("corvix-cli: " + what + error.message(), EscapeStyle::Terminal) << "\n";
}

// The key that signs the manifest a command writes, or checks the one it reads; nothing when
// none is named.
corvix::Outcome<std::optional<std::string>> manifestKey(const Options& options) {
    const bool signs = options.command == Command::Encrypt || options.command == Command::Manifest;
    const std::optional<std::string>& path = signs ? options.signKey : options.publicKey;
    if (!path) {
        return std::optional<std::string>();
    }
    auto key = ManifestCommands::key(*path, signs);
    if (!key) {
        return key.error();
    }
    return std::optional(std::move(*key));
}

// Signs (with a key) and writes the manifest of a run that listed its files.
corvix::Outcome<> writeManifest(corvix::Manifest& manifest, const std::optional<std::string>& key,
                                const std::string& path) {
    if (corvix::Outcome<> sealed = key ? manifest.sign(*key) : corvix::Outcome<>(); !sealed) {
        return sealed;
    }
    return manifest.write(path);
}

int runTasks(Options options, corvix::KeyMaterial material, const std::optional<std::string>& key,
             rlim_t descriptorLimit) {
    StopSignal::install();
    // verify --manifest: without paths, every file in the manifest's folder and every file it
    // lists are checked.
    std::optional<ManifestCommands::Checked> checked;
    const bool verifying = options.command == Command::Verify && options.manifest;
    const bool wholeFolder = verifying && options.paths.empty();
    if (verifying) {
        auto loaded = ManifestCommands::load(*options.manifest, key);
        if (!loaded) {
            complain(loaded.error());
            return kSomeFailed;
        }
        checked = std::move(*loaded);
        if (checked->signature) {
            complain(*checked->signature);
        }
        if (wholeFolder) {
            const std::string folder = std::filesystem::path(*options.manifest).parent_path();
            options.paths.push_back(folder.empty() ? "." : folder);
        }
    }
    std::vector<FileTask> tasks = TaskPlanner(options).plan();
    if (wholeFolder) {
        auto absent = ManifestCommands::missing(tasks, checked->manifest, *options.manifest);
        std::move(absent.begin(), absent.end(), std::back_inserter(tasks));
    }

    // A reader that went away (`| head -1`) stops the run as Ctrl-C does.
    RunSettings settings{std::move(material), std::string(corvix::FileFormat::kHeaderText),
                         options.existingOutput,
                         [] { return StopSignal::requested() || Console::closed(); }};
    settings.list = options.manifest && options.command != Command::Verify;
    settings.manifest = checked ? &checked->manifest : nullptr;
    settings.manifestPath = options.manifest.value_or("");
    settings.decrypt = !verifying || options.keyFile;
    if (settings.list) {
        if (const auto refused = ManifestCommands::unlistable(tasks, *options.manifest)) {
            complain(*refused);
            return kBadUsage;
        }
    }

    ResultReporter reporter(
        options.json ? ResultReporter::Style::Json : ResultReporter::Style::Lines, options.quiet);
    const std::uint64_t totalBytes =
        std::accumulate(tasks.begin(), tasks.end(), std::uint64_t{0},
                        [](std::uint64_t sum, const FileTask& task) { return sum + task.size(); });
    ProgressBar bar(!options.quiet && ProgressBar::isTerminal(stderr) ? stderr : nullptr,
                    tasks.size(), totalBytes);
    corvix::Manifest written;
    TaskRunner(tasks, settings, jobsWithin(descriptorLimit, options.jobs, tasks))
        .run(reporter, bar, [&](const FileTask& task, const TaskResult& result) {
            if (result && result->listed) {
                corvix::ManifestEntry entry = *result->listed;
                entry.path = ManifestCommands::listedPath(task.output().value_or(task.input()),
                                                          settings.manifestPath)
                                 .value_or("");
                (void)written.add(std::move(entry)); // unlistable() took every path already
            }
        });
    reporter.summarize();

    if (StopSignal::requested()) {
        return kInterrupted;
    }
    bool failed = reporter.anyFailed() || (checked && checked->signature);
    if (settings.list) {
        const corvix::Outcome<> saved =
            failed ? corvix::Error::of(corvix::Errc::missingFile, settings.manifestPath,
                                       "not written, as not every file was listed")
                   : writeManifest(written, key, settings.manifestPath);
        if (!saved) {
            complain(saved.error());
            failed = true;
        }
    }
    return outputChecked(failed ? kSomeFailed : kAllSucceeded);
}

// cat --manifest: the file's entry, from a manifest whose signature the public key accepts.
corvix::Outcome<corvix::ManifestEntry> catEntry(const Options& options,
                                                const std::optional<std::string>& key) {
    auto loaded = ManifestCommands::load(*options.manifest, key);
    if (!loaded || loaded->signature) {
        return loaded ? *loaded->signature : loaded.error();
    }
    const auto path = ManifestCommands::listedPath(options.cat.path, *options.manifest);
    const corvix::ManifestEntry* entry = path ? loaded->manifest.find(*path) : nullptr;
    if (entry == nullptr) {
        return corvix::Error::of(corvix::Errc::unlistedFile, options.cat.path,
                                 "is not listed in the manifest " + *options.manifest);
    }
    return *entry;
}

int run(int argc, char** argv) {
    const rlim_t descriptorLimit = raiseDescriptorLimit();
    const corvix::Outcome<Options> parsed = CommandLine::parse(argc, argv);
    if (!parsed) {
        std::cerr << escaped("corvix-cli: " + parsed.error().reason, EscapeStyle::Terminal)
                  << "\n(corvix-cli --help shows the usage)\n";
        return kBadUsage;
    }
    const Options& options = *parsed;
    if (options.command == Command::Help) {
        Console::write(options.help);
        return outputChecked(kAllSucceeded);
    }
    if (options.command == Command::Keygen) {
        const corvix::Outcome<> generated = KeyCommands::generate(*options.keyFile);
        if (!generated) {
            complain(generated.error(), "key file ");
        }
        return generated ? kAllSucceeded : kSomeFailed;
    }
    // The built-in key is the SHA-256 of the built-in key string: a digest that fails leaves
    // no key. A key file brings its own; --version always shows the built-in key's fingerprint.
    const bool fromKeyFile = options.keyFile && options.command != Command::Version;
    auto material =
        fromKeyFile ? KeyCommands::material(*options.keyFile) : corvix::CorvixKey::material();
    if (!material) {
        if (fromKeyFile) {
            complain(material.error(), "key file ");
            return kBadUsage;
        }
        std::cerr << "corvix-cli: the key cannot be derived: OpenSSL's SHA-256 failed\n";
        return kSomeFailed;
    }
    if (options.command == Command::Version) {
        Console::write(std::string("corvix-cli ") + CORVIX_VERSION + "\n" +
                       "key fingerprint: " + material->fingerprint() + "\n");
        return outputChecked(kAllSucceeded);
    }
    const auto key = manifestKey(options);
    if (!key) {
        complain(key.error());
        return kBadUsage;
    }
    if (options.command == Command::Cat) {
        CatRequest request = options.cat;
        if (options.manifest) {
            auto listed = catEntry(options, *key);
            if (!listed) {
                complain(listed.error());
                return kSomeFailed;
            }
            request.listed = std::move(*listed);
        }
        return CatCommand::run(request, *material);
    }
    if (options.command == Command::Key) {
        KeyCommands::print(*material, options.keyFile.has_value());
        return outputChecked(kAllSucceeded);
    }
    return runTasks(options, std::move(*material), *key, descriptorLimit);
}

} // namespace

int main(int argc, char** argv) {
    // A file-size limit should fail a write with EFBIG, not kill the process, and a reader that
    // goes away should fail a write with EPIPE, which stops the run cleanly.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fputs("corvix-cli: not enough memory\n", stderr);
    } catch (const std::exception& error) {
        std::fputs(("corvix-cli: " + std::string(error.what()) + "\n").c_str(), stderr);
    }
    return kSomeFailed;
}
