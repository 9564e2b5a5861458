#include "config/UninstallConfig.h"
#include "config/RemoteConfigRequest.h"
#include "report/ServerHosts.h"

void CUninstallConfig::SetInstallDir(const std::wstring& folder) {
    _BaseModule::CAutoLocker lock(&m_lock);
    m_strInstallDir = folder;
}

void CUninstallConfig::GetConfig() {
    HttpTaskHolder task = CreateServiceTask();
    if (!task) return;
    std::wstring installDir;
    {
        _BaseModule::CAutoLocker lock(&m_lock);
        m_task = task;
        installDir = m_strInstallDir;
    }
    task->SetCallback(this);
    const std::wstring url = BuildRemoteConfigUrl(GetServerHosts().webService, kQuestionnaireConfigPath,
                                                  CollectRemoteQueryValues(installDir));
    task->Request(kHttpGet, url.c_str());
}

std::wstring CUninstallConfig::GetQuestionnaireUrl() {
    _BaseModule::CAutoLocker lock(&m_lock);
    return m_strQuestionnaireUrl;
}

void CUninstallConfig::Release() {
    HttpTaskHolder task;
    {
        _BaseModule::CAutoLocker lock(&m_lock);
        task = std::move(m_task);
    }
}

int32_t CUninstallConfig::OnTaskEvent(IHttpTask* task, const HttpTaskStatus* status) {
    if (!task || !status || (status->state != kHttpTaskSucceeded && status->state != kHttpTaskFailed)) return 0;
    {
        _BaseModule::CAutoLocker lock(&m_lock);
        if (task != m_task.get()) return 0;
    }
    std::wstring url;
    const bool parsed = status->state == kHttpTaskSucceeded && ParseQuestionnaireUrl(status->body, url);
    HttpTaskHolder finished;
    {
        _BaseModule::CAutoLocker lock(&m_lock);
        if (parsed) m_strQuestionnaireUrl = url;
        finished = std::move(m_task);
    }
    return 0;
}
