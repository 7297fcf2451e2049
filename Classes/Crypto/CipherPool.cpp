#include "CipherPool.h"

#include <algorithm>
#include <pthread.h>
#include <system_error>

namespace corvix {

CipherPool::CipherPool(std::size_t threadLimit)
    : threadLimit_(threadLimit), engineLimit_(2 * std::max<std::size_t>(1, threadLimit)) {}

CipherPool::~CipherPool() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    workQueued_.notify_all();
    for (std::thread& thread : threads_) {
        thread.join();
    }
}

namespace {

CipherPool* processPool = nullptr;

CipherPool* newProcessPool() {
    return new CipherPool(std::max(1U, std::thread::hardware_concurrency()));
}

} // namespace

CipherPool& CipherPool::shared() {
    // Never destroyed: its threads only wait when the process ends. A child made by fork() has
    // none of the parent's threads, and a lock of the parent's pool may have been held at the
    // fork, so the child takes a pool of its own and leaves the copy alone.
    static const bool made = [] {
        processPool = newProcessPool();
        return ::pthread_atfork(nullptr, nullptr, [] { processPool = newProcessPool(); }) == 0;
    }();
    static_cast<void>(made);
    return *processPool;
}

void CipherPool::submit(CipherJob& job) {
    std::unique_lock lock(mutex_);
    queue_.push_back(&job);
    job.done = false;
    if (waitingThreads_ == 0 && threads_.size() < threadLimit_ && waitingBatch() > 0) {
        try {
            threads_.emplace_back([this] { work(); });
        } catch (const std::system_error&) {
            // Out of threads: the ones that run will get to the job.
        }
    }
    if (threads_.empty()) {
        queue_.pop_back();
        runBatch(lock, {&job});
        return;
    }
    lock.unlock();
    workQueued_.notify_one();
}

void CipherPool::waitFor(const CipherJob& job) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&job] { return job.done; });
}

void CipherPool::runHere(CipherJob& job) {
    std::unique_lock lock(mutex_);
    if (idleEngines_[job.backend].empty() && madeEngines_[job.backend] >= engineLimit_) {
        lock.unlock();
        submit(job);
        waitFor(job);
        return;
    }
    job.done = false;
    runBatch(lock, {&job});
}

// The jobs at the front of the queue that one thread may take now: those of the front job's
// backend, up to its lanes; none while another batch runs and less than a whole batch waits.
std::size_t CipherPool::waitingBatch() const {
    if (queue_.empty()) {
        return 0;
    }
    const CipherBackend* backend = queue_.front()->backend;
    std::size_t count = 0;
    while (count < queue_.size() && count < backend->lanes && queue_[count]->backend == backend) {
        ++count;
    }
    return runningBatches_ == 0 || count == backend->lanes ? count : 0;
}

std::unique_ptr<CipherEngine> CipherPool::takeEngine(std::unique_lock<std::mutex>& lock,
                                                     const CipherBackend& backend) {
    for (;;) {
        auto& idle = idleEngines_[&backend];
        if (!idle.empty()) {
            std::unique_ptr<CipherEngine> engine = std::move(idle.back());
            idle.pop_back();
            return engine;
        }
        if (madeEngines_[&backend] < engineLimit_) {
            ++madeEngines_[&backend];
            lock.unlock();
            std::unique_ptr<CipherEngine> engine;
            try {
                engine = backend.makeEngine();
            } catch (const std::bad_alloc&) {
                // The jobs fail below; the next batch tries again.
            }
            lock.lock();
            if (!engine) {
                --madeEngines_[&backend];
            }
            return engine;
        }
        changed_.wait(lock);
    }
}

void CipherPool::runBatch(std::unique_lock<std::mutex>& lock, std::vector<CipherJob*> batch) {
    const CipherBackend& backend = *batch.front()->backend;
    std::unique_ptr<CipherEngine> engine = takeEngine(lock, backend);
    lock.unlock();
    for (CipherJob* job : batch) {
        job->produced.reset();
    }
    if (engine) {
        engine->run(batch);
    }
    lock.lock();
    if (engine) {
        idleEngines_[&backend].push_back(std::move(engine));
    }
    for (CipherJob* job : batch) {
        job->done = true;
    }
    changed_.notify_all();
}

void CipherPool::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        ++waitingThreads_;
        workQueued_.wait(lock, [this] { return stopping_ || waitingBatch() > 0; });
        --waitingThreads_;
        const std::size_t count = waitingBatch();
        if (count == 0) {
            return;
        }
        std::vector<CipherJob*> batch(queue_.begin(), queue_.begin() + static_cast<long>(count));
        queue_.erase(queue_.begin(), queue_.begin() + static_cast<long>(count));
        ++runningBatches_;
        runBatch(lock, std::move(batch));
        --runningBatches_;
        if (waitingBatch() > 0) {
            workQueued_.notify_one();
        }
    }
}

} // namespace corvix
