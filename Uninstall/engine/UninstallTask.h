// The engine's single entry point for the start-up code and the windows.
#pragma once
#include <windows.h>

class ISetupConfig;

// Notifications of the uninstall driver to its receiver (the progress window).
class IUninstallCallback {
public:
    virtual void OnUninstallStart() = 0;              // UI thread, first
    virtual void OnUninstallProgress(int percent) = 0;  // UI thread, 0..99
    virtual void OnUninstallEnd() = 0;                // UI thread, all steps done
    virtual void OnRealInstallEnd() = 0;              // worker thread, under the callback lock, last
};

// Slot order is fixed.
class IUninstallTask {
public:
    // 0 ready, 2 own signature refused, 3 7z.dll beside the executable does not load.
    virtual int PreInitCheck() = 0;
    virtual bool InitConfig(HINSTANCE instance, int resourceId, const wchar_t* resourceType,
                            const wchar_t* projectFileName) = 0;
    virtual void StartUninstall(IUninstallCallback* callback) = 0;
    // One log line holding exactly this text.
    virtual void WriteLog(const wchar_t* text) = 0;
    virtual bool IsGameCenterUnplayed() = 0;
    virtual void SetUninstallGameCenter(bool uninstall) = 0;
    virtual bool CheckGameCenterVendor() = 0;
    virtual void SetRemoveAppData(bool remove) = 0;
    virtual void SetInstallDir(const wchar_t* path) = 0;
    virtual void GetInstallDir(wchar_t* buffer, int capacity) = 0;
    virtual void DetachCallback() = 0;
    virtual bool QueryFlag() = 0;
    virtual void ReservedOp() = 0;
};

// The one task object of the process.
IUninstallTask* GetUninstallTask();
// Its setup configuration.
ISetupConfig* GetSetupConfig();
