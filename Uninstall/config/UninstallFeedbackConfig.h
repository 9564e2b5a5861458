// The retention options the main window may offer, fetched from the web service at start-up and
// collected by the main window with a wait of at most two seconds.
#pragma once
#include "app/Handles.h"
#include "app/Singleton.h"
#include "report/HttpModule.h"
#include <string>
#include <vector>

class UninstallFeedbackConfig : public IHttpTaskCallback, public CSingletonT<UninstallFeedbackConfig> {
public:
    static constexpr DWORD kFeedbackWaitMs = 2000;

    UninstallFeedbackConfig() = default;
    ~UninstallFeedbackConfig() override { Stop(); }

    // Sets the kinds 1, 2, 3, 4, then starts the GET (nothing more without a network module).
    void StartFetch();
    // Waits for the answer (at most two seconds), copies the kinds and returns the received flag.
    int GetFeedback(std::vector<int>& kinds);
    // Releases a pending task (no event arrives afterwards) and closes the done event.
    void Stop();
    int32_t OnTaskEvent(IHttpTask* task, const HttpTaskStatus* status) override;

    // The install folder whose vorowp.exe gives appver; empty: the one the installer recorded.
    void SetInstallDir(const std::wstring& folder);

private:
    _BaseModule::CCriticalSection m_lock;  // the module thread writes what the UI thread reads
    HttpTaskHolder m_task;
    std::vector<int> m_kinds;
    int m_nReceived = 0;
    voro::UniqueKernelHandle m_doneEvent;
    std::wstring m_strInstallDir;
};
