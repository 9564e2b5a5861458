#include "config/UninstallFeedbackConfig.h"
#include "app/SmartLogger.h"
#include "config/RemoteConfigRequest.h"
#include "report/ServerHosts.h"

void UninstallFeedbackConfig::SetInstallDir(const std::wstring& folder) {
    _BaseModule::CAutoLocker lock(&m_lock);
    m_strInstallDir = folder;
}

void UninstallFeedbackConfig::StartFetch() {
    std::wstring installDir;
    {
        _BaseModule::CAutoLocker lock(&m_lock);
        m_kinds.insert(m_kinds.end(), {1, 2, 3, 4});
        installDir = m_strInstallDir;
    }
    HttpTaskHolder task = CreateServiceTask();
    if (!task) return;
    {
        _BaseModule::CAutoLocker lock(&m_lock);
        m_task = task;
    }
    task->SetCallback(this);
    const std::wstring url = BuildRemoteConfigUrl(GetServerHosts().webService, kUninstallOptionsPath,
                                                  CollectRemoteQueryValues(installDir));
    {
        _BaseModule::CAutoLocker lock(&m_lock);
        if (!m_doneEvent) m_doneEvent.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    }
    if (!task->Request(kHttpGet, url.c_str())) {
        // Nothing will answer: the fetch has ended, so the main window need not wait for it.
        _BaseModule::CAutoLocker lock(&m_lock);
        if (m_doneEvent) ::SetEvent(m_doneEvent.get());
    }
}

int UninstallFeedbackConfig::GetFeedback(std::vector<int>& kinds) {
    HANDLE done;
    {
        _BaseModule::CAutoLocker lock(&m_lock);
        done = m_doneEvent.get();
    }
    if (done) ::WaitForSingleObject(done, kFeedbackWaitMs);
    int received;
    {
        _BaseModule::CAutoLocker lock(&m_lock);
        kinds = m_kinds;
        received = m_nReceived;
    }
    WriteLog(L"UninstallFeedbackConfig::GetFeedback");
    return received;
}

void UninstallFeedbackConfig::Stop() {
    HttpTaskHolder task;
    {
        _BaseModule::CAutoLocker lock(&m_lock);
        task = std::move(m_task);
    }
    task.reset();  // outside the lock: Release waits for a callback in progress, which takes it
    _BaseModule::CAutoLocker lock(&m_lock);
    m_doneEvent.reset();
}

int32_t UninstallFeedbackConfig::OnTaskEvent(IHttpTask* task, const HttpTaskStatus* status) {
    if (!task || !status || (status->state != kHttpTaskSucceeded && status->state != kHttpTaskFailed)) return 0;
    {
        _BaseModule::CAutoLocker lock(&m_lock);
        if (task != m_task.get()) return 0;
    }
    std::vector<int> kinds;
    const bool parsed = status->state == kHttpTaskSucceeded && ParseUninstallOptions(status->body, kinds);
    HttpTaskHolder finished;
    {
        _BaseModule::CAutoLocker lock(&m_lock);
        if (parsed) {
            m_kinds = std::move(kinds);
            m_nReceived = 1;
        }
        if (m_doneEvent) ::SetEvent(m_doneEvent.get());
        finished = std::move(m_task);
    }
    return 0;  // `finished` releases the task here, outside the lock
}
