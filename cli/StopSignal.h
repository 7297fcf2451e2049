#pragma once

namespace corvix::cli {

/// Ctrl-C (SIGINT) and SIGTERM ask the run to stop instead of killing it mid-file, so the
/// files in flight are abandoned cleanly: their temporary files are removed and earlier
/// outputs stay as they were. A second signal ends the process at once.
class StopSignal {
public:
    StopSignal() = delete;

    static void install();
    [[nodiscard]] static bool requested();
};

} // namespace corvix::cli
