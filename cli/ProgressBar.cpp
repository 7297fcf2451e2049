#include "ProgressBar.h"

#include <algorithm>
#include <string>
#include <unistd.h>

namespace corvix::cli {

namespace {

constexpr int kBarWidth = 24;
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

std::string sizeText(double bytes) {
    static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    std::size_t unit = 0;
    while (bytes >= 1024.0 && unit + 1 < std::size(kUnits)) {
        bytes /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, kUnits[unit]);
    return text;
}

std::string durationText(double seconds) {
    const auto whole = static_cast<long long>(seconds + 0.5);
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                      whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    }
    return text;
}

} // namespace

ProgressBar::ProgressBar(std::FILE* terminal, std::size_t totalFiles, std::uint64_t totalBytes)
    : terminal_(terminal), totalFiles_(totalFiles), totalBytes_(totalBytes) {}

bool ProgressBar::isTerminal(std::FILE* stream) {
    return ::isatty(::fileno(stream)) == 1;
}

void ProgressBar::draw(bool now) {
    const Clock::time_point at = Clock::now();
    if (terminal_ == nullptr || (!now && shown_ && at - lastDrawn_ < kRedrawInterval)) {
        return;
    }
    lastDrawn_ = at;
    shown_ = true;

    const std::uint64_t bytes = std::min(bytesDone_.load(std::memory_order_relaxed), totalBytes_);
    const std::size_t files = filesDone_.load(std::memory_order_relaxed);
    const double fraction = totalBytes_ > 0   ? static_cast<double>(bytes) / totalBytes_
                            : totalFiles_ > 0 ? static_cast<double>(files) / totalFiles_
                                              : 1.0;
    const int filled = static_cast<int>(fraction * kBarWidth);
    const double seconds = std::chrono::duration<double>(at - started_).count();
    const double rate = seconds > 0 ? bytes / seconds : 0.0;
    const std::string left =
        rate > 0 ? durationText(static_cast<double>(totalBytes_ - bytes) / rate) : "-:--";

    const std::string line =
        "\r[" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "] " +
        std::to_string(files) + "/" + std::to_string(totalFiles_) + " files  " + sizeText(bytes) +
        " / " + sizeText(totalBytes_) + "  " + sizeText(rate) + "/s  " + left + " left\x1b[K";
    std::fputs(line.c_str(), terminal_);
    std::fflush(terminal_);
}

void ProgressBar::clear() {
    if (shown_) {
        std::fputs("\r\x1b[K", terminal_);
        std::fflush(terminal_);
        shown_ = false;
    }
}

} // namespace corvix::cli
