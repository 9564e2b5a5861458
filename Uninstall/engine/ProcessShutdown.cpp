#include "engine/ProcessShutdown.h"

#include "app/Handles.h"
#include "app/Paths.h"
#include "app/SmartLogger.h"
#include "config/SetupConfig.h"

#include <psapi.h>
#include <shlwapi.h>

#include <cwchar>
#include <vector>

namespace {

constexpr wchar_t kQuitMessageName[] = L"Quonwallpaper_quit";
constexpr wchar_t kSlowControlClass[] = L"VoroWpCtrlCls";  // needs time to shut down after its message
constexpr wchar_t kIgnoredHelper[] = L"VezAre\\VezAre.exe";
constexpr size_t kMaxProcesses = 512;
constexpr int kImageCapacity = 1024;
constexpr int kMinImageCapacity = 100;
constexpr size_t kMinFolder = 4;
constexpr size_t kMaxFolder = MAX_PATH;
// A terminated process still holds its files until it has ended; wait for that, briefly.
constexpr DWORD kExitWaitMs = 3000;

std::wstring Upper(std::wstring text) {
    if (!text.empty()) ::CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

// The first 512 process ids, or false when the enumeration fails.
bool EnumerateProcesses(std::vector<DWORD>& ids) {
    ids.assign(kMaxProcesses, 0);
    DWORD bytes = 0;
    if (!::EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)), &bytes)) {
        WriteLog(L"EnumProcesses fail dwError = %lu", ::GetLastError());
        return false;
    }
    ids.resize(bytes / sizeof(DWORD));
    return true;
}

// The process that created this one, -1 when it cannot be told.
DWORD ParentProcessId() {
    struct BasicInformation {  // PROCESS_BASIC_INFORMATION
        LONG_PTR exitStatus;
        PVOID pebBaseAddress;
        ULONG_PTR affinityMask;
        LONG_PTR basePriority;
        ULONG_PTR uniqueProcessId;
        ULONG_PTR inheritedFromUniqueProcessId;
    };
    using QueryInformationProcess = LONG(WINAPI*)(HANDLE, int, PVOID, ULONG, PULONG);
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) return static_cast<DWORD>(-1);
    auto query = reinterpret_cast<QueryInformationProcess>(
        reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtQueryInformationProcess")));
    if (query == nullptr) return static_cast<DWORD>(-1);
    voro::UniqueKernelHandle self(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, ::GetCurrentProcessId()));
    if (!self) return static_cast<DWORD>(-1);
    BasicInformation info = {};
    if (query(self.get(), 0 /* ProcessBasicInformation */, &info, sizeof(info), nullptr) != 0)
        return static_cast<DWORD>(-1);
    return static_cast<DWORD>(info.inheritedFromUniqueProcessId);
}

void Terminate(DWORD pid) {
    voro::UniqueKernelHandle process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
    if (!process) process.reset(::OpenProcess(PROCESS_TERMINATE, FALSE, pid));
    if (!process) return;
    if (::TerminateProcess(process.get(), 0)) ::WaitForSingleObject(process.get(), kExitWaitMs);
}

// GetModuleFileNameExW cannot name a 64-bit process from a 32-bit one; the full image name can.
bool FullImageName(HANDLE process, wchar_t* out, DWORD capacity) {
    using QueryName = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, PDWORD);
    auto query = reinterpret_cast<QueryName>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "QueryFullProcessImageNameW")));
    DWORD size = capacity;
    return query != nullptr && query(process, 0, out, &size) && size > 0;
}

}  // namespace

namespace voro {

bool ImagePathInFolder(const std::wstring& imagePath, const std::wstring& folder) {
    const std::wstring upperFolder = Upper(folder);
    return Upper(imagePath).compare(0, upperFolder.size(), upperFolder) == 0;
}

}  // namespace voro

bool EnableDebugPrivilege() {
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw)) return false;
    voro::UniqueKernelHandle token(raw);
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!::LookupPrivilegeValueW(nullptr, L"SeDebugPrivilege", &privileges.Privileges[0].Luid)) return false;
    return ::AdjustTokenPrivileges(token.get(), FALSE, &privileges, sizeof(privileges), nullptr, nullptr) != FALSE;
}

