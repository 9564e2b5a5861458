// The setup project (tesk.tvnprj) of the embedded setup package: version, main executable, App
// Paths key, windows to close, programs and DLL exports to call on uninstall, rundll
// unregistrations and the root folder list.
#pragma once
#include "config/UninstallRootDirList.h"
#include <windows.h>
#include <string>
#include <vector>

constexpr size_t kCloseClassCapacity = 200;
constexpr size_t kMaxCloseClassLength = 195;   // a longer window class drops the entry
constexpr size_t kRecordTextCapacity = MAX_PATH;  // text of 260 characters or more drops the entry

// Records are handed out by value; texts are zero-terminated and zero-padded.
struct CloseProgramRecord {
    wchar_t windowClass[kCloseClassCapacity];
    UINT message;
    int wParam;
    int lParam;
    int timeoutMs;
};

struct ProgramCallRecord {
    wchar_t fileName[kRecordTextCapacity];  // relative to the install folder
    wchar_t type[kRecordTextCapacity];      // "dll" or "exe"
    wchar_t funcName[kRecordTextCapacity];  // export to call for "dll"
    wchar_t para[kRecordTextCapacity];      // argument of the export
    wchar_t cmdline[kRecordTextCapacity];   // command line for "exe"
    wchar_t signType[kRecordTextCapacity];  // required signer; empty: the publisher allow-list
    int waitTimeMs;
    int sync;
};

struct RundllRecord {
    wchar_t fileName[kRecordTextCapacity];  // DLL relative to the install folder
    wchar_t entry[kRecordTextCapacity];
    wchar_t cmdline[kRecordTextCapacity];
    int waitTimeMs;
};

class ISetupConfig {
public:
    virtual int Init(HINSTANCE instance, int resourceId, const wchar_t* resourceType,
                     const wchar_t* projectFileName) = 0;
    virtual int GetMinimizeSpace() = 0;
    virtual IUninstallRootDirList* GetRootDirList() = 0;
    virtual bool GetVersion(wchar_t* buffer, int capacity) = 0;
    virtual bool GetMainApp(wchar_t* buffer, int capacity) = 0;
    virtual HKEY GetRegAppPathRoot() = 0;
    virtual bool GetRegAppPathSubKey(wchar_t* buffer, int capacity) = 0;
    virtual bool GetRegAppPathValue(wchar_t* buffer, int capacity) = 0;
    virtual int GetCloseProgramCount() = 0;
    virtual bool GetCloseProgram(int index, CloseProgramRecord* record) = 0;
    virtual bool GetCheckFile(int index, wchar_t* buffer, int capacity) = 0;
    virtual int GetCheckFileCount() = 0;
    virtual bool GetInstallCall(int index, ProgramCallRecord* record) = 0;
    virtual int GetInstallCallCount() = 0;
    virtual bool GetUninstallCall(int index, ProgramCallRecord* record) = 0;
    virtual int GetUninstallCallCount() = 0;
    virtual int GetFileCount() = 0;
    virtual ~ISetupConfig() = default;
    virtual void Release() = 0;
};

// Root key of a name of the project file (any case); any other name gives HKEY_LOCAL_MACHINE.
HKEY RootKeyFromName(const std::wstring& name);
// Window message of a name, matched exactly: WM_CLOSE, WM_QUIT, WM_COMMAND; else WM_CLOSE.
UINT MessageFromName(const std::wstring& name);
// Whether a rundll item with this "System" value is for this Windows.
bool IsRundllItemForThisWindows(const std::wstring& system, bool is64BitWindows);

class CSetupConfig : public ISetupConfig {
public:
    CSetupConfig() = default;
    // Deletes the unpacked package folder.
    ~CSetupConfig() override;
    CSetupConfig(const CSetupConfig&) = delete;
    CSetupConfig& operator=(const CSetupConfig&) = delete;

    // Unpacks the package resource into a temp folder and loads the project file from it.
    int Init(HINSTANCE instance, int resourceId, const wchar_t* resourceType,
             const wchar_t* projectFileName) override;
    int GetMinimizeSpace() override { return m_nMinimizeSpace; }
    IUninstallRootDirList* GetRootDirList() override { return &m_rootDirList; }
    bool GetVersion(wchar_t* buffer, int capacity) override;
    bool GetMainApp(wchar_t* buffer, int capacity) override;
    HKEY GetRegAppPathRoot() override { return m_hRegAppPathRoot; }
    bool GetRegAppPathSubKey(wchar_t* buffer, int capacity) override;
    bool GetRegAppPathValue(wchar_t* buffer, int capacity) override;
    int GetCloseProgramCount() override { return static_cast<int>(m_vecClosePrograms.size()); }
    bool GetCloseProgram(int index, CloseProgramRecord* record) override;
    bool GetCheckFile(int index, wchar_t* buffer, int capacity) override;
    int GetCheckFileCount() override { return static_cast<int>(m_vecCheckFiles.size()); }
    bool GetInstallCall(int index, ProgramCallRecord* record) override;
    int GetInstallCallCount() override { return static_cast<int>(m_vecInstallCalls.size()); }
    bool GetUninstallCall(int index, ProgramCallRecord* record) override;
    int GetUninstallCallCount() override { return static_cast<int>(m_vecUninstallCalls.size()); }
    int GetFileCount() override { return m_nFileCount; }
    void Release() override { delete this; }

    // Reads a project file; false when it does not load, has no Setup/Main or its root folder
    // list file is missing. The rundll items kept are those for the Windows bitness given.
    bool Load(const std::wstring& projectPath);
    bool Load(const std::wstring& projectPath, bool is64BitWindows);

    // The rundll unregistrations for this Windows, in project order.
    int GetRundllItemCount() const { return static_cast<int>(m_vecRundllItems.size()); }
    bool GetRundllItem(int index, RundllRecord* record) const;
    const std::wstring& GetPackageFolder() const { return m_strPackageFolder; }
    const std::wstring& GetRootDirListFile() const { return m_strRootDirListFile; }
    const std::wstring& GetFileListFile() const { return m_strFileListFile; }

    // Runs the uninstall calls and the rundll items against the install folder (engine code).
    bool RunCallProgramList(const wchar_t* installFolder);
    bool RunRundllList(const wchar_t* installFolder);

private:
    std::vector<CloseProgramRecord> m_vecClosePrograms;
    std::vector<std::wstring> m_vecCheckFiles;          // install-time list, never filled
    std::vector<ProgramCallRecord> m_vecInstallCalls;   // install-time list, never filled
    std::vector<ProgramCallRecord> m_vecUninstallCalls;
    std::vector<RundllRecord> m_vecRundllItems;
    int m_nMinimizeSpace = 100;
    HKEY m_hRegAppPathRoot = HKEY_LOCAL_MACHINE;
    std::wstring m_strRegAppPathSubKey;
    std::wstring m_strRegAppPathValue;
    std::wstring m_strVersion;
    std::wstring m_strMainApp;
    std::wstring m_strRootDirListFile;
    std::wstring m_strPackageFolder;
    std::wstring m_strFileListFile;
    int m_nFileCount = 200;
    CUninstallRootDirList m_rootDirList;
};

// Deletes a folder with everything in it (read-only files included); links inside it are
// removed, not followed. Paths shorter than 4 characters and missing folders are left alone.
void DeletePackageFolder(const std::wstring& folder);
