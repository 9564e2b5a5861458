#include "app/StartUp.h"
#include "app/GuidName.h"
#include "app/Handles.h"
#include "app/InstallFacts.h"
#include "app/Registry.h"
#include "app/SmartLogger.h"
#include "engine/ProgramCalls.h"
#include "engine/SignatureCheck.h"
#include "report/ServerHosts.h"
#include "report/Statistic.h"
#include "report/StringCipher.h"
#include "report/TvnMID2.h"
#include "windows/MessageBox.h"
#include <shellapi.h>
#include <shlobj.h>
#include <psapi.h>
#include <cwchar>
#include <cwctype>
#include <vector>

namespace {

constexpr wchar_t kMainExecutable[] = L"vorowp.exe";
constexpr DWORD kTempPathChars = 1024;
constexpr DWORD kModulePathChars = 1024;

// One file of the temp copy.
struct CopyItem {
    const wchar_t* source;  // relative to the install folder
    const wchar_t* target;  // relative to the temp folder
    bool required;
};

// The GUID text without its braces: 8-4-4-4-12 hex digits.
bool IsGuidText(const std::wstring& text) {
    static const size_t kGroups[] = {8, 4, 4, 4, 12};
    size_t at = 0;
    for (size_t group = 0; group < 5; ++group) {
        if (group > 0) {
            if (at >= text.size() || text[at] != L'-') return false;
            ++at;
        }
        for (size_t i = 0; i < kGroups[group]; ++i, ++at)
            if (at >= text.size() || !std::iswxdigit(text[at])) return false;
    }
    return at == text.size();
}

std::wstring WithoutTrailingSlash(std::wstring path) {
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return path;
}

bool CopyOne(const std::wstring& from, const std::wstring& to) {
    return ::CopyFileW(from.c_str(), to.c_str(), FALSE) != FALSE;
}

// A fresh GUID from the system.
bool NewGuid(GUID& guid) { return SUCCEEDED(::CoCreateGuid(&guid)); }

// The App Paths record points at the own folder (the old value deleted first).
void RecordInstallFolder(const std::wstring& folder) {
    voro::reg::DeleteValue(HKEY_LOCAL_MACHINE, kProductAppPathsKey, L"path");
    voro::reg::WriteString(HKEY_LOCAL_MACHINE, kProductAppPathsKey, L"path", folder);
}

// The parent process id from ntdll's basic information of the own process; 0 on failure.
ULONG_PTR ParentProcessId() {
    struct BasicInformation {  // PROCESS_BASIC_INFORMATION
        void* exitStatus;
        void* pebBaseAddress;
        ULONG_PTR affinityMask;
        void* basePriority;
        ULONG_PTR uniqueProcessId;
        ULONG_PTR inheritedFromUniqueProcessId;
    };
    using QueryFn = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    if (!ntdll) return 0;
    auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtQueryInformationProcess")));
    if (!query) return 0;
    voro::UniqueKernelHandle self(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, ::GetCurrentProcessId()));
    if (!self) return 0;
    BasicInformation info = {};
    ULONG returned = 0;
    if (query(self.get(), 0 /* ProcessBasicInformation */, &info, sizeof(info), &returned) < 0) return 0;
    return info.inheritedFromUniqueProcessId;
}

}  // namespace

