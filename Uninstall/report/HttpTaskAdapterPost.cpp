#include "report/HttpTaskAdapterPost.h"
#include <memory>

CHttpTaskAdapterPost::CHttpTaskAdapterPost() : m_event(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

CHttpTaskAdapterPost::~CHttpTaskAdapterPost() {
    if (m_task) m_task->SetCallback(nullptr);
}

int32_t CHttpTaskAdapterPost::OnTaskEvent(IHttpTask* task, const HttpTaskStatus* status) {
    if (!status || (status->state != kHttpTaskSucceeded && status->state != kHttpTaskFailed)) return 0;
    if (!task || task != m_task.get()) return 0;
    m_nSuccess.store(status->state == kHttpTaskSucceeded ? 1 : 0);
    m_strResponse = (status->state == kHttpTaskSucceeded && status->body) ? status->body : "";
    if (m_event) ::SetEvent(m_event.get());
    return 0;
}

bool PostFormSync(const wchar_t* url, const wchar_t* name, const wchar_t* value, std::string& out,
                  DWORD timeoutMs, HANDLE extra) {
    auto adapter = std::make_shared<CHttpTaskAdapterPost>();
    if (timeoutMs == 0 || !url || !name) return false;
    if (!adapter->CompletionEvent()) return false;
    HttpTaskHolder holder = CreateServiceTask();
    if (!holder) return false;
    IHttpTask* task = holder.get();
    adapter->TakeTask(std::move(holder));
    task->SetCallback(adapter.get());
    task->AddFieldW(name, value ? value : L"");
    if (!task->Request(kHttpPostForm, url)) return false;

    DWORD wait;
    if (extra) {
        HANDLE handles[2] = {adapter->CompletionEvent(), extra};
        wait = ::WaitForMultipleObjects(2, handles, FALSE, timeoutMs);
    } else {
        wait = ::WaitForSingleObject(adapter->CompletionEvent(), timeoutMs);
    }
    if (wait != WAIT_OBJECT_0 || !adapter->Succeeded()) return false;
    out = adapter->Response();
    return true;
}
