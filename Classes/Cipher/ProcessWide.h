#pragma once

#include <pthread.h>

namespace corvix {

/// The one instance of T for the whole process, made on first use by `make` and never
/// destroyed (its threads, if any, only stop with the process). A child made by fork() has none
/// of the parent's threads, and a lock of the parent's instance may have been held at the fork,
/// so the child takes an instance of its own and leaves the copy alone.
template <typename T, T* (*make)()> T& processWide() {
    static T* instance = nullptr;
    static const bool made = [] {
        instance = make();
        return ::pthread_atfork(nullptr, nullptr, [] { instance = make(); }) == 0;
    }();
    static_cast<void>(made);
    return *instance;
}

} // namespace corvix
