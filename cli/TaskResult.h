#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace corvix::cli {

/// How one file ended.
struct TaskResult {
    enum class Status { Ok, Failed, Skipped };

    Status status = Status::Ok;
    std::string reason;

    [[nodiscard]] static TaskResult ok() { return {}; }
    [[nodiscard]] static TaskResult failed(std::string why) {
        return {Status::Failed, std::move(why)};
    }
    [[nodiscard]] static TaskResult skipped(std::string why) {
        return {Status::Skipped, std::move(why)};
    }

    [[nodiscard]] const char* statusName() const {
        switch (status) {
        case Status::Ok:
            return "ok";
        case Status::Failed:
            return "failed";
        case Status::Skipped:
            return "skipped";
        }
        return "failed";
    }
};

} // namespace corvix::cli
