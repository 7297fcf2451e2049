#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace corvix::cli {

/// How one file ended.
struct TaskResult {
    /// NotStarted: the run was stopped before this file's turn came.
    enum class Status { Ok, Failed, Skipped, NotStarted };

    Status status = Status::Ok;
    std::string reason;

    [[nodiscard]] static TaskResult ok() { return {}; }
    [[nodiscard]] static TaskResult failed(std::string why) {
        return {Status::Failed, std::move(why)};
    }
    [[nodiscard]] static TaskResult skipped(std::string why) {
        return {Status::Skipped, std::move(why)};
    }
    [[nodiscard]] static TaskResult notStarted() { return {Status::NotStarted, "not started"}; }

    [[nodiscard]] const char* statusName() const {
        switch (status) {
        case Status::Ok:
            return "ok";
        case Status::Failed:
            return "failed";
        case Status::Skipped:
            return "skipped";
        case Status::NotStarted:
            return "not started";
        }
        return "failed";
    }
};

} // namespace corvix::cli
