// The questionnaire settings: whether the progress window invites to a web questionnaire after
// the uninstall, and its address.
#pragma once
#include "app/Singleton.h"
#include "report/HttpModule.h"
#include <string>

class CUninstallConfig : public IHttpTaskCallback, public CSingletonT<CUninstallConfig> {
public:
    CUninstallConfig() = default;
    ~CUninstallConfig() override { Release(); }

    // Starts the GET (nothing without a network module).
    void GetConfig();
    // A copy of the questionnaire address; empty when none was received.
    std::wstring GetQuestionnaireUrl();
    // Releases a pending task; no event arrives afterwards.
    void Release();
    int32_t OnTaskEvent(IHttpTask* task, const HttpTaskStatus* status) override;

    void SetInstallDir(const std::wstring& folder);

private:
    _BaseModule::CCriticalSection m_lock;
    HttpTaskHolder m_task;
    std::wstring m_strQuestionnaireUrl;
    std::wstring m_strInstallDir;
};
