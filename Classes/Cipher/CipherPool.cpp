#include "Cipher/CipherPool.h"

#include "Cipher/ProcessWide.h"

#include <algorithm>
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

CipherPool* newProcessPool() {
    return new CipherPool(std::max(1U, std::thread::hardware_concurrency()));
}

} // namespace

CipherPool& CipherPool::shared() {
    return processWide<CipherPool, &newProcessPool>();
}

void CipherPool::submit(CipherJob& job) {
    std::unique_lock lock(mutex_);
    queue_.push_back(&job);
    job.done = false;
    if (waitingThreads_ == 0 && threads_.size() < threadLimit_ && anotherThreadWouldJoin()) {
        try {
            threads_.emplace_back([this] { work(); });
        } catch (const std::system_error&) {
            // Out of threads: the ones that run will get to the job.
        }
    }
    if (!threads_.empty()) {
        lock.unlock();
        // The thread whose engine has room may not be the one a single notice would wake.
        workQueued_.notify_all();
        return;
    }
    // No thread (none allowed, or the system gave none): the job runs here.
    queue_.pop_back();
    lock.unlock();
    CipherJob* const alone = &job;
    runHere({&alone, 1});
}

void CipherPool::waitFor(const CipherJob& job) {
    std::unique_lock lock(mutex_);
    if (job.done) {
        return;
    }
    // A thread holding jobs back for fuller lanes goes on now that one is awaited.
    ++waiters_;
    workQueued_.notify_all();
    changed_.wait(lock, [&job] { return job.done; });
    --waiters_;
}

void CipherPool::runHere(std::span<CipherJob* const> jobs) {
    if (jobs.empty()) {
        return;
    }
    const CipherBackend& backend = *jobs.front()->backend;
    std::unique_lock lock(mutex_);
    if (idleEngines_[&backend].empty() && madeEngines_[&backend] >= engineLimit_ &&
        threadLimit_ > 0) {
        lock.unlock();
        for (CipherJob* job : jobs) {
            submit(*job);
        }
        for (CipherJob* job : jobs) {
            waitFor(*job);
        }
        return;
    }
    for (CipherJob* job : jobs) {
        job->done = false;
    }
    std::unique_ptr<CipherEngine> engine = takeEngine(lock, backend);
    lock.unlock();
    std::vector<CipherJob*> finished;
    finished.reserve(jobs.size()); // nothing to allocate, so nothing to throw, while they run
    for (CipherJob* job : jobs) {
        while (engine && engine->inProgress() >= backend.lanes) {
            engine->advance(finished);
        }
        if (engine) {
            engine->start(*job, finished);
        } else {
            job->produced.reset();
            finished.push_back(job);
        }
    }
    while (engine && engine->inProgress() > 0) {
        engine->advance(finished);
    }
    lock.lock();
    giveBack(backend, std::move(engine));
    markDone(finished);
}

bool CipherPool::anotherThreadWouldJoin() const {
    if (queue_.empty()) {
        return false;
    }
    const CipherBackend* backend = queue_.front()->backend;
    std::size_t waiting = 0;
    while (waiting < queue_.size() && queue_[waiting]->backend == backend) {
        ++waiting;
    }
    return activeThreads_ == 0 || waiting >= backend->lanes;
}

CipherJob* CipherPool::takeJob(const CipherBackend* backend, std::size_t inProgress) {
    const bool mayTake =
        backend == nullptr
            ? anotherThreadWouldJoin()
            : !queue_.empty() && queue_.front()->backend == backend && inProgress < backend->lanes;
    if (!mayTake) {
        return nullptr;
    }
    CipherJob* next = queue_.front();
    queue_.pop_front();
    return next;
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
                // Its jobs fail; the next job tries again.
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

void CipherPool::giveBack(const CipherBackend& backend, std::unique_ptr<CipherEngine> engine) {
    if (engine) {
        idleEngines_[&backend].push_back(std::move(engine));
        changed_.notify_all();
    }
}

void CipherPool::markDone(std::vector<CipherJob*>& finished) {
    for (CipherJob* job : finished) {
        job->done = true;
    }
    if (!finished.empty()) {
        finished.clear();
        changed_.notify_all();
    }
}

void CipherPool::work() {
    std::unique_lock lock(mutex_);
    const CipherBackend* backend = nullptr; // of the engine held, while one is held
    std::unique_ptr<CipherEngine> engine;
    std::vector<CipherJob*> finished;
    for (;;) {
        CipherJob* job = takeJob(backend, engine ? engine->inProgress() : 0);
        if (job != nullptr && backend == nullptr) {
            backend = job->backend;
            ++activeThreads_;
        }
        if (job != nullptr && !engine) {
            engine = takeEngine(lock, *backend);
        }
        if (job != nullptr && !engine) {
            job->produced.reset();
            finished.push_back(job);
        } else if (job != nullptr) {
            lock.unlock();
            engine->start(*job, finished);
            lock.lock();
        } else if (engine && engine->inProgress() > 0 &&
                   (2 * engine->inProgress() >= backend->lanes || waiters_ > 0 || stopping_)) {
            lock.unlock();
            engine->advance(finished);
            lock.lock();
        } else if (backend != nullptr && (!engine || engine->inProgress() == 0)) {
            giveBack(*backend, std::move(engine));
            backend = nullptr;
            --activeThreads_;
            continue;
        } else if (stopping_) {
            return;
        } else {
            // Nothing to take; or fewer than half the lanes in use and nobody waiting for a
            // result: more jobs are coming, and running lanes half empty costs as much as running
            // them full.
            ++waitingThreads_;
            workQueued_.wait(lock);
            --waitingThreads_;
            continue;
        }
        markDone(finished);
    }
}

} // namespace corvix
