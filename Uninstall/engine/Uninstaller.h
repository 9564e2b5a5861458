// The uninstall driver: one fixed sequence of removal steps on a worker thread, reporting its
// progress and its end to the progress window through IUninstallCallback.
#pragma once
#include "app/Handles.h"
#include "app/InstallFacts.h"
#include "app/Locks.h"
#include "app/Threads.h"
#include "engine/FileRemoval.h"
#include "engine/InstallFolderGuard.h"
#include "engine/PluginTask.h"
#include "engine/UninstallTask.h"

#include <windows.h>
#include <string>

class CSetupConfig;
class ISetupConfig;

// App Paths registration of the product's main executable and its lists.
constexpr wchar_t kUserSettingsKey[] = L"Software\\VoroWallPaper";
constexpr wchar_t kClassesKey[] = L"VoroWallpaper";
constexpr wchar_t kGameCenterKey[] = L"SOFTWARE\\TVNGameCenter";
constexpr wchar_t kProductCode[] = L"tesk";

namespace voro {
// "nProgress=%d\n": the debugger line of a progress request.
std::wstring ProgressDebugText(int percent);
// The value the receiver gets for a progress request: at most 99.
int DeliveredProgress(int percent);
// Progress during the install-folder deletion: trunc(done / total * 88 + 10) in single
// precision; 10 when nothing was counted.
int FileProgress(int done, int total);
// The key the project's App Paths element names, with repeated separators folded the way the
// registry reads them; empty unless it lies below App Paths (anything else is not the product's).
std::wstring ConfiguredAppPathsKey(const std::wstring& subKey);
// The "remove registry" step: with a configured App Paths sub-key, that key, the user's settings
// key and the product's class key; nothing without one.
void RemoveProductRegistry(ISetupConfig& config);
}  // namespace voro

class CUninstaller : public IThreadCallback {
public:
    explicit CUninstaller(CSetupConfig& config);
    // Waits (at most 10 s) for a run in progress to end.
    virtual ~CUninstaller();
    CUninstaller(const CUninstaller&) = delete;
    CUninstaller& operator=(const CUninstaller&) = delete;

    // Starts the sequence on the worker and returns at once; a second call does nothing.
    void Start(IUninstallCallback* callback);
    void SetInstallDir(const wchar_t* path);
    // Copies the folder only when it is set and shorter than the capacity.
    void GetInstallDir(wchar_t* buffer, int capacity);
    void SetRemoveAppData(bool remove) { m_bRemoveAppData = remove; }
    bool CheckGameCenterVendor();
    // Takes effect only after CheckGameCenterVendor returned true.
    void SetUninstallGameCenter(bool uninstall);
    void DetachCallback();

    // The thread entry (IThreadCallback).
    void Run(int parameter) override;

    bool GameCenterUninstall() const { return m_bUninstallGameCenter; }

private:
    void RunUninstall();
    void ReportProgress(int percent);
    void OnFileDeleted();
    // False (and a log line) when the install folder was refused: the step is skipped.
    bool FolderAllowed(const wchar_t* step) const;
    void RemoveLegacyUninstaller();
    void DeleteInstallFolderFiles();
    // A direct entry of the install folder is the product's: listed or signed.
    bool IsProductEntry(const wchar_t* name, const std::wstring& path, bool isFolder);
    void CountFiles(const std::wstring& folder);

    // Run on the UI thread through CUIThreadWindow.
    void DeliverStart();
    void DeliverProgress(int percent);
    void DeliverEnd();

    int m_nDoneCount = 0;
    std::wstring m_strInstallDir;
    voro::PendingList m_vecPending;
    IUninstallCallback* m_pCallback = nullptr;
    CXThread m_worker;
    bool m_bUninstallGameCenter = false;
    bool m_bGameCenterVendorMatch = false;
    bool m_bRemoveAppData = false;
    _BaseModule::CCriticalSection m_callbackLock;
    int m_nTotalCount = 0;
    std::wstring m_strProductVersion;
    std::wstring m_strProductPid;
    CPluginTask m_pluginTask;

    CSetupConfig& m_config;
    volatile LONG m_started = 0;
    voro::UniqueKernelHandle m_finished;  // manual-reset: set when the thread entry returns
    voro::FolderRefusal m_folderRefusal = voro::FolderRefusal::None;
};
