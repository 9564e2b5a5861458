// A blocking one-field form POST over the network module: the callback adapter carries the
// answer from the module's thread to the waiting thread.
#pragma once
#include "app/Handles.h"
#include "report/HttpModule.h"
#include <atomic>
#include <string>

class CHttpTaskAdapterPost : public IHttpTaskCallback {
public:
    CHttpTaskAdapterPost();
    // Unregisters from its task first, so that no late event reaches a destroyed adapter.
    virtual ~CHttpTaskAdapterPost();
    CHttpTaskAdapterPost(const CHttpTaskAdapterPost&) = delete;
    CHttpTaskAdapterPost& operator=(const CHttpTaskAdapterPost&) = delete;

    // Ignores running states and other tasks' events; otherwise records the outcome and the
    // body and sets the completion event.
    int32_t OnTaskEvent(IHttpTask* task, const HttpTaskStatus* status) override;

    void TakeTask(HttpTaskHolder task) { m_task = std::move(task); }
    IHttpTask* Task() const { return m_task.get(); }
    HANDLE CompletionEvent() const { return m_event.get(); }
    bool Succeeded() const { return m_nSuccess.load() != 0; }
    const std::string& Response() const { return m_strResponse; }

private:
    HttpTaskHolder m_task;
    std::atomic<int32_t> m_nSuccess{0};
    voro::UniqueKernelHandle m_event;
    std::string m_strResponse;
};

// POSTs one form field and waits at most timeoutMs (and, with `extra`, until that handle is
// signalled) for the answer. True only when a successful answer arrived in time; `out` then
// holds its body. A time-out of 0, no network module, a task that cannot be created or started,
// a failed request, the time-out and the extra handle all return false.
bool PostFormSync(const wchar_t* url, const wchar_t* name, const wchar_t* value, std::string& out,
                  DWORD timeoutMs, HANDLE extra = nullptr);
