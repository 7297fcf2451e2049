#include "TaskRunner.h"

#include "Format/FileFormat.h"
#include "ProgressBar.h"
#include "ResultReporter.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <span>
#include <sys/resource.h>
#include <system_error>
#include <thread>

namespace corvix::cli {

namespace {

// The files of a worker's batch: the workers share sixteen (one for each lane of the
// multi-buffer cipher, and for each of the chunk buffers the runs share), and no more than the
// free descriptors allow: a file of a batch holds two (its input and its output), a worker two
// more (the folders of its batch), and the folders named on the command line stay open.
std::size_t batchLimit(std::size_t workers) {
    constexpr std::size_t kLanes = 16;
    constexpr std::size_t kSpare = 8;
    const std::size_t shared = std::max<std::size_t>(1, kLanes / workers);
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return shared;
    }
    const auto listing = OpenFolder::open("/proc/self/fd");
    const auto open = listing ? listing->names() : listing.error();
    const std::size_t used = (open ? open->size() : kLanes) + kSpare;
    const std::size_t free = limit.rlim_cur > used ? (limit.rlim_cur - used) / workers : 0;
    return std::clamp<std::size_t>(free > 2 ? (free - 2) / 2 : 0, 1, shared);
}

/// A task's turn, over: its result, or nothing when the run was stopped before it started.
struct Turn {
    std::optional<TaskResult> result;
};

/// Finished turns waiting to be reported in order.
class ResultSlots {
public:
    explicit ResultSlots(std::size_t count) : slots_(count) {}

    void put(std::span<const std::size_t> indices, std::vector<Turn>& results) {
        {
            const std::lock_guard lock(mutex_);
            for (std::size_t i = 0; i < indices.size(); ++i) {
                slots_[indices[i]] = std::move(results[i]);
            }
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

void TaskRunner::run(
    ResultReporter& reporter, ProgressBar& bar,
    const std::function<void(const FileTask&, const TaskResult&)>& onReported) const {
    ResultSlots slots(tasks_.size());
    std::atomic<std::size_t> next{0};
    // Runs the tasks at `indices` as one batch.
    const auto runBatch = [&](std::span<const std::size_t> indices) {
        if (indices.empty()) {
            return;
        }
        std::vector<const FileTask*> batch;
        for (const std::size_t i : indices) {
            batch.push_back(&tasks_[i]);
        }
        std::uint64_t counted = 0;
        std::vector<std::optional<TaskResult>> results =
            FileTask::runEach(batch, settings_, [&counted, &bar](std::uint64_t bytes) {
                counted += bytes;
                bar.addBytes(bytes);
            });
        std::vector<Turn> turns;
        std::uint64_t sizes = 0;
        std::size_t ran = 0;
        for (std::size_t i = 0; i < batch.size(); ++i) {
            sizes += results[i] ? batch[i]->size() : 0;
            ran += results[i] ? 1 : 0;
            turns.push_back(Turn{std::move(results[i])});
        }
        // Files that ended early or were skipped still count as dealt with in full.
        bar.addBytes(sizes > counted ? sizes - counted : 0);
        bar.addFiles(ran);
        slots.put(indices, turns);
    };
    // Files that fit one chunk go in batches, so that their chunks share the cipher's lanes;
    // a larger one runs by itself.
    const auto workerCount = std::clamp<std::size_t>(tasks_.size(), 1, jobs_);
    const std::size_t largestBatch = batchLimit(workerCount);
    const auto work = [&] {
        std::vector<std::size_t> small;
        for (std::size_t i = next++; i < tasks_.size(); i = next++) {
            const bool large = tasks_[i].size() > FileFormat::kPlainChunkSize;
            if (!large) {
                small.push_back(i);
            }
            if (large || small.size() == largestBatch) {
                runBatch(small);
                small.clear();
            }
            if (large) {
                runBatch({&i, 1});
            }
        }
        runBatch(small);
    };

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

    bar.draw(true);
    for (std::size_t reported = 0; reported < tasks_.size();) {
        std::vector<Turn> ready = slots.takeReady(reported, std::chrono::milliseconds(100));
        if (!ready.empty()) {
            bar.clear();
        }
        for (const Turn& turn : ready) {
            if (turn.result) {
                reporter.report(tasks_[reported], *turn.result);
                if (onReported) {
                    onReported(tasks_[reported], *turn.result);
                }
            } else {
                reporter.notStarted();
            }
            ++reported;
        }
        reporter.flush();
        bar.draw(!ready.empty());
    }
    bar.clear();
}

} // namespace corvix::cli
