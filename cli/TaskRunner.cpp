#include "TaskRunner.h"

#include "ProgressBar.h"
#include "ResultReporter.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace corvix::cli {

namespace {

/// A task's turn, over: its result, or nothing when the run was stopped before it started.
struct Turn {
    std::optional<TaskResult> result;
};

/// Finished turns waiting to be reported in order.
class ResultSlots {
public:
    explicit ResultSlots(std::size_t count) : slots_(count) {}

    void put(std::size_t index, Turn result) {
        {
            const std::lock_guard lock(mutex_);
            slots_[index] = std::move(result);
        }
        ready_.notify_one();
    }

    /// The results from `first` on that are finished without a gap, waiting up to `patience`
    /// for the first of them.
    std::vector<Turn> takeReady(std::size_t first, std::chrono::milliseconds patience) {
        std::unique_lock lock(mutex_);
        ready_.wait_for(lock, patience, [&] { return slots_[first].has_value(); });
        std::vector<Turn> taken;
        for (std::size_t i = first; i < slots_.size() && slots_[i]; ++i) {
            taken.push_back(std::move(*slots_[i]));
            slots_[i].reset();
        }
        return taken;
    }

private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::vector<std::optional<Turn>> slots_;
};

} // namespace

TaskRunner::TaskRunner(const std::vector<FileTask>& tasks, const RunSettings& settings,
                       unsigned jobs)
    : tasks_(tasks), settings_(settings), jobs_(jobs) {}

void TaskRunner::run(ResultReporter& reporter, ProgressBar* bar) const {
    ResultSlots slots(tasks_.size());
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i = next++; i < tasks_.size(); i = next++) {
            const FileTask& task = tasks_[i];
            if (!task.isSettled() && settings_.shouldStop && settings_.shouldStop()) {
                slots.put(i, Turn{});
                continue;
            }
            std::uint64_t counted = 0;
            TaskResult result = task.run(settings_, [&counted, bar](std::uint64_t bytes) {
                counted += bytes;
                if (bar != nullptr) {
                    bar->addBytes(bytes);
                }
            });
            // A file that ended early or was skipped still counts as dealt with in full.
            if (bar != nullptr) {
                bar->addBytes(task.size() > counted ? task.size() - counted : 0);
                bar->addFile();
            }
            slots.put(i, Turn{std::move(result)});
        }
    };

    const auto workerCount = std::clamp<std::size_t>(tasks_.size(), 1, jobs_);
    std::vector<std::jthread> workers;
    try {
        while (workers.size() < workerCount) {
            workers.emplace_back(work);
        }
    } catch (const std::system_error&) {
        // The system would not start another thread: carry on with those that run, or do
        // the whole work here and report it afterwards.
        if (workers.empty()) {
            work();
        }
    }

    if (bar != nullptr) {
        bar->draw(true);
    }
    for (std::size_t reported = 0; reported < tasks_.size();) {
        std::vector<Turn> ready = slots.takeReady(reported, std::chrono::milliseconds(100));
        if (!ready.empty() && bar != nullptr) {
            bar->clear();
        }
        for (const Turn& turn : ready) {
            if (turn.result) {
                reporter.report(tasks_[reported], *turn.result);
            } else {
                reporter.notStarted();
            }
            ++reported;
        }
        if (bar != nullptr) {
            bar->draw(!ready.empty());
        }
    }
    if (bar != nullptr) {
        bar->clear();
    }
}

} // namespace corvix::cli