namespace voro::startup {

std::wstring MakeCallerToken(const std::wstring& machineId) {
    std::wstring token;
    if (machineId.empty() || !EncryptText(kSilentMarker, machineId, token)) return std::wstring();
    return token;
}

bool IsCallerTokenValid(const std::wstring& token, const std::wstring& machineId) {
    if (token.empty() || machineId.empty()) return false;
    return _wcsicmp(DecryptText(token, machineId).c_str(), kSilentMarker) == 0;
}

std::wstring BuildRelaunchParameters(const std::wstring& received, bool silent, const std::wstring& token) {
    std::wstring parameters = received + L"  " + kSwitchReadyUninstall;
    if (silent) parameters += std::wstring(L"  ") + kKeyCallerToken + L"=" + token;
    return parameters;
}

std::wstring TempCopyFolderName(const GUID& guid) { return voro::FormatGuidName(guid) + L".tmp"; }

bool IsTempCopyFolderName(const std::wstring& name) {
    if (name.size() != 42 || name.front() != L'{') return false;
    if (_wcsicmp(name.c_str() + 37, L"}.tmp") != 0) return false;
    return IsGuidText(name.substr(1, 36));
}

bool ChooseTempCopyFolder(const std::wstring& tempFolder, const GuidSource& newGuid, const FolderCheck& folderExists,
                          std::wstring& folder) {
    for (int attempt = 0; attempt < kTempCopyAttempts; ++attempt) {
        GUID guid = {};
        if (!newGuid(guid)) continue;
        const std::wstring candidate = JoinPath(tempFolder, TempCopyFolderName(guid));
        if (folderExists(candidate)) continue;
        folder = candidate;
        return true;
    }
    return false;
}

std::wstring ParentNameForReport(const std::wstring& parentPath) {
    const size_t slash = parentPath.find_last_of(L"\\/");
    const std::wstring name = slash == std::wstring::npos ? parentPath : parentPath.substr(slash + 1);
    const size_t dot = name.find_last_of(L'.');
    if (dot == std::wstring::npos) return std::wstring();
    return name.substr(0, dot);
}

std::wstring UninstallFromExtra(const std::wstring& parentName, const std::wstring& windowsVersion) {
    return L"&ex1=" + parentName + L"&ex2=" + windowsVersion;
}

bool IsTempCopyFolder(const std::wstring& folder, const std::wstring& tempDirectory) {
    const std::wstring path = WithoutTrailingSlash(folder);
    const std::wstring temp = WithoutTrailingSlash(tempDirectory);
    if (path.empty() || temp.empty()) return false;
    const size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return false;
    if (!IsTempCopyFolderName(path.substr(slash + 1))) return false;
    return _wcsicmp(path.substr(0, slash).c_str(), temp.c_str()) == 0;
}

std::wstring ExecutableFolder() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::wstring();
    const std::wstring full(path, length);
    const size_t slash = full.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : full.substr(0, slash);
}

std::wstring TempDirectory() {
    std::vector<wchar_t> buffer(kTempPathChars);
    const DWORD length = ::GetTempPathW(kTempPathChars, buffer.data());
    if (length == 0 || length >= kTempPathChars) return std::wstring();
    return std::wstring(buffer.data(), length);
}

