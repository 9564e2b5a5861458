// Process-wide singletons created on first use and never destroyed.
#pragma once
#include "app/Locks.h"
#include <atomic>

template <typename T>
class CSingletonT {
public:
    static T* Instance() {
        T* p = s_instance.load(std::memory_order_acquire);
        if (p) return p;
        _BaseModule::CAutoLocker lock(&CreationLock());
        p = s_instance.load(std::memory_order_relaxed);
        if (!p) {
            p = new T();
            s_instance.store(p, std::memory_order_release);
        }
        return p;
    }

protected:
    CSingletonT() = default;
    virtual ~CSingletonT() = default;

private:
    CSingletonT(const CSingletonT&) = delete;
    CSingletonT& operator=(const CSingletonT&) = delete;

    // The lock is a function-local static so that first use from another static's
    // constructor still finds it initialised.
    static _BaseModule::CCriticalSection& CreationLock() {
        static _BaseModule::CCriticalSection lock;
        return lock;
    }
    static inline std::atomic<T*> s_instance{nullptr};
};
