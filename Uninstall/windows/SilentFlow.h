// Stand-in for the main window until the uninstall windows exist.
//
// A silent run takes the path the main, questionnaire and progress windows take without showing
// anything: the questionnaire passes straight on (it asks nothing and sends nothing), the progress
// part starts the engine with its IUninstallCallback and reports "uninstall_2" at the end, and the
// main window's close waits for the engine's real end and ends the message loop. This class runs
// that path behind a hidden message-only window; it goes away when CMainWnd takes over.
#pragma once
#include "app/Handles.h"
#include "engine/UninstallTask.h"
#include <windows.h>
#include <string>

class CSilentFlow : public IUninstallCallback {
public:
    static constexpr DWORD kEndWaitMs = 1200000;  // the main window's close waits 20 minutes at most

    explicit CSilentFlow(IUninstallTask* task);
    ~CSilentFlow();
    CSilentFlow(const CSilentFlow&) = delete;
    CSilentFlow& operator=(const CSilentFlow&) = delete;

    // Runs the flow and its message loop until the quit message; returns the quit parameter, or
    // -1 when the hidden window could not be created.
    int Run();

    // IUninstallCallback, as the progress window handles it in a silent run.
    void OnUninstallStart() override;
    void OnUninstallProgress(int percent) override;
    void OnUninstallEnd() override;
    void OnRealInstallEnd() override;

private:
    static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    void OnStepDone(WPARAM sender, LPARAM proceed);
    void OnClose();

    IUninstallTask* m_task;
    HWND m_hwnd = nullptr;
    voro::UniqueKernelHandle m_endEvent;  // made by OnUninstallEnd, set by OnRealInstallEnd
    std::wstring m_strInstallDate;
    bool m_bClosed = false;
};