bool FileExists(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FolderExists(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring LongPathOf(const std::wstring& path) {
    wchar_t buffer[MAX_PATH];
    const DWORD n = ::GetLongPathNameW(path.c_str(), buffer, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return path;
    return std::wstring(buffer, n);
}

std::wstring WindowsVersionText() {
    WindowsVersion version;
    if (!GetWindowsVersion(version)) return std::wstring();
    wchar_t text[32];
    swprintf(text, 32, L"%d.%d", static_cast<int>(version.major), static_cast<int>(version.minor));
    return text;
}

std::wstring FullInstallerUrl() { return HttpBase(GetServerHosts().download) + kFullInstallerPath; }

}  // namespace voro::startup

using namespace voro::startup;

std::wstring GetParentProcessPath() {
    const ULONG_PTR parentId = ParentProcessId();
    if (parentId == 0) return std::wstring();
    voro::UniqueKernelHandle parent(
        ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, static_cast<DWORD>(parentId)));
    if (!parent) return std::wstring();
    std::vector<wchar_t> buffer(kModulePathChars);
    const DWORD length = ::GetModuleFileNameExW(parent.get(), nullptr, buffer.data(), kModulePathChars);
    if (length == 0 || length >= kModulePathChars) return std::wstring();
    std::wstring path(buffer.data(), length);
    if (path.find(L'~') != std::wstring::npos) {
        std::vector<wchar_t> longPath(kModulePathChars);
        const DWORD n = ::GetLongPathNameW(path.c_str(), longPath.data(), kModulePathChars);
        if (n >= 1 && n <= kModulePathChars - 1) path.assign(longPath.data(), n);
    }
    // A path that does not fit the 260-character buffers is refused, not cut.
    if (path.size() >= MAX_PATH) return std::wstring();
    return path;
}

// ---- caller check ----------------------------------------------------------------------------

std::wstring CSystemCallerEnvironment::ProductPid() { return GetInstallationPid(); }

bool CSystemCallerEnvironment::LauncherLibraryPresent() {
    const std::wstring own = ExecutableFolder();
    if (!own.empty() && FileExists(JoinPath(own, kLauncherLibrary))) return true;
    const std::wstring install = GetInstallFolder();
    return !install.empty() && FileExists(JoinPath(install, kLauncherLibrary));
}

std::wstring CSystemCallerEnvironment::ParentProcessPath() { return GetParentProcessPath(); }

bool CSystemCallerEnvironment::IsSignedByPublisher(const std::wstring& path) {
    return VerifyFileSignature(path.c_str());
}

std::wstring CSystemCallerEnvironment::MachineId() { return GetMid(); }

bool CheckCaller(const CCommandParser& parser, ICallerEnvironment& environment) {
    if (!parser.IsSilent()) return true;
    if (_wcsicmp(TrimWhiteSpace(environment.ProductPid()).c_str(), kAuthorisedPid) != 0) return false;
    if (!parser.HasKey(kSwitchReadyUninstall)) {
        if (!environment.LauncherLibraryPresent()) return false;
        const std::wstring parent = environment.ParentProcessPath();
        if (parent.empty() || !environment.IsSignedByPublisher(parent)) {
            WriteLog(L"parent process = %s", parent.c_str());
            return false;
        }
        return true;
    }
    std::wstring token;
    if (!parser.GetValue(kKeyCallerToken, token) || token.empty()) return false;
    return IsCallerTokenValid(token, environment.MachineId());
}

// ---- launcher --------------------------------------------------------------------------------

bool RelaunchFromTemp(const std::wstring& commandLine, bool silent) {
    std::wstring install = GetInstallFolder();
    if (install.empty()) {
        // No record: a real uninstaller (its library beside it) records its own folder.
        const std::wstring own = ExecutableFolder();
        if (own.empty() || !FileExists(JoinPath(own, kLauncherLibrary))) return false;
        install = own;
        RecordInstallFolder(install);
    }
    if (!FileExists(JoinPath(install, kLauncherLibrary))) return false;

    std::wstring folder;
    if (!ChooseTempCopyFolder(TempDirectory(), NewGuid, FolderExists, folder)) return false;
    ::DeleteFileW(folder.c_str());
    ::SHCreateDirectory(nullptr, folder.c_str());
    if (!FolderExists(folder)) return false;

    const std::wstring uninstaller =
        FileExists(JoinPath(install, kUninstallerFile)) ? kUninstallerFile : kLegacyUninstallerFile;
    const CopyItem items[] = {
        {uninstaller.c_str(), kUninstallerFile, true},
        {kLauncherLibrary, kLauncherLibrary, true},
        {L"wallpaperhelper\\QuonNetUL.dll", L"QuonNetUL.dll", false},
        {L"Utils\\7z.dll", L"7z.dll", true},
    };
    for (const CopyItem& item : items)
        if (!CopyOne(JoinPath(install, item.source), JoinPath(folder, item.target)) && item.required) return false;

    const std::wstring parent = GetParentProcessPath();
    WriteLog(L"parent process path= %s", parent.c_str());
    const std::wstring extra = UninstallFromExtra(ParentNameForReport(parent), WindowsVersionText());
    CStatistic::Instance()->Dot(L"uninstall_from", extra.c_str(), 1);

    const std::wstring basic = JoinPath(install, L"Utils\\TVNBasic.dll");
    if (FileExists(basic)) {
        const std::wstring utils = JoinPath(folder, L"Utils");
        if (!FolderExists(utils)) ::SHCreateDirectory(nullptr, utils.c_str());
        CopyOne(basic, JoinPath(utils, L"TVNBasic.dll"));
    }

    const std::wstring token = silent ? MakeCallerToken(GetMid()) : std::wstring();
    const std::wstring parameters = BuildRelaunchParameters(commandLine, silent, token);
    const std::wstring copy = JoinPath(folder, kUninstallerFile);
    const bool started = RunProgram(copy.c_str(), parameters.c_str(), SW_SHOWNORMAL, true, false);
    WriteLog(L"start temp copy %s %s, ret = %d", copy.c_str(), parameters.c_str(), started ? 1 : 0);
    return started;
}

void OfferReinstall() {
    if (CMessageBox::ShowMessage(nullptr, kDamagedMessage, kMessageYesNo) != kAnswerYes) return;
    const std::wstring url = FullInstallerUrl();
    ::ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void SetStatisticIdentity() {
    CStatistic* statistic = CStatistic::Instance();
    statistic->SetType(L"tesk");
    const std::wstring install = GetInstallFolder();
    if (!install.empty() && FolderExists(install)) statistic->SetVersionFromFile(JoinPath(install, kMainExecutable).c_str());
}
