#include "config/SetupConfig.h"
#include "app/Handles.h"
#include "app/InstallFacts.h"
#include "config/ResourceUnpack.h"
#include "config/XMLArchive.h"
#include <cwchar>
#include <cwctype>

namespace {

constexpr size_t kMaxProjectPath = 512;
constexpr size_t kMinDeletablePath = 4;

constexpr int kDefaultMinimizeSpace = 100;
constexpr int kDefaultFileCount = 200;
constexpr int kDefaultCloseParam = 0x168;
constexpr int kDefaultCloseTimeoutMs = 2000;
constexpr int kDefaultSync = 1;

bool FileExists(const std::wstring& path) {
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The folder joined with a relative file name; empty when there is no name or the result would
// not fit a 260-character path.
std::wstring JoinPackagePath(const std::wstring& folder, const std::wstring& name) {
    if (name.empty()) return {};
    std::wstring path = folder + L"\\" + name;
    return path.size() < MAX_PATH ? path : std::wstring();
}

// Copies a value that fits the field with its terminator; the record is zero-filled beforehand.
template <size_t N>
void CopyField(wchar_t (&field)[N], const std::wstring& value) {
    size_t length = value.size() < N ? value.size() : N - 1;
    wmemcpy(field, value.c_str(), length);
    field[length] = L'\0';
}

bool CopyString(const std::wstring& value, wchar_t* buffer, int capacity) {
    if (!buffer) return false;
    if (capacity <= 0) return false;
    buffer[0] = L'\0';
    if (value.size() >= static_cast<size_t>(capacity)) return false;
    wmemcpy(buffer, value.c_str(), value.size() + 1);
    return true;
}

template <typename Record>
bool CopyRecord(const std::vector<Record>& list, int index, Record* record) {
    if (!record) return false;
    memset(record, 0, sizeof(Record));
    if (index < 0 || static_cast<size_t>(index) >= list.size()) return false;
    *record = list[static_cast<size_t>(index)];
    return true;
}

// Reads the text attributes in order; false as soon as one does not fit a record field.
bool ReadRecordTexts(const CXMLArchiveItem& item, std::initializer_list<std::pair<const wchar_t*, wchar_t*>> fields) {
    for (const auto& field : fields) {
        std::wstring value;
        item.GetAttributeString(field.first, value);
        if (value.size() >= kRecordTextCapacity) return false;
        wmemcpy(field.second, value.c_str(), value.size() + 1);
    }
    return true;
}

void DeleteFolderContents(const std::wstring& folder) {
    WIN32_FIND_DATAW data;
    voro::UniqueFind find(::FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (!find) return;
    do {
        if (wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0) continue;
        std::wstring path = folder + L"\\" + data.cFileName;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
            ::SetFileAttributesW(path.c_str(), data.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) DeleteFolderContents(path);
            ::RemoveDirectoryW(path.c_str());
        } else {
            ::DeleteFileW(path.c_str());
        }
    } while (::FindNextFileW(find.get(), &data));
}

}  // namespace

HKEY RootKeyFromName(const std::wstring& name) {
    struct Root {
        const wchar_t* name;
        HKEY key;
    };
    static const Root kRoots[] = {
        {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE}, {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {L"HKEY_USERS", HKEY_USERS},                 {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
        {L"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
    };
    std::wstring upper = UpperCaseName(name);
    for (const Root& root : kRoots)
        if (upper == root.name) return root.key;
    return HKEY_LOCAL_MACHINE;
}

UINT MessageFromName(const std::wstring& name) {
    if (name == L"WM_QUIT") return WM_QUIT;
    if (name == L"WM_COMMAND") return WM_COMMAND;
    return WM_CLOSE;
}

bool IsRundllItemForThisWindows(const std::wstring& system, bool is64BitWindows) {
    if (system == L"64") return is64BitWindows;
    if (system == L"32") return !is64BitWindows;
    return false;
}

void DeletePackageFolder(const std::wstring& folder) {
    if (folder.size() < kMinDeletablePath) return;
    DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return;
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) DeleteFolderContents(folder);
    ::RemoveDirectoryW(folder.c_str());
}

CSetupConfig::~CSetupConfig() {
    DeletePackageFolder(m_strPackageFolder);
}

int CSetupConfig::Init(HINSTANCE instance, int resourceId, const wchar_t* resourceType,
                       const wchar_t* projectFileName) {
    if (!resourceType || !projectFileName) return 0;
    CResourceUnpack resource;
    std::wstring folder;
    if (!resource.Init(instance, MAKEINTRESOURCEW(resourceId), resourceType) || !resource.Extract(folder)) return 0;
    resource.Reset();
    if (!m_strPackageFolder.empty() && m_strPackageFolder != folder) DeletePackageFolder(m_strPackageFolder);
    m_strPackageFolder = folder;
    return Load(folder + L"\\" + projectFileName) ? 1 : 0;
}

bool CSetupConfig::Load(const std::wstring& projectPath) {
    return Load(projectPath, Is64BitWindows());
}

bool CSetupConfig::Load(const std::wstring& projectPath, bool is64BitWindows) {
    if (projectPath.empty() || projectPath.size() >= kMaxProjectPath || !FileExists(projectPath)) return false;
    size_t slash = projectPath.find_last_of(L"\\/");
    std::wstring projectFolder = slash == std::wstring::npos ? std::wstring(L".") : projectPath.substr(0, slash);

    CXMLArchive document;
    if (FAILED(document.Load(projectPath))) return false;

    CXMLArchiveItem main = document.SelectFirst(L"Setup/Main");
    if (main.IsEmpty()) return false;
    main.GetAttributeString(L"Version", m_strVersion);
    main.GetAttributeInt(L"MinimizeSpace", m_nMinimizeSpace, kDefaultMinimizeSpace);
    std::wstring name;
    document.SelectFirst(L"Setup/UninstallRootDirFileList").GetAttributeString(L"File", name);
    m_strRootDirListFile = JoinPackagePath(projectFolder, name);
    CXMLArchiveItem fileList = document.SelectFirst(L"Setup/FileList");
    fileList.GetAttributeInt(L"FileCount", m_nFileCount, kDefaultFileCount);
    fileList.GetAttributeString(L"File", name);
    m_strFileListFile = JoinPackagePath(projectFolder, name);

    if (m_strRootDirListFile.empty() || !FileExists(m_strRootDirListFile)) return false;
    m_rootDirList.LoadFromFile(m_strRootDirListFile.c_str());

    CXMLArchiveItem appPath = document.SelectFirst(L"Setup/RegAppPath");
    if (!appPath.IsEmpty()) {
        std::wstring root;
        appPath.GetAttributeString(L"HKEY", root, L"HKEY_LOCAL_MACHINE");
        m_hRegAppPathRoot = RootKeyFromName(root);
        appPath.GetAttributeString(L"SubKey", m_strRegAppPathSubKey);
        appPath.GetAttributeString(L"Value", m_strRegAppPathValue);
    }

    document.SelectFirst(L"Setup/Application").GetAttributeString(L"MainApp", m_strMainApp);

    m_vecClosePrograms.clear();
    CXMLArchiveItemList programs = document.SelectNodes(L"Setup/CloseAllPrograms/Program");
    for (int i = 0; i < programs.GetCount(); ++i) {
        CXMLArchiveItem program = programs.GetItem(i);
        std::wstring windowClass;
        program.GetAttributeString(L"WindowClass", windowClass);
        if (windowClass.size() > kMaxCloseClassLength) continue;
        CloseProgramRecord record = {};
        CopyField(record.windowClass, windowClass);
        std::wstring message;
        program.GetAttributeString(L"Message", message, L"WM_CLOSE");
        record.message = MessageFromName(message);
        program.GetAttributeInt(L"WPARAM", record.wParam, kDefaultCloseParam);
        program.GetAttributeInt(L"LPARAM", record.lParam, kDefaultCloseParam);
        program.GetAttributeInt(L"Timeout", record.timeoutMs, kDefaultCloseTimeoutMs);
        m_vecClosePrograms.push_back(record);
    }

    m_vecRundllItems.clear();
    CXMLArchiveItemList items = document.SelectNodes(L"Setup/RundllUnRegisterOnUnInst/Item");
    for (int i = 0; i < items.GetCount(); ++i) {
        CXMLArchiveItem item = items.GetItem(i);
        std::wstring system;
        item.GetAttributeString(L"System", system);
        if (!IsRundllItemForThisWindows(system, is64BitWindows)) continue;
        RundllRecord record = {};
        if (!ReadRecordTexts(item, {{L"FileName", record.fileName}, {L"Entry", record.entry},
                                    {L"Cmdline", record.cmdline}}))
            continue;
        item.GetAttributeInt(L"WaitTime", record.waitTimeMs, 0);
        m_vecRundllItems.push_back(record);
    }

    m_vecUninstallCalls.clear();
    CXMLArchiveItemList calls = document.SelectNodes(L"Setup/CallProgramOnUninst/Program");
    for (int i = 0; i < calls.GetCount(); ++i) {
        CXMLArchiveItem call = calls.GetItem(i);
        ProgramCallRecord record = {};
        if (!ReadRecordTexts(call, {{L"FileName", record.fileName}, {L"Type", record.type},
                                    {L"FuncName", record.funcName}, {L"Para", record.para},
                                    {L"Cmdline", record.cmdline}, {L"SignType", record.signType}}))
            continue;
        call.GetAttributeInt(L"WaitTime", record.waitTimeMs, 0);
        call.GetAttributeInt(L"Sync", record.sync, kDefaultSync);
        m_vecUninstallCalls.push_back(record);
    }
    return true;
}

bool CSetupConfig::GetVersion(wchar_t* buffer, int capacity) {
    return CopyString(m_strVersion, buffer, capacity);
}

bool CSetupConfig::GetMainApp(wchar_t* buffer, int capacity) {
    return CopyString(m_strMainApp, buffer, capacity);
}

bool CSetupConfig::GetRegAppPathSubKey(wchar_t* buffer, int capacity) {
    return CopyString(m_strRegAppPathSubKey, buffer, capacity);
}

bool CSetupConfig::GetRegAppPathValue(wchar_t* buffer, int capacity) {
    return CopyString(m_strRegAppPathValue, buffer, capacity);
}

bool CSetupConfig::GetCloseProgram(int index, CloseProgramRecord* record) {
    return CopyRecord(m_vecClosePrograms, index, record);
}

bool CSetupConfig::GetCheckFile(int index, wchar_t* buffer, int capacity) {
    if (!buffer || capacity <= 0) return false;
    buffer[0] = L'\0';
    if (index < 0 || static_cast<size_t>(index) >= m_vecCheckFiles.size()) return false;
    return CopyString(m_vecCheckFiles[static_cast<size_t>(index)], buffer, capacity);
}

bool CSetupConfig::GetInstallCall(int index, ProgramCallRecord* record) {
    return CopyRecord(m_vecInstallCalls, index, record);
}

bool CSetupConfig::GetUninstallCall(int index, ProgramCallRecord* record) {
    return CopyRecord(m_vecUninstallCalls, index, record);
}

bool CSetupConfig::GetRundllItem(int index, RundllRecord* record) const {
    return CopyRecord(m_vecRundllItems, index, record);
}
