#include "app/InstallFacts.h"
#include "app/Handles.h"
#include "app/Registry.h"
#include <vector>

namespace {

constexpr wchar_t kProductUserKey[] = L"Software\\VoroWallPaper";

bool DetectIs64BitWindows() {
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    if (!kernel) return false;
    using GetNativeSystemInfoFn = void(WINAPI*)(LPSYSTEM_INFO);
    auto getNative = reinterpret_cast<GetNativeSystemInfoFn>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "GetNativeSystemInfo")));
    if (!getNative) return false;
    SYSTEM_INFO info = {};
    getNative(&info);
    switch (info.wProcessorArchitecture) {
        case 6:   // IA64
        case 9:   // AMD64
        case 12:  // ARM64
            return true;
        default:
            break;
    }
    // An x86 process emulated on ARM64 sees an x86 native architecture; ask for the real machine.
    using IsWow64Process2Fn = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
    auto isWow64Process2 = reinterpret_cast<IsWow64Process2Fn>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "IsWow64Process2")));
    USHORT processMachine = 0, nativeMachine = 0;
    if (!isWow64Process2 || !isWow64Process2(::GetCurrentProcess(), &processMachine, &nativeMachine)) return false;
    return nativeMachine == 0xAA64;
}

bool IsWhiteSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f'; }

std::wstring FolderOf(const std::wstring& path) {
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

// Family rows; the other ids of the family belong to products outside this system.
constexpr FamilyProduct kFamily[] = {
    {3, L"Divizodaz.exe", L"tesk", L"Software\\QuonWallPaper", L"PID"},
    {4, L"vorowp.exe", L"voro", L"Software\\VoroWallPaper", L"PID"},
};

}  // namespace

std::wstring TrimWhiteSpace(const std::wstring& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && IsWhiteSpace(text[begin])) ++begin;
    while (end > begin && IsWhiteSpace(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

std::wstring GetInstallFolder() {
    std::wstring folder;
    if (!voro::reg::ReadString(HKEY_LOCAL_MACHINE, kProductAppPathsKey, L"path", folder)) folder.clear();
    return folder;
}

std::wstring GetInstallationPid() {
    std::wstring pid;
    if (!voro::reg::ReadString(HKEY_CURRENT_USER, kProductUserKey, L"pid", pid)) return std::wstring();
    return TrimWhiteSpace(pid);
}

bool IsWindows10OrLater(const WindowsVersion& version) {
    return version.major > 9 || (version.major == 6 && version.minor == 4);
}

bool FileVersionTextFromBlock(const void* block, bool preferStringTable, std::wstring& text) {
    text.clear();
    if (!block) return false;
    void* data = nullptr;
    UINT size = 0;
    if (preferStringTable) {
        struct Translation {
            WORD language;
            WORD codePage;
        };
        if (::VerQueryValueW(block, L"\\VarFileInfo\\Translation", &data, &size) && data) {
            const auto* translations = static_cast<const Translation*>(data);
            for (UINT i = 0; i < size / sizeof(Translation); ++i) {
                wchar_t query[64];
                wsprintfW(query, L"\\StringFileInfo\\%04x%04x\\FileVersion", translations[i].language,
                          translations[i].codePage);
                void* value = nullptr;
                UINT chars = 0;
                if (!::VerQueryValueW(block, query, &value, &chars) || !value) continue;
                std::wstring found;
                for (const wchar_t* c = static_cast<const wchar_t*>(value); *c; ++c) {
                    if (*c == L' ') continue;
                    found += *c == L',' ? L'.' : *c;
                }
                if (!found.empty()) {
                    text = found;
                    return true;
                }
                break;  // the first value found decides; an empty one falls back to the fixed version
            }
        }
    }
    if (!::VerQueryValueW(block, L"\\", &data, &size) || !data || size < sizeof(VS_FIXEDFILEINFO)) return false;
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(data);
    wchar_t buffer[64];
    wsprintfW(buffer, L"%d.%d.%d.%d", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
              HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
    text = buffer;
    return true;
}

bool GetFileVersionText(const std::wstring& path, std::wstring& text) {
    text.clear();
    DWORD handle = 0;
    DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0) return false;
    std::vector<BYTE> block(size);
    if (!::GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return false;
    WindowsVersion version;
    bool preferStringTable = GetWindowsVersion(version) && IsWindows10OrLater(version) && !Is64BitWindows();
    return FileVersionTextFromBlock(block.data(), preferStringTable, text);
}

bool GetWindowsVersion(WindowsVersion& version) {
    voro::UniqueModule ntdll(::LoadLibraryW(L"ntdll.dll"));
    if (!ntdll) return false;
    using RtlGetNtVersionNumbersFn = void(WINAPI*)(DWORD*, DWORD*, DWORD*);
    auto getNumbers = reinterpret_cast<RtlGetNtVersionNumbersFn>(
        reinterpret_cast<void*>(::GetProcAddress(ntdll.get(), "RtlGetNtVersionNumbers")));
    if (!getNumbers) return false;
    DWORD major = 0, minor = 0, build = 0;
    getNumbers(&major, &minor, &build);
    version.major = major;
    version.minor = minor;
    version.build = build & 0xFFFF;  // the high bits carry the free/checked build mark
    return true;
}

bool Is64BitWindows() {
    // Written without a lock: every thread computes the same answer.
    static volatile LONG cached = -1;
    LONG value = cached;
    if (value < 0) {
        value = DetectIs64BitWindows() ? 1 : 0;
        cached = value;
    }
    return value == 1;
}

const FamilyProduct* FindFamilyProduct(int id) {
    for (const FamilyProduct& product : kFamily)
        if (product.id == id) return &product;
    return nullptr;
}

int DetectFamilyProductIn(const std::wstring& folder) {
    if (folder.empty()) return 0;
    for (const FamilyProduct& product : kFamily) {
        std::wstring marker = folder + L"\\" + product.markerFile;
        if (::GetFileAttributesW(marker.c_str()) != INVALID_FILE_ATTRIBUTES) return product.id;
    }
    return 0;
}

std::wstring AncestorFolder(const std::wstring& filePath, int levels) {
    std::wstring folder = FolderOf(filePath);
    for (int i = 0; i < levels && !folder.empty(); ++i) folder = FolderOf(folder);
    return folder;
}

int DetectFamilyProduct(int levels) {
    wchar_t self[MAX_PATH + 1] = {};
    DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH) return 0;
    return DetectFamilyProductIn(AncestorFolder(std::wstring(self, length), levels));
}

std::wstring GetFamilyProductCode(int levels) {
    const FamilyProduct* product = FindFamilyProduct(DetectFamilyProduct(levels));
    return product ? product->productCode : L"";
}

std::wstring GetFamilyPid(int levels) {
    int id = DetectFamilyProduct(levels);
    std::wstring pid;
    if (id == 0) {
        // Nothing recognised: the lookup falls to the value "PID" of the machine root key itself,
        // which is normally absent.
        if (!voro::reg::ReadString(HKEY_LOCAL_MACHINE, L"", L"PID", pid)) pid.clear();
        return pid;
    }
    const FamilyProduct* product = FindFamilyProduct(id);
    if (!product || !voro::reg::ReadString(HKEY_CURRENT_USER, product->pidKey, product->pidValue, pid)) pid.clear();
    return pid;
}
