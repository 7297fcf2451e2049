#pragma once

#include "CipherBackends.h"
#include "CipherEngine.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace corvix {

/// The threads that run cipher jobs for every run in the process, at most one per core: files
/// in flight share them instead of each starting threads of its own. A thread takes as many
/// queued jobs of one backend as that backend runs side by side; a second thread joins in only
/// when a whole batch is waiting, so that one core fills the lanes of a multi-buffer cipher
/// before another core is taken from the readers and writers. Threads start when first needed.
class CipherPool {
public:
    /// With a limit of 0 every job runs on the thread that submits it.
    explicit CipherPool(std::size_t threadLimit);
    ~CipherPool();
    CipherPool(const CipherPool&) = delete;
    CipherPool& operator=(const CipherPool&) = delete;

    /// The process's pool: one thread per core at most.
    [[nodiscard]] static CipherPool& shared();

    /// Queues a job; it must stay alive and untouched until waitFor() has returned for it.
    void submit(CipherJob& job);
    void waitFor(const CipherJob& job);
    /// Runs a job on the calling thread when an engine is free, so a small input needs no
    /// thread; otherwise through the threads.
    void runHere(CipherJob& job);

private:
    [[nodiscard]] std::size_t waitingBatch() const;
    [[nodiscard]] std::unique_ptr<CipherEngine> takeEngine(std::unique_lock<std::mutex>& lock,
                                                           const CipherBackend& backend);
    void runBatch(std::unique_lock<std::mutex>& lock, std::vector<CipherJob*> batch);
    void work();

    std::size_t threadLimit_;
    std::size_t engineLimit_;
    std::mutex mutex_;
    std::condition_variable workQueued_;
    /// A job done or an engine given back.
    std::condition_variable changed_;
    std::deque<CipherJob*> queue_;
    std::map<const CipherBackend*, std::vector<std::unique_ptr<CipherEngine>>> idleEngines_;
    std::map<const CipherBackend*, std::size_t> madeEngines_;
    std::size_t runningBatches_ = 0;
    std::size_t waitingThreads_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace corvix
