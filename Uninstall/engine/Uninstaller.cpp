#include "engine/Uninstaller.h"

#include "app/Handles.h"
#include "app/Paths.h"
#include "app/InstallFacts.h"
#include "app/Registry.h"
#include "app/SimpleBind.h"
#include "app/SmartLogger.h"
#include "app/UIThreadWindow.h"
#include "config/SetupConfig.h"
#include "engine/Autorun.h"
#include "engine/DriverServices.h"
#include "engine/ProcessShutdown.h"
#include "engine/ProgramCalls.h"
#include "engine/RunOnceBatch.h"
#include "engine/SignatureCheck.h"
#include "report/UninstallReport.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <cwchar>
#include <cwctype>

namespace reg = voro::reg;

namespace {

constexpr wchar_t kAppPathsPrefix[] = L"SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\APP PATHS\\";
constexpr wchar_t kFileListKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vorowp.exe\\file_list";
constexpr wchar_t kFilePeKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vorowp.exe\\file_pe";
constexpr int kSubKeyCapacity = 1024;
constexpr const wchar_t* kDesktopShortcuts[] = {L"Quon壁纸.lnk", L"Voro壁纸.lnk", L"Voro壁纸Lite.lnk"};
constexpr const wchar_t* kStartMenuFolders[] = {L"Voro壁纸", L"Quon安全中心\\Quon壁纸"};

bool Exists(const std::wstring& path) { return ::PathFileExistsW(path.c_str()) != FALSE; }

bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

}  // namespace

namespace voro {

std::wstring ProgressDebugText(int percent) {
    wchar_t text[32];
    swprintf(text, 32, L"nProgress=%d\n", percent);
    return text;
}

int DeliveredProgress(int percent) { return percent > 99 ? 99 : percent; }

int FileProgress(int done, int total) {
    if (total <= 0) return 10;
    // Each step rounded to single precision, also where the compiler keeps wider intermediates.
    volatile float ratio = static_cast<float>(done) / static_cast<float>(total);
    volatile float scaled = ratio * 88.0f;
    volatile float value = scaled + 10.0f;
    return static_cast<int>(value);
}

std::wstring ConfiguredAppPathsKey(const std::wstring& subKey) {
    // The registry takes a run of separators as one; leading and trailing ones name nothing.
    std::wstring folded;
    for (wchar_t c : subKey) {
        if (c == L'\\' && (folded.empty() || folded.back() == L'\\')) continue;
        folded += c;
    }
    while (!folded.empty() && folded.back() == L'\\') folded.pop_back();
    std::wstring upper = folded;
    if (!upper.empty()) ::CharUpperBuffW(&upper[0], static_cast<DWORD>(upper.size()));
    const size_t prefix = wcslen(kAppPathsPrefix);
    if (upper.size() <= prefix || upper.compare(0, prefix, kAppPathsPrefix) != 0) return std::wstring();
    return folded;
}

void RemoveProductRegistry(ISetupConfig& config) {
    HKEY root = config.GetRegAppPathRoot();
    wchar_t subKey[kSubKeyCapacity] = {};
    config.GetRegAppPathSubKey(subKey, kSubKeyCapacity);
    if (subKey[0] == L'\0') return;
    const std::wstring key = ConfiguredAppPathsKey(subKey);
    if (key.empty())
        WriteLog(L"refuse to delete registry key [%s]: not below App Paths", subKey);
    else
        reg::DeleteTree(root, key);
    reg::DeleteTree(HKEY_CURRENT_USER, kUserSettingsKey);
    reg::DeleteTree(HKEY_CLASSES_ROOT, kClassesKey);
}

}  // namespace voro

// ---- operations -------------------------------------------------------------------------------

