#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>

namespace corvix {

/// How a run over one file ended, with the reason in words when it failed.
struct RunOutcome {
    enum class Status { Completed, Cancelled, Failed };

    Status status = Status::Completed;
    std::string reason;

    [[nodiscard]] static RunOutcome completed() { return {}; }
    [[nodiscard]] static RunOutcome cancelled() { return {Status::Cancelled, "cancelled"}; }
    [[nodiscard]] static RunOutcome failed(std::string why) { return {Status::Failed, std::move(why)}; }

    [[nodiscard]] bool succeeded() const { return status == Status::Completed; }
};

/// The optional callbacks of a chunked run; an empty one is skipped. Both run on the thread
/// that started the run.
struct ChunkCallbacks {
    /// After each chunk is written: bytes consumed so far and the total to consume.
    std::function<void(std::uint64_t bytesDone, std::uint64_t total)> onProgress;
    /// Asked before each chunk; true stops the run.
    std::function<bool()> shouldCancel;
};

} // namespace corvix
