#include "engine/InstallFolderGuard.h"

#include "app/Handles.h"
#include "app/Registry.h"

#include <windows.h>
#include <shlobj.h>

#include <cwctype>

namespace voro {

namespace {

constexpr wchar_t kCurrentVersion[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
constexpr wchar_t kProfileList[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

bool StartsWith(const std::wstring& text, const wchar_t* prefix) { return text.rfind(prefix, 0) == 0; }

std::wstring Upper(std::wstring text) {
    if (!text.empty()) ::CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

// An absolute path as its root ("C:" or "\\SERVER\SHARE") and its folded names.
struct FoldedPath {
    std::wstring root;
    std::vector<std::wstring> names;
    bool valid = false;
};

std::vector<std::wstring> SplitNames(const std::wstring& text) {
    std::vector<std::wstring> names;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L'\\', start);
        if (end == std::wstring::npos) end = text.size();
        if (end > start) names.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

FoldedPath Fold(const std::wstring& input) {
    FoldedPath folded;
    std::wstring path = input;
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    if (StartsWith(path, L"\\\\?\\UNC\\"))
        path = L"\\\\" + path.substr(8);
    else if (StartsWith(path, L"\\\\?\\") || StartsWith(path, L"\\??\\") || StartsWith(path, L"\\\\.\\"))
        path = path.substr(4);

    std::vector<std::wstring> raw;
    if (path.size() >= 2 && path[0] == L'\\' && path[1] == L'\\') {
        raw = SplitNames(path.substr(2));
        if (raw.empty()) return folded;
        folded.root = L"\\\\" + raw[0];
        raw.erase(raw.begin());
        if (!raw.empty()) {
            folded.root += L"\\" + raw[0];
            raw.erase(raw.begin());
        }
    } else if (path.size() >= 3 && iswalpha(path[0]) && path[1] == L':' && path[2] == L'\\') {
        folded.root = path.substr(0, 2);
        raw = SplitNames(path.substr(3));
    } else {
        return folded;  // relative, rooted without drive, or drive-relative
    }

    for (std::wstring name : raw) {
        if (name == L"..") {
            if (!folded.names.empty()) folded.names.pop_back();
            continue;
        }
        while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.pop_back();
        if (name.empty()) continue;  // ".", or a name the file system reduces to nothing
        folded.names.push_back(name);
    }
    folded.root = Upper(folded.root);
    for (std::wstring& name : folded.names) name = Upper(name);
    folded.valid = true;
    return folded;
}

std::wstring Join(const FoldedPath& path) {
    std::wstring text = path.root;
    for (const std::wstring& name : path.names) text += L"\\" + name;
    return text;
}

// True when folder is the other folder or one of its ancestors (both folded, non-empty).
bool IsSameOrAbove(const std::wstring& folder, const std::wstring& other) {
    if (folder.empty() || other.empty()) return false;
    if (folder == other) return true;
    return other.size() > folder.size() && other.compare(0, folder.size(), folder) == 0 &&
           other[folder.size()] == L'\\';
}

std::wstring ParentOf(const std::wstring& folded) {
    const size_t slash = folded.find_last_of(L'\\');
    return slash == std::wstring::npos || slash < 2 ? std::wstring() : folded.substr(0, slash);
}

std::wstring Expand(const std::wstring& text) {
    if (text.find(L'%') == std::wstring::npos) return text;
    wchar_t out[MAX_PATH] = {};
    const DWORD n = ::ExpandEnvironmentStringsW(text.c_str(), out, MAX_PATH);
    return n == 0 || n > MAX_PATH ? std::wstring() : std::wstring(out);
}

std::wstring SpecialFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return std::wstring();
    return path;
}

void AddIfSet(std::vector<std::wstring>& list, const std::wstring& path) {
    if (!path.empty()) list.push_back(path);
}

// The final path of an existing folder, links resolved; empty when it cannot be told.
std::wstring ResolvedPath(const std::wstring& folder) {
    using GetFinalPath = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
    auto get = reinterpret_cast<GetFinalPath>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW")));
    if (get == nullptr) return std::wstring();
    UniqueFile handle(::CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle) return std::wstring();
    wchar_t path[MAX_PATH + 8] = {};
    const DWORD n = get(handle.get(), path, MAX_PATH + 8, 0 /* FILE_NAME_NORMALIZED | VOLUME_NAME_DOS */);
    return n == 0 || n >= MAX_PATH + 8 ? std::wstring() : std::wstring(path);
}

}  // namespace

std::wstring FoldFolderPath(const std::wstring& path) {
    const FoldedPath folded = Fold(path);
    return folded.valid ? Join(folded) : std::wstring();
}

FolderRefusal CheckInstallFolder(const std::wstring& folder, const SystemFolders& system) {
    const FoldedPath folded = Fold(folder);
    if (!folded.valid) return FolderRefusal::NotAbsolute;
    if (folded.names.empty()) return FolderRefusal::DriveRoot;
    const std::wstring path = Join(folded);

    if (IsSameOrAbove(path, FoldFolderPath(system.windows))) return FolderRefusal::WindowsFolder;
    for (const std::wstring& programFiles : system.programFiles)
        if (IsSameOrAbove(path, FoldFolderPath(programFiles))) return FolderRefusal::ProgramFiles;
    const std::wstring profiles = FoldFolderPath(system.profilesDirectory);
    if (IsSameOrAbove(path, profiles) || (!profiles.empty() && ParentOf(path) == profiles))
        return FolderRefusal::UserProfile;
    for (const std::wstring& profile : system.profiles)
        if (IsSameOrAbove(path, FoldFolderPath(profile))) return FolderRefusal::UserProfile;
    return FolderRefusal::None;
}

const wchar_t* FolderRefusalText(FolderRefusal refusal) {
    switch (refusal) {
        case FolderRefusal::None: return L"";
        case FolderRefusal::NotAbsolute: return L"not an absolute path";
        case FolderRefusal::DriveRoot: return L"drive root";
        case FolderRefusal::WindowsFolder: return L"Windows folder or above";
        case FolderRefusal::ProgramFiles: return L"Program Files folder";
        case FolderRefusal::UserProfile: return L"user profile root";
    }
    return L"";
}

SystemFolders QuerySystemFolders() {
    SystemFolders system;
    wchar_t windows[MAX_PATH] = {};
    const UINT length = ::GetWindowsDirectoryW(windows, MAX_PATH);
    if (length > 0 && length < MAX_PATH) system.windows = windows;

    // Both Program Files folders, also the 64-bit one that a 32-bit process is not told about.
    AddIfSet(system.programFiles, SpecialFolder(CSIDL_PROGRAM_FILES));
    AddIfSet(system.programFiles, SpecialFolder(CSIDL_PROGRAM_FILESX86));
    for (reg::View view : {reg::View::Wow32, reg::View::Wow64}) {
        for (const wchar_t* name : {L"ProgramFilesDir", L"ProgramFilesDir (x86)", L"ProgramW6432Dir"}) {
            std::wstring value;
            if (reg::ReadString(HKEY_LOCAL_MACHINE, kCurrentVersion, name, value, view))
                AddIfSet(system.programFiles, Expand(value));
        }
    }

    const std::wstring ownProfile = SpecialFolder(CSIDL_PROFILE);
    AddIfSet(system.profiles, ownProfile);
    AddIfSet(system.profiles, SpecialFolder(CSIDL_COMMON_APPDATA));
    for (reg::View view : {reg::View::Wow32, reg::View::Wow64}) {
        std::wstring value;
        if (system.profilesDirectory.empty() &&
            reg::ReadString(HKEY_LOCAL_MACHINE, kProfileList, L"ProfilesDirectory", value, view))
            system.profilesDirectory = Expand(value);
        for (const wchar_t* name : {L"AllUsersProfile", L"Default", L"DefaultUserProfile", L"ProgramData", L"Public"}) {
            if (!reg::ReadString(HKEY_LOCAL_MACHINE, kProfileList, name, value, view)) continue;
            value = Expand(value);
            // Older systems name these profiles relative to the profiles folder.
            if (value.find(L':') == std::wstring::npos && !system.profilesDirectory.empty())
                value = system.profilesDirectory + L"\\" + value;
            AddIfSet(system.profiles, value);
        }
        UniqueHKey list = reg::Open(HKEY_LOCAL_MACHINE, kProfileList, KEY_ENUMERATE_SUB_KEYS, view);
        for (DWORD index = 0; list; ++index) {
            wchar_t sid[256];
            DWORD sidLength = 256;
            if (::RegEnumKeyExW(list.get(), index, sid, &sidLength, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS)
                break;
            if (reg::ReadString(HKEY_LOCAL_MACHINE, std::wstring(kProfileList) + L"\\" + sid, L"ProfileImagePath",
                                value, view))
                AddIfSet(system.profiles, Expand(value));
        }
    }
    if (system.profilesDirectory.empty() && !ownProfile.empty()) {
        const size_t slash = ownProfile.find_last_of(L'\\');
        if (slash != std::wstring::npos && slash > 2) system.profilesDirectory = ownProfile.substr(0, slash);
    }
    return system;
}

FolderRefusal CheckInstallFolder(const std::wstring& folder) {
    const SystemFolders system = QuerySystemFolders();
    FolderRefusal refusal = CheckInstallFolder(folder, system);
    if (refusal != FolderRefusal::None) return refusal;
    // The same folder under another name: its 8.3 form, or a link leading to it.
    wchar_t longPath[MAX_PATH] = {};
    const DWORD length = ::GetLongPathNameW(folder.c_str(), longPath, MAX_PATH);
    if (length > 0 && length < MAX_PATH) refusal = CheckInstallFolder(longPath, system);
    if (refusal != FolderRefusal::None) return refusal;
    const std::wstring resolved = ResolvedPath(folder);
    return resolved.empty() ? FolderRefusal::None : CheckInstallFolder(resolved, system);
}

}  // namespace voro