CUninstaller::CUninstaller(CSetupConfig& config)
    : m_config(config), m_finished(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

CUninstaller::~CUninstaller() {
    if (InterlockedCompareExchange(&m_started, 0, 0) != 0 && m_finished)
        ::WaitForSingleObject(m_finished.get(), 10000);
}

void CUninstaller::Start(IUninstallCallback* callback) {
    if (InterlockedCompareExchange(&m_started, 1, 0) != 0) return;  // the sequence runs once
    {
        _BaseModule::CAutoLocker lock(&m_callbackLock);
        m_pCallback = callback;
    }
    if (!m_worker.Start(0, this) && m_finished) ::SetEvent(m_finished.get());  // nothing to wait for
    WriteLog(L"start uninstall thread...");
}

void CUninstaller::SetInstallDir(const wchar_t* path) { m_strInstallDir = path ? path : L""; }

void CUninstaller::GetInstallDir(wchar_t* buffer, int capacity) {
    if (m_strInstallDir.empty() || buffer == nullptr) return;
    if (static_cast<int>(m_strInstallDir.size()) >= capacity) return;
    wmemcpy(buffer, m_strInstallDir.c_str(), m_strInstallDir.size() + 1);
}

bool CUninstaller::CheckGameCenterVendor() {
    std::wstring vendor;
    reg::ReadString(HKEY_LOCAL_MACHINE, kGameCenterKey, L"VendorID", vendor);
    if (!vendor.empty()) ::CharLowerBuffW(&vendor[0], static_cast<DWORD>(vendor.size()));
    m_bGameCenterVendorMatch = vendor.find(kProductCode) != std::wstring::npos;
    return m_bGameCenterVendorMatch;
}

void CUninstaller::SetUninstallGameCenter(bool uninstall) {
    if (m_bGameCenterVendorMatch) m_bUninstallGameCenter = uninstall;
}

void CUninstaller::DetachCallback() {
    _BaseModule::CAutoLocker lock(&m_callbackLock);
    m_pCallback = nullptr;
}

// ---- notifications ----------------------------------------------------------------------------

void CUninstaller::DeliverStart() {
    _BaseModule::CAutoLocker lock(&m_callbackLock);
    if (m_pCallback) m_pCallback->OnUninstallStart();
}

void CUninstaller::DeliverProgress(int percent) {
    _BaseModule::CAutoLocker lock(&m_callbackLock);
    if (m_pCallback) m_pCallback->OnUninstallProgress(percent);
}

void CUninstaller::DeliverEnd() {
    _BaseModule::CAutoLocker lock(&m_callbackLock);
    if (m_pCallback) m_pCallback->OnUninstallEnd();
}

void CUninstaller::ReportProgress(int percent) {
    ::OutputDebugStringW(voro::ProgressDebugText(percent).c_str());
    mf_bind_t_1<CUninstaller> bind(&CUninstaller::DeliverProgress, this, voro::DeliveredProgress(percent));
    CUIThreadWindow::RunOnUIThread(&bind);
}

void CUninstaller::OnFileDeleted() {
    ++m_nDoneCount;
    if (m_nDoneCount > m_nTotalCount) m_nDoneCount = m_nTotalCount;
    ReportProgress(voro::FileProgress(m_nDoneCount, m_nTotalCount));
}

// ---- the sequence -----------------------------------------------------------------------------

void CUninstaller::Run(int) {
    struct Finished {
        HANDLE event;
        ~Finished() {
            if (event) ::SetEvent(event);
        }
    } finished{m_finished.get()};
    m_strProductVersion.clear();
    GetFileVersionText(voro::JoinPath(m_strInstallDir, L"vorowp.exe"), m_strProductVersion);
    m_strProductPid = GetInstallationPid();
    m_folderRefusal = voro::CheckInstallFolder(m_strInstallDir);
    if (m_folderRefusal != voro::FolderRefusal::None)
        WriteLog(L"refuse install folder [%s]: %s; its files and processes are left alone", m_strInstallDir.c_str(),
                 voro::FolderRefusalText(m_folderRefusal));
    RunUninstall();
}

bool CUninstaller::FolderAllowed(const wchar_t* step) const {
    if (m_folderRefusal == voro::FolderRefusal::None) return true;
    WriteLog(L"skip %s: install folder refused", step);
    return false;
}

void CUninstaller::RunUninstall() {
    const wchar_t* folder = m_strInstallDir.c_str();
    {
        mf_bind_t<CUninstaller> bind(&CUninstaller::DeliverStart, this);
        CUIThreadWindow::RunOnUIThread(&bind);
    }
    ReportProgress(1);
    WriteLog(L"start call program");
    if (FolderAllowed(L"program calls")) {
        m_config.RunCallProgramList(folder);
        m_config.RunRundllList(folder);
        RunGameCenterHelper(m_strInstallDir, m_bUninstallGameCenter);
        m_pluginTask.StartTask(m_strInstallDir);
        RunListPrograms(m_strInstallDir);
        CallFilePePrograms(m_strInstallDir);
    }

    ReportProgress(4);
    WriteLog(L"start close all processes");
    if (FolderAllowed(L"close all processes")) KillProcessesInInstallPath(m_config, m_strInstallDir);
    ReportProgress(5);
    if (FolderAllowed(L"helper library")) CallHelperLibraryUninst(m_strInstallDir);

    WriteLog(L"remove desktop shortcuts");
    for (int csidl : {CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY}) {
        const std::wstring desktop = voro::SpecialFolderPath(csidl);
        if (desktop.empty()) continue;
        for (const wchar_t* name : kDesktopShortcuts) DeleteOrSchedule(voro::JoinPath(desktop, name).c_str());
    }

    ReportProgress(6);
    WriteLog(L"remove start menu shortcuts");
    const std::wstring programs = voro::SpecialFolderPath(CSIDL_COMMON_PROGRAMS);
    if (!programs.empty())
        for (const wchar_t* name : kStartMenuFolders) DeleteFolderRecursive(voro::JoinPath(programs, name).c_str());

    const std::wstring appData = voro::SpecialFolderPath(CSIDL_APPDATA);
    if (!appData.empty()) {
        const std::wstring cache = voro::JoinPath(appData, L"vorowp\\cef_cache");
        if (Exists(cache)) DeleteFolderRecursive(cache.c_str());
    }
    WriteLog(L"remove cef cache");
    if (m_bRemoveAppData) {
        WriteLog(L"remove appdata");
        const std::wstring data = voro::JoinPath(appData, L"vorowp");
        if (!appData.empty() && Exists(data)) DeleteFolderRecursive(data.c_str());
    }

    ReportProgress(7);
    WriteLog(L"remove file by registry");
    if (FolderAllowed(L"files by registry")) {
        DeleteRegistryListedFiles(folder, kFileListKey, m_vecPending);
        DeleteRegistryListedFiles(folder, kFilePeKey, m_vecPending);
    }

    WriteLog(L"remove registry");
    voro::RemoveProductRegistry(m_config);

    ReportProgress(8);
    WriteLog(L"remove autorun");
    // The settings file is written only inside an accepted folder.
    RemoveAutoRun(m_folderRefusal == voro::FolderRefusal::None ? m_strInstallDir : std::wstring());
    ReportProgress(9);

    reg::DeleteTree(HKEY_LOCAL_MACHINE, kUninstallEntryKey);
    WriteLog(L"Delete uninstall registry");
    if (FolderAllowed(L"guard helper")) RunGuardHelper(m_strInstallDir);
    RemoveDriverServices();

    if (FolderAllowed(L"delete all files")) {
        WriteLog(L"start delete all files in %s", folder);
        DeleteInstallFolderFiles();
        WriteLog(L"end delete all files in %s", folder);
    }
    RemoveLegacyUninstaller();

    WriteLog(L"start uninstall RodurevareruZE.");
    ReportProgress(97);
    RemoveServiceQuietly(kLateDriverService);
    if (FolderAllowed(L"temporary files")) DeleteByExtension(folder, L".tmp");

    ReportProgress(98);
    WriteLog(L"start create runonce bat");
    if (FolderAllowed(L"runonce bat")) WriteRunOnceBatch(m_vecPending, folder);
    ReportProgress(100);
    {
        mf_bind_t<CUninstaller> bind(&CUninstaller::DeliverEnd, this);
        CUIThreadWindow::RunOnUIThread(&bind);
    }

    const int result = ReportUninstallInfo(L"set", m_strProductPid, m_strProductVersion);
    WriteLog(L"re unistinfo ret=%lu", static_cast<unsigned long>(result));

    _BaseModule::CAutoLocker lock(&m_callbackLock);
    if (m_pCallback) m_pCallback->OnRealInstallEnd();
}

void CUninstaller::RemoveLegacyUninstaller() {
    // The Program Files folder the 32-bit program is given, also in a 64-bit build.
#ifdef _WIN64
    const std::wstring programFiles = voro::SpecialFolderPath(CSIDL_PROGRAM_FILESX86);
#else
    const std::wstring programFiles = voro::SpecialFolderPath(CSIDL_PROGRAM_FILES);
#endif
    if (programFiles.empty()) return;
    const std::wstring maker = voro::JoinPath(programFiles, L"Quon");
    const std::wstring folder = voro::JoinPath(maker, L"Dererore");
    const std::wstring file = voro::JoinPath(folder, L"Uninstall.exe");
    if (Exists(file)) ::DeleteFileW(file.c_str());
    if (Exists(folder)) ::RemoveDirectoryW(folder.c_str());
    if (Exists(maker)) ::RemoveDirectoryW(maker.c_str());
}

// ---- the install folder -----------------------------------------------------------------------

bool CUninstaller::IsProductEntry(const wchar_t* name, const std::wstring& path, bool isFolder) {
    IUninstallRootDirList* list = m_config.GetRootDirList();
    if (list != nullptr && list->Contains(name)) return true;
    return !isFolder && VerifyFileSignature(path.c_str());
}

void CUninstaller::CountFiles(const std::wstring& folder) {
    const bool top = folder == m_strInstallDir;
    WIN32_FIND_DATAW data;
    voro::UniqueFind find(::FindFirstFileW(voro::JoinPath(folder, L"*").c_str(), &data));
    if (!find) return;
    do {
        if (wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0) continue;
        const std::wstring path = voro::JoinPath(folder, data.cFileName);
        const bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (top && !IsProductEntry(data.cFileName, path, isFolder)) {
            WriteLog(L"File NOT exists in xml: %s", UpperCaseName(data.cFileName).c_str());
            continue;
        }
        if (!isFolder)
            ++m_nTotalCount;
        else if (!IsLink(data.dwFileAttributes))  // a link is removed as a link: nothing inside counts
            CountFiles(path);
    } while (::FindNextFileW(find.get(), &data));
}

void CUninstaller::DeleteInstallFolderFiles() {
    if (m_strInstallDir.empty() || m_strInstallDir.size() >= MAX_PATH) return;
    CountFiles(m_strInstallDir);
    {
        WIN32_FIND_DATAW data;
        voro::UniqueFind find(::FindFirstFileW(voro::JoinPath(m_strInstallDir, L"*").c_str(), &data));
        if (find) {
            do {
                if (wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0) continue;
                const std::wstring path = voro::JoinPath(m_strInstallDir, data.cFileName);
                const std::wstring upper = UpperCaseName(data.cFileName);
                const bool isFolder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
                if (!IsProductEntry(data.cFileName, path, isFolder)) {
                    WriteLog(L"File NOT exists in xml: %s", upper.c_str());
                    continue;
                }
                if (isFolder) {
                    DeleteTree(path.c_str(), m_vecPending, [this](const std::wstring&) { OnFileDeleted(); });
                } else if (DeletePathOrQueue(path.c_str(), m_vecPending)) {
                    WriteLog(L"Delete File: %s", path.c_str());
                    OnFileDeleted();
                }
            } while (::FindNextFileW(find.get(), &data));
        }
    }
    const bool removed = ::RemoveDirectoryW(m_strInstallDir.c_str()) != FALSE;
    WriteLog(L"remove directory %s %s", m_strInstallDir.c_str(), removed ? L"suceess" : L"failed.");
}
