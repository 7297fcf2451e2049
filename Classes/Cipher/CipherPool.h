#pragma once

#include "Cipher/CipherBackends.h"
#include "Cipher/CipherEngine.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

namespace corvix {

/// The threads that run cipher jobs for every run in the process, at most one per core: files
/// in flight share them instead of each starting threads of its own. A thread feeds queued jobs
/// to an engine of their backend while it has room (sixteen lanes for the multi-buffer cipher,
/// one for OpenSSL) and hands each job back as soon as it is finished. It runs the engine once
/// half its lanes are in use, or when a result is awaited: jobs that come meanwhile take the
/// lanes that free up, so the chunks finish one after another while the readers and writers
/// work, and the lanes never run mostly empty. Another thread joins in only when nobody is at
/// work or a whole engine's worth of jobs is waiting, so that one core fills the lanes before
/// another is taken from the readers and writers. Threads start when first needed.
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
    /// Runs jobs of one backend on the calling thread, side by side in one engine when one is
    /// free, so small inputs need no thread; otherwise through the threads. All are finished
    /// when it returns.
    void runHere(std::span<CipherJob* const> jobs);

private:
    /// Whether a thread not at work yet would take the next queued job: when no thread is at
    /// work, or when a whole engine's worth of jobs is waiting.
    [[nodiscard]] bool anotherThreadWouldJoin() const;
    /// The next queued job for a thread whose engine (of `backend`, or none) has `inProgress`
    /// jobs; nothing when it should not take one.
    [[nodiscard]] CipherJob* takeJob(const CipherBackend* backend, std::size_t inProgress);
    [[nodiscard]] std::unique_ptr<CipherEngine> takeEngine(std::unique_lock<std::mutex>& lock,
                                                           const CipherBackend& backend);
    void giveBack(const CipherBackend& backend, std::unique_ptr<CipherEngine> engine);
    void markDone(std::vector<CipherJob*>& finished);
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
    std::size_t activeThreads_ = 0;
    std::size_t waitingThreads_ = 0;
    std::size_t waiters_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

} // namespace corvix
