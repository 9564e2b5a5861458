// Contract between the uninstaller and its network module QuonNetUL.dll, included by both sides.
// The interfaces are plain abstract classes: their slot order is the binary contract, so new
// operations are only ever added at the end and no virtual destructor is declared (it would take
// a slot). Every operation uses the compiler's default member calling convention on both sides.
#pragma once
#include <windows.h>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class IHttpTask;

// States of a task as OnTaskEvent reports them.
enum HttpTaskState : int32_t {
    kHttpTaskStarted = 0,    // running: the request is being sent
    kHttpTaskReceiving = 1,  // running: the answer's headers arrived
    kHttpTaskSucceeded = 2,  // finished: a 2xx answer was read completely
    kHttpTaskFailed = 3,     // finished: no usable answer
};

// The record behind OnTaskEvent's status argument. Callers read only `state` (offset 4) and
// `body` (offset 16, a NUL-terminated narrow text valid during the call, null without one).
struct HttpTaskStatus {
    uint32_t size;        // sizeof(HttpTaskStatus)
    int32_t state;        // HttpTaskState
    uint32_t httpStatus;  // HTTP status code, 0 before the answer
    uint32_t bodyLength;  // bytes in body, without the terminating NUL
    const char* body;
    uint32_t error;       // Win32 / WinHTTP error of a failed task, otherwise 0
};
static_assert(offsetof(HttpTaskStatus, state) == 4, "state lies at offset 4");
#ifndef _WIN64
static_assert(offsetof(HttpTaskStatus, body) == 16, "body pointer lies at offset 16");
#endif

class IHttpTaskCallback {
public:
    // Slot 0. Called on a module thread: any number of times with a running state, then once
    // with a final one. The return value is ignored.
    virtual int32_t OnTaskEvent(IHttpTask* task, const HttpTaskStatus* status) = 0;

protected:
    ~IHttpTaskCallback() = default;
};

// Methods of Request.
constexpr int32_t kHttpGet = 0;
constexpr int32_t kHttpPostForm = 2;  // the added fields as multipart/form-data

class IHttpTask {
public:
    // 0: the callback (null: none). After the call returns, no event reaches the old callback.
    virtual int32_t SetCallback(IHttpTaskCallback* callback) = 0;
    // 1: starts the request on a module thread; nonzero when it was started. One request a task.
    virtual int32_t Request(int32_t method, const wchar_t* url) = 0;
    // 2: the last state reported, -1 before Request.
    virtual int32_t GetState() = 0;
    // 3: destroys the task. A running request is abandoned: after the call returns no event
    // reaches the callback; the module frees the request once its thread has ended.
    virtual int32_t Release() = 0;
    // 4: the HTTP status code of the answer, 0 before it arrived.
    virtual int32_t GetHttpStatus() = 0;
    // 5: an extra request header line ("Name: value"); nonzero when accepted.
    virtual int32_t AddHeader(const char* line) = 0;
    // 6: a form field, name and value sent as given (the value normally UTF-8).
    virtual int32_t AddField(const char* name, const char* value) = 0;
    // 7: a form field given as wide text; both go on the wire as UTF-8.
    virtual int32_t AddFieldW(const wchar_t* name, const wchar_t* value) = 0;
    // 8: bytes of the answer body received so far.
    virtual int32_t GetResponseLength() = 0;
    // 9: time-outs in milliseconds (0 keeps the module's default; each is capped by the module).
    virtual int32_t SetTimeouts(int32_t connectMs, int32_t sendMs, int32_t receiveMs) = 0;
    // 10: the error of a failed task, 0 otherwise.
    virtual int32_t GetError() = 0;
    // 11: reserved; returns 0.
    virtual int32_t Reserved11() = 0;
    // 12: a named option ("ungzip", "gzip", "max_body", "total_timeout"); nonzero when known.
    virtual int32_t SetOption(const char* name, int32_t value) = 0;
    // 13: the value of a named option, 0 for an unknown one.
    virtual int32_t GetOption(const char* name) = 0;
    // 14, 15: reserved; return 0.
    virtual int32_t Reserved14() = 0;
    virtual int32_t Reserved15() = 0;
    // 16: the task's serial number within the process.
    virtual int32_t GetValue() = 0;

protected:
    ~IHttpTask() = default;
};

class IHttpTaskFactory {
public:
    // 0: a new task, or null.
    virtual IHttpTask* CreateTask() = 0;

protected:
    ~IHttpTaskFactory() = default;
};

// Deleter of the shared holder in which a caller keeps its task.
struct HttpTaskDeletor {
    void operator()(IHttpTask* task) const {
        if (task) task->Release();
    }
};
using HttpTaskHolder = std::shared_ptr<IHttpTask>;
inline HttpTaskHolder HoldHttpTask(IHttpTask* task) { return HttpTaskHolder(task, HttpTaskDeletor()); }

// Exports of the module, resolved by name.
extern "C" {
typedef IHttpTaskFactory* (*HttpInitFn)();
typedef void (*HttpUninitFn)(IHttpTaskFactory* factory);
typedef int (*ZlibUncompressFn)(unsigned char* dest, unsigned long* destLen, const unsigned char* source,
                                unsigned long sourceLen);
typedef int (*ZlibCompressFn)(unsigned char* dest, unsigned long* destLen, const unsigned char* source,
                              unsigned long sourceLen);
typedef unsigned long (*ZlibCompressBoundFn)(unsigned long sourceLen);
}

constexpr wchar_t kHttpModuleFileName[] = L"QuonNetUL.dll";

// What the uninstaller holds of a loaded module. The process-wide record is filled once at
// start-up and never freed; the module is never unloaded.
struct HttpModule {
    HMODULE module = nullptr;
    HttpInitFn init = nullptr;
    HttpUninitFn uninit = nullptr;
    IHttpTaskFactory* factory = nullptr;
    ZlibUncompressFn uncompress = nullptr;
    ZlibCompressFn compress = nullptr;
    ZlibCompressBoundFn compressBound = nullptr;
};

// ---- uninstaller side (uninst_core) --------------------------------------------------------

// The process-wide record, created on first use.
HttpModule& GetHttpModule();
// The factory of the process-wide record; null when no module is loaded. Callers skip their
// request silently when it is null.
IHttpTaskFactory* GetHttpTaskFactory();
// A new task of the loaded module, held, with the options every request of the web service uses
// ("ungzip" and "gzip" off); empty when no module is loaded or it gives no task.
HttpTaskHolder CreateServiceTask();
// Loads `path` into `record` when the file exists and passes the publisher check, resolves the
// exports and calls HttpInit. True when HttpInit, HttpUninit and the factory are all non-null.
bool LoadHttpModuleInto(const wchar_t* path, HttpModule& record);
// Start-up: fills the process-wide record from QuonNetUL.dll in `folder` (once; later calls
// return the state of the first).
bool LoadHttpModule(const std::wstring& folder);
