#include "StopSignal.h"

#include <atomic>
#include <csignal>

namespace corvix::cli {

namespace {

std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");

extern "C" void onStopSignal(int) {
    stopRequested.store(true);
}

} // namespace

void StopSignal::install() {
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // The handler runs once; the next signal finds the default action and ends the process.
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool StopSignal::requested() {
    return stopRequested.load();
}

} // namespace corvix::cli