int GetProcessImagePath(DWORD pid, wchar_t* out, int capacity) {
    if (out == nullptr || capacity < kMinImageCapacity) return 0;
    voro::UniqueKernelHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
    if (!process) {
        WriteLog(L"[kill] OpenProcess Failed: pid = %d, error = %d", static_cast<int>(pid),
                 static_cast<int>(::GetLastError()));
        return 0;
    }
    wchar_t path[kImageCapacity] = {};
    if (::GetModuleFileNameExW(process.get(), nullptr, path, kImageCapacity) == 0) {
        const DWORD error = ::GetLastError();
        if (!FullImageName(process.get(), path, kImageCapacity)) {
            WriteLog(L"[kill] GetModuleFileNameEx Failed: pid = %d, error = %d", static_cast<int>(pid),
                     static_cast<int>(error));
            return 0;
        }
    }
    if (wcschr(path, L'~') != nullptr) {
        wchar_t longPath[kImageCapacity] = {};
        const DWORD length = ::GetLongPathNameW(path, longPath, kImageCapacity);
        if (length >= 1 && length <= kImageCapacity - 1) lstrcpynW(path, longPath, kImageCapacity);
    }
    lstrcpynW(out, path, capacity);
    return static_cast<int>(wcslen(out));
}

int KillMultiProcesses(const wchar_t* folder, int* killedCount) {
    WriteLog(L"enter KillMultiProcesses");
    if (folder == nullptr) return 0;
    const size_t folderLength = wcslen(folder);
    if (folderLength < kMinFolder || folderLength > kMaxFolder) return 0;
    if (killedCount != nullptr) *killedCount = 0;

    EnableDebugPrivilege();
    std::vector<DWORD> ids;
    if (!EnumerateProcesses(ids)) return 0;

    const std::wstring ignored = voro::JoinPath(folder, kIgnoredHelper);
    const DWORD self = ::GetCurrentProcessId();
    const DWORD parent = ParentProcessId();
    int killed = 0;
    for (DWORD pid : ids) {
        if (pid == self || pid == parent) continue;
        wchar_t image[kImageCapacity];
        if (GetProcessImagePath(pid, image, kImageCapacity) == 0) continue;
        if (!voro::ImagePathInFolder(image, folder)) continue;
        if (_wcsicmp(image, ignored.c_str()) == 0) {
            WriteLog(L"Ignore process : %s", image);
            continue;
        }
        Terminate(pid);
        WriteLog(L"Kill process: %s", image);
        ++killed;
    }
    if (killedCount != nullptr) *killedCount = killed;
    WriteLog(L"end KillMultiProcesses");
    return 0;
}

int KillProcessByPath(const wchar_t* exePath) {
    if (exePath == nullptr || wcslen(exePath) > kMaxFolder) return 0;
    EnableDebugPrivilege();
    std::vector<DWORD> ids;
    if (!EnumerateProcesses(ids)) return 0;
    const std::wstring wanted = Upper(exePath);
    for (DWORD pid : ids) {
        wchar_t image[kImageCapacity];
        if (GetProcessImagePath(pid, image, kImageCapacity) == 0) continue;
        if (Upper(image) != wanted) continue;
        Terminate(pid);
        WriteLog(L"Kill process: %s", image);
    }
    return 0;
}

void KillProcessesInInstallPath(ISetupConfig& config, const std::wstring& installFolder) {
    const UINT quit = ::RegisterWindowMessageW(kQuitMessageName);
    if (quit != 0) ::SendNotifyMessageW(HWND_BROADCAST, quit, 0, 0);

    for (int i = 0; i < config.GetCloseProgramCount(); ++i) {
        CloseProgramRecord record = {};
        if (!config.GetCloseProgram(i, &record)) continue;
        HWND window = ::FindWindowW(record.windowClass, nullptr);
        if (window == nullptr) continue;
        DWORD_PTR result = 0;
        ::SendMessageTimeoutW(window, record.message, static_cast<WPARAM>(record.wParam),
                              static_cast<LPARAM>(record.lParam), SMTO_NORMAL,
                              static_cast<UINT>(record.timeoutMs), &result);
        if (_wcsicmp(record.windowClass, kSlowControlClass) == 0) ::Sleep(2000);
        WriteLog(L"Send msg to %s wnd", record.windowClass);
    }

    WriteLog(L"enter KillProcessesInInstallPath szTargetDir=%s", installFolder.c_str());
    if (installFolder.size() <= kMinFolder) return;
    KillMultiProcesses(installFolder.c_str(), nullptr);
    KillProcessByPath((installFolder + L"\\voropendant.exe").c_str());
    KillProcessByPath((installFolder + L"\\vorowp.exe").c_str());
    WriteLog(L"end KillProcessesInInstallPath");
}
