// Lock interface, a re-entrant critical section behind it and a scoped locker.
#pragma once
#include <windows.h>

namespace _BaseModule {

class ILocker {
public:
    virtual int Lock() = 0;
    virtual int Unlock() = 0;
};

class CCriticalSection : public ILocker {
public:
    CCriticalSection() { ::InitializeCriticalSection(&m_cs); }
    virtual ~CCriticalSection() { ::DeleteCriticalSection(&m_cs); }
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;
    int Lock() override { ::EnterCriticalSection(&m_cs); return 1; }
    int Unlock() override { ::LeaveCriticalSection(&m_cs); return 1; }

private:
    CRITICAL_SECTION m_cs;
};

class CAutoLocker {
public:
    explicit CAutoLocker(ILocker* locker) : m_pLocker(locker) {
        if (m_pLocker) m_pLocker->Lock();
    }
    virtual ~CAutoLocker() {
        if (m_pLocker) m_pLocker->Unlock();
        m_pLocker = nullptr;
    }
    CAutoLocker(const CAutoLocker&) = delete;
    CAutoLocker& operator=(const CAutoLocker&) = delete;

private:
    ILocker* m_pLocker;
};

}  // namespace _BaseModule
