#include "engine/UninstallTask.h"

#include "app/Registry.h"
#include "app/SmartLogger.h"
#include "app/UIThreadWindow.h"
#include "config/ArchiveLibrary.h"
#include "config/SetupConfig.h"
#include "engine/SignatureCheck.h"
#include "engine/Uninstaller.h"

#include <shlwapi.h>

namespace {

constexpr wchar_t kArchiveLibraryName[] = L"7z.dll";

// The task object: the interface, then the setup configuration, then the driver.
class CUninstallTask : public IUninstallTask {
public:
    CUninstallTask() : m_uninstaller(m_setupConfig) {}
    CUninstallTask(const CUninstallTask&) = delete;
    CUninstallTask& operator=(const CUninstallTask&) = delete;

    int PreInitCheck() override;
    bool InitConfig(HINSTANCE instance, int resourceId, const wchar_t* resourceType,
                    const wchar_t* projectFileName) override {
        return m_setupConfig.Init(instance, resourceId, resourceType, projectFileName) != 0;
    }
    void StartUninstall(IUninstallCallback* callback) override { m_uninstaller.Start(callback); }
    void WriteLog(const wchar_t* text) override { ::WriteLog(L"%s", text ? text : L""); }
    bool IsGameCenterUnplayed() override;
    void SetUninstallGameCenter(bool uninstall) override { m_uninstaller.SetUninstallGameCenter(uninstall); }
    bool CheckGameCenterVendor() override { return m_uninstaller.CheckGameCenterVendor(); }
    void SetRemoveAppData(bool remove) override { m_uninstaller.SetRemoveAppData(remove); }
    void SetInstallDir(const wchar_t* path) override { m_uninstaller.SetInstallDir(path); }
    void GetInstallDir(wchar_t* buffer, int capacity) override { m_uninstaller.GetInstallDir(buffer, capacity); }
    void DetachCallback() override { m_uninstaller.DetachCallback(); }
    bool QueryFlag() override { return true; }
    void ReservedOp() override {}

    ISetupConfig* SetupConfig() { return &m_setupConfig; }

private:
    CSetupConfig m_setupConfig;
    CUninstaller m_uninstaller;
};

int CUninstallTask::PreInitCheck() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || !VerifyFileSignature(path)) return 2;
    CUIThreadWindow::Create(::GetModuleHandleW(nullptr));
    if (!::PathRemoveFileSpecW(path) || !::PathAppendW(path, kArchiveLibraryName)) return 3;
    return LoadArchiveLibrary(path) ? 0 : 3;
}

bool CUninstallTask::IsGameCenterUnplayed() {
    std::wstring played;
    voro::reg::ReadString(HKEY_LOCAL_MACHINE, kGameCenterKey, L"Played", played);
    return played.empty();
}

CUninstallTask g_task;

}  // namespace

IUninstallTask* GetUninstallTask() { return &g_task; }

ISetupConfig* GetSetupConfig() { return g_task.SetupConfig(); }
