#include "app/Threads.h"
#include <objbase.h>
#include <process.h>

bool CSimpleThread::Start(Routine routine, void* argument) {
    m_routine = routine;
    m_argument = argument;
    uintptr_t h = _beginthreadex(nullptr, 0, routine, argument, 0, &m_threadId);
    if (!h) return false;
    m_hThread = reinterpret_cast<HANDLE>(h);
    ::CloseHandle(m_hThread);
    m_hThread = nullptr;
    return true;
}

bool CWorkerThread::Initialize() {
    if (m_thread) return true;
    m_control.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!m_control) return false;
    InterlockedExchange(&m_stop, 0);
    uintptr_t h = _beginthreadex(nullptr, 0, &CWorkerThread::ThreadMain, this, 0, nullptr);
    if (!h) {
        m_control.reset();
        return false;
    }
    m_thread.reset(reinterpret_cast<HANDLE>(h));
    return true;
}

bool CWorkerThread::AddHandle(HANDLE handle, IWorkerClient* client, DWORD_PTR parameter) {
    {
        _BaseModule::CAutoLocker lock(&m_lock);
        if (!m_thread || m_entries.size() >= kMaxHandles) return false;
        m_entries.push_back({handle, client, parameter});
    }
    ::SetEvent(m_control.get());
    return true;
}

void CWorkerThread::Shutdown(DWORD timeoutMs) {
    if (!m_thread) return;
    InterlockedExchange(&m_stop, 1);
    ::SetEvent(m_control.get());
    ::WaitForSingleObject(m_thread.get(), timeoutMs);
    m_thread.reset();
    m_control.reset();
    _BaseModule::CAutoLocker lock(&m_lock);
    for (const Entry& e : m_entries) e.client->CloseHandle(e.handle);
    m_entries.clear();
}

unsigned __stdcall CWorkerThread::ThreadMain(void* self) {
    static_cast<CWorkerThread*>(self)->Loop();
    return 0;
}

void CWorkerThread::Loop() {
    for (;;) {
        HANDLE handles[MAXIMUM_WAIT_OBJECTS];
        Entry entries[kMaxHandles];
        DWORD count = 0;
        handles[count++] = m_control.get();
        {
            _BaseModule::CAutoLocker lock(&m_lock);
            for (const Entry& e : m_entries) {
                entries[count - 1] = e;
                handles[count++] = e.handle;
            }
        }
        DWORD r = ::WaitForMultipleObjects(count, handles, FALSE, INFINITE);
        if (InterlockedCompareExchange(&m_stop, 0, 0)) return;
        if (r == WAIT_FAILED) return;
        if (r > WAIT_OBJECT_0 && r < WAIT_OBJECT_0 + count) {
            const Entry& e = entries[r - WAIT_OBJECT_0 - 1];
            e.client->Execute(e.parameter, e.handle);
        }
    }
}

CXThread::~CXThread() { m_worker.Shutdown(10000); }

int CXThread::Start(int parameter, IThreadCallback* callback) {
    // Claim the run before triggering it, so that a second Start between the trigger and the
    // worker picking it up is refused as well instead of queueing another run.
    if (InterlockedCompareExchange(&m_running, 1, 0) != 0) return 0;
    if (InterlockedCompareExchange(&m_initialised, 0, 0) == 0) {
        bool ready = m_worker.Initialize();
        if (ready) m_trigger.reset(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
        ready = ready && m_trigger && m_worker.AddHandle(m_trigger.get(), this, 0);
        if (!ready) {
            InterlockedExchange(&m_running, 0);
            return 0;
        }
        m_pCallback = callback;
        InterlockedExchange(&m_initialised, 1);
    }
    InterlockedExchange(&m_parameter, parameter);
    ::SetEvent(m_trigger.get());
    return 1;
}

bool CXThread::IsRunning() const {
    return InterlockedCompareExchange(const_cast<volatile LONG*>(&m_running), 0, 0) != 0;
}

HRESULT CXThread::Execute(DWORD_PTR, HANDLE) {
    HRESULT hr = ::CoInitialize(nullptr);
    InterlockedExchange(&m_running, 1);
    if (m_pCallback) {
        try {
            m_pCallback->Run(static_cast<int>(InterlockedCompareExchange(&m_parameter, 0, 0)));
        } catch (...) {  // a failing run must not end the worker
        }
    }
    InterlockedExchange(&m_running, 0);
    if (SUCCEEDED(hr)) ::CoUninitialize();
    return 0;
}

HRESULT CXThread::CloseHandle(HANDLE) { return 0; }
