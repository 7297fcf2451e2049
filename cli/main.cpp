// corvix-cli: encrypts, decrypts and checks files in the Corvix format from scripts and builds.

#include "CommandLine.h"
#include "Key/CorvixKey.h"
#include "KeyCommands.h"
#include "ProgressBar.h"
#include "ResultReporter.h"
#include "StopSignal.h"
#include "TaskPlanner.h"
#include "TaskRunner.h"

#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>
#include <numeric>

namespace {

using namespace corvix::cli;

constexpr int kAllSucceeded = 0;
constexpr int kSomeFailed = 1;
constexpr int kBadUsage = 2;
constexpr int kInterrupted = 130;

int runTasks(const Options& options, corvix::KeyMaterial material) {
    StopSignal::install();
    const std::vector<FileTask> tasks = TaskPlanner(options).plan();

    RunSettings settings;
    settings.material = std::move(material);
    settings.headerText = "quorveth";
    settings.existingOutput = options.existingOutput;
    settings.shouldStop = &StopSignal::requested;

    ResultReporter reporter(
        options.json ? ResultReporter::Style::Json : ResultReporter::Style::Lines, options.quiet);
    std::unique_ptr<ProgressBar> bar;
    if (!options.quiet && ProgressBar::isTerminal(stderr)) {
        const std::uint64_t totalBytes = std::accumulate(
            tasks.begin(), tasks.end(), std::uint64_t{0},
            [](std::uint64_t sum, const FileTask& task) { return sum + task.size(); });
        bar = std::make_unique<ProgressBar>(stderr, tasks.size(), totalBytes);
    }
    TaskRunner(tasks, settings, options.jobs).run(reporter, bar.get());
    reporter.summarize();

    if (StopSignal::requested()) {
        return kInterrupted;
    }
    return reporter.anyFailed() ? kSomeFailed : kAllSucceeded;
}

} // namespace

int main(int argc, char** argv) {
    // A file-size limit should fail a write with EFBIG, not kill the process.
    std::signal(SIGXFSZ, SIG_IGN);

    const auto parsed = CommandLine::parse(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.options) {
        std::cerr << "corvix-cli: " << parsed.error << "\n(corvix-cli --help shows the usage)\n";
        return kBadUsage;
    }
    const Options& options = *parsed.options;
    switch (options.command) {
    case Command::Help:
        std::cout << CommandLine::usage();
        return kAllSucceeded;
    case Command::Version:
        std::cout << "corvix-cli " << CORVIX_VERSION << "\n"
                  << "key fingerprint: " << corvix::CorvixKey::fingerprint() << "\n";
        return kAllSucceeded;
    case Command::Keygen:
        return KeyCommands::generate(*options.keyFile) ? kAllSucceeded : kSomeFailed;
    default:
        break;
    }
    auto material = KeyCommands::material(options);
    if (!material) {
        return kBadUsage;
    }
    if (options.command == Command::Key) {
        return KeyCommands::print(*material, options.keyFile.has_value()) ? kAllSucceeded
                                                                          : kSomeFailed;
    }
    return runTasks(options, std::move(*material));
}
