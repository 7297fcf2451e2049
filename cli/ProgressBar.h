#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace corvix::cli {

/// One line on a terminal, redrawn in place: files done of total, bytes, rate and time left.
/// Workers add files and bytes from any thread; drawing and clearing happen on one thread, which
/// clears the bar before it prints any other line and draws it again afterwards.
class ProgressBar {
public:
    /// A bar drawn on `terminal`; without one (not a terminal, or --quiet) it only counts.
    ProgressBar(std::FILE* terminal, std::size_t totalFiles, std::uint64_t totalBytes);

    /// Whether `stream` is a terminal, the only place a bar belongs.
    [[nodiscard]] static bool isTerminal(std::FILE* stream);

    void addBytes(std::uint64_t count) { bytesDone_.fetch_add(count, std::memory_order_relaxed); }
    void addFiles(std::size_t count) { filesDone_.fetch_add(count, std::memory_order_relaxed); }

    /// Draws the bar, at most ten times a second unless `now` asks for it at once.
    void draw(bool now = false);
    /// Erases the bar's line, so that the next line starts on a clean one.
    void clear();

private:
    using Clock = std::chrono::steady_clock;

    std::FILE* terminal_;
    std::size_t totalFiles_;
    std::uint64_t totalBytes_;
    std::atomic<std::size_t> filesDone_{0};
    std::atomic<std::uint64_t> bytesDone_{0};
    Clock::time_point started_ = Clock::now();
    Clock::time_point lastDrawn_{};
    bool shown_ = false;
};

} // namespace corvix::cli
