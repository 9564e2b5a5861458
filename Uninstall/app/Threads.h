// Thread wrappers: a detached fire-and-forget thread, a persistent worker that waits on a set of
// handles, and CXThread, which runs one callback on that worker each time it is triggered.
#pragma once
#include "app/Handles.h"
#include "app/Locks.h"
#include <windows.h>
#include <vector>

class CSimpleThread {
public:
    using Routine = unsigned(__stdcall*)(void*);
    CSimpleThread() = default;
    virtual ~CSimpleThread() = default;
    // Starts the routine on a new detached thread; true when it started.
    bool Start(Routine routine, void* argument);
    unsigned ThreadId() const { return m_threadId; }

private:
    HANDLE m_hThread = nullptr;  // closed at once: the thread runs detached
    unsigned m_threadId = static_cast<unsigned>(-1);
    Routine m_routine = nullptr;
    void* m_argument = nullptr;
};

// Client of CWorkerThread: called on the worker when one of its handles is signalled.
class IWorkerClient {
public:
    virtual HRESULT Execute(DWORD_PTR parameter, HANDLE signalled) = 0;
    virtual HRESULT CloseHandle(HANDLE handle) = 0;
};

// A thread that waits on up to 63 client handles plus its own control event and dispatches
// each signalled handle to its client, one at a time.
class CWorkerThread {
public:
    static constexpr DWORD kMaxHandles = MAXIMUM_WAIT_OBJECTS - 1;
    CWorkerThread() = default;
    ~CWorkerThread() { Shutdown(10000); }
    CWorkerThread(const CWorkerThread&) = delete;
    CWorkerThread& operator=(const CWorkerThread&) = delete;

    bool Initialize();
    bool AddHandle(HANDLE handle, IWorkerClient* client, DWORD_PTR parameter);
    // Stops the worker and waits for it up to the time-out; closes the worker's own handles.
    void Shutdown(DWORD timeoutMs);

private:
    struct Entry {
        HANDLE handle;
        IWorkerClient* client;
        DWORD_PTR parameter;
    };
    static unsigned __stdcall ThreadMain(void* self);
    void Loop();

    _BaseModule::CCriticalSection m_lock;
    std::vector<Entry> m_entries;
    voro::UniqueKernelHandle m_control;  // auto-reset: wakes the worker to re-read its state
    voro::UniqueKernelHandle m_thread;
    volatile LONG m_stop = 0;
};

class IThreadCallback {
public:
    virtual void Run(int parameter) = 0;
};

class CXThread : public IWorkerClient {
public:
    CXThread() = default;
    virtual ~CXThread();
    CXThread(const CXThread&) = delete;
    CXThread& operator=(const CXThread&) = delete;

    // 1 when a run was triggered; 0 while a run is in progress or when the worker cannot start.
    int Start(int parameter, IThreadCallback* callback);
    bool IsRunning() const;

    HRESULT Execute(DWORD_PTR parameter, HANDLE signalled) override;
    HRESULT CloseHandle(HANDLE handle) override;

private:
    volatile LONG m_initialised = 0;
    volatile LONG m_running = 0;
    volatile LONG m_parameter = 0;
    voro::UniqueKernelHandle m_trigger;
    CWorkerThread m_worker;
    IThreadCallback* m_pCallback = nullptr;
};
