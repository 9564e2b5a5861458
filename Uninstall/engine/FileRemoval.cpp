#include "engine/FileRemoval.h"

#include "app/Handles.h"
#include "app/Paths.h"
#include "app/Registry.h"
#include "app/SmartLogger.h"

#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <cwchar>
#include <cwctype>

namespace {

constexpr size_t kPathLimit = MAX_PATH;
constexpr int kGuidNameAttempts = 10;
constexpr FILEOP_FLAGS kShellDeleteFlags = 0x614;  // silent, no confirmation, no error UI, no undo

bool Exists(const std::wstring& path) { return ::PathFileExistsW(path.c_str()) != FALSE; }

bool IsLink(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}
bool IsFolder(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Calls visit(full path, attributes) for every entry of folder matching pattern but "." and "..".
template <typename Visit>
void ForEachEntry(const std::wstring& folder, const wchar_t* pattern, Visit visit) {
    WIN32_FIND_DATAW data;
    voro::UniqueFind find(::FindFirstFileW(voro::JoinPath(folder, pattern).c_str(), &data));
    if (!find) return;
    do {
        if (wcscmp(data.cFileName, L".") == 0 || wcscmp(data.cFileName, L"..") == 0) continue;
        visit(voro::JoinPath(folder, data.cFileName), data.dwFileAttributes);
    } while (::FindNextFileW(find.get(), &data));
}

// Removes a symbolic link or junction itself; its target is never entered. True when it is gone.
bool RemoveLink(const std::wstring& path, DWORD attributes) {
    if (IsFolder(attributes))
        ::RemoveDirectoryW(path.c_str());
    else
        ::DeleteFileW(path.c_str());
    if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) return true;
    WriteLog(L"link kept, not followed: %s", path.c_str());
    return false;
}

// Removes every link below folder; false when one of them could not be removed.
bool RemoveLinksBelow(const std::wstring& folder) {
    bool all = true;
    ForEachEntry(folder, L"*", [&](const std::wstring& path, DWORD attributes) {
        if (IsLink(attributes))
            all = RemoveLink(path, attributes) && all;
        else if (IsFolder(attributes))
            all = RemoveLinksBelow(path) && all;
    });
    return all;
}

// Deletes what it can below folder and the folder itself, without entering links.
void DeleteWithoutFollowing(const std::wstring& folder) {
    ForEachEntry(folder, L"*", [&](const std::wstring& path, DWORD attributes) {
        if (IsLink(attributes)) return;
        if (IsFolder(attributes)) {
            DeleteWithoutFollowing(path);
            return;
        }
        if (!::DeleteFileW(path.c_str()) && ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL))
            ::DeleteFileW(path.c_str());
    });
    ::RemoveDirectoryW(folder.c_str());
}

bool ScheduleAtReboot(const std::wstring& path) {
    return ::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

std::wstring WithoutTrailingSlash(std::wstring path) {
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    return path;
}

}  // namespace

namespace voro {

bool IsAcceptablePath(const wchar_t* path) {
    return path != nullptr && path[0] != L'\0' && wcslen(path) < kPathLimit;
}

std::wstring TempFolderFor(const std::wstring& path) {
    wchar_t windows[MAX_PATH] = {};
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    if (!path.empty() && towupper(path[0]) == towupper(windows[0])) {
        wchar_t temp[MAX_PATH + 1] = {};
        ::GetTempPathW(MAX_PATH + 1, temp);
        return WithoutTrailingSlash(temp);
    }
    wchar_t hidden[16];
    swprintf(hidden, 16, L"%c:\\.temp", path.empty() ? L'C' : path[0]);
    if (!::PathFileExistsW(hidden)) {
        ::SHCreateDirectory(nullptr, hidden);
        ::SetFileAttributesW(hidden, FILE_ATTRIBUTE_HIDDEN);
    }
    return hidden;
}

bool ResolveListedPath(const std::wstring& installFolder, const std::wstring& name, std::wstring& path) {
    path.clear();
    if (name.empty() || installFolder.empty() || installFolder.size() >= kPathLimit) return false;
    // Absolute, rooted, drive-relative ("C:x"), stream names and forward slashes (which PathAppendW
    // does not fold but the file system does) all leave the folder.
    if (name[0] == L'\\' || name.find_first_of(L":/") != std::wstring::npos) return false;
    wchar_t base[MAX_PATH] = {};
    if (!::PathCanonicalizeW(base, installFolder.c_str())) return false;
    wchar_t joined[MAX_PATH] = {};
    lstrcpynW(joined, base, MAX_PATH);
    if (!::PathAppendW(joined, name.c_str())) return false;
    wchar_t folded[MAX_PATH] = {};
    if (!::PathCanonicalizeW(folded, joined)) return false;
    std::wstring root = WithoutTrailingSlash(base);
    if (root.back() != L'\\') root += L'\\';
    std::wstring candidate = folded;
    // Some shells leave a final "\." unfolded.
    for (;;) {
        if (!candidate.empty() && candidate.back() == L'\\')
            candidate.pop_back();
        else if (candidate.size() >= 2 && candidate.compare(candidate.size() - 2, 2, L"\\.") == 0)
            candidate.resize(candidate.size() - 2);
        else
            break;
    }
    if (candidate.size() <= root.size() || _wcsnicmp(candidate.c_str(), root.c_str(), root.size()) != 0)
        return false;
    path = candidate;
    return true;
}

}  // namespace voro

bool ShellDelete(const wchar_t* path) {
    if (path == nullptr) return false;
    const DWORD attributes = ::GetFileAttributesW(path);
    if (IsLink(attributes)) {
        RemoveLink(path, attributes);
        return true;
    }
    // The shell's recursive delete enters linked folders and empties their targets: take links
    // out first, and when one refuses to go delete the rest ourselves around it.
    if (IsFolder(attributes) && !RemoveLinksBelow(path)) {
        DeleteWithoutFollowing(path);
        return true;
    }
    std::vector<wchar_t> from(4096, L'\0');
    lstrcpynW(from.data(), path, 4096 - 1);
    SHFILEOPSTRUCTW operation = {};
    operation.wFunc = FO_DELETE;
    operation.pFrom = from.data();
    operation.fFlags = kShellDeleteFlags;
    ::SHFileOperationW(&operation);
    return true;
}

namespace {

// Queues a path that is still there; true when it is gone.
bool QueueIfPresent(const wchar_t* path, voro::PendingList& pending) {
    if (!::PathFileExistsW(path)) return true;
    pending.push_back(path);
    return false;
}

// A file (not a folder or link): deleted, or queued when it stays. A successful DeleteFileW needs
// no second look (a lookup of a name just removed walks the whole folder under Wine).
bool DeleteFileOrQueue(const wchar_t* path, voro::PendingList& pending) {
    bool deleted = ::DeleteFileW(path) != FALSE;
    if (!deleted && ::SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL)) deleted = ::DeleteFileW(path) != FALSE;
    if (deleted) {
        WriteLog(L"DeleteFile:%s suceesss", path);
        return true;
    }
    return QueueIfPresent(path, pending);
}

}  // namespace

bool DeletePathOrQueue(const wchar_t* path, voro::PendingList& pending) {
    if (path == nullptr) return false;
    const DWORD attributes = ::GetFileAttributesW(path);
    if (IsLink(attributes)) return RemoveLink(path, attributes);  // a kept link is not queued
    if (!IsFolder(attributes)) return DeleteFileOrQueue(path, pending);
    // An emptied folder goes with one call; the shell takes whatever is still inside.
    if (::RemoveDirectoryW(path)) return true;
    ShellDelete(path);
    return QueueIfPresent(path, pending);
}

bool DeleteTree(const wchar_t* folder, voro::PendingList& pending, const voro::FileCallback& callback) {
    if (!voro::IsAcceptablePath(folder)) return false;
    const DWORD attributes = ::GetFileAttributesW(folder);
    if (IsLink(attributes)) {  // the walk would list the link's target
        RemoveLink(folder, attributes);
        return true;
    }
    ForEachEntry(folder, L"*", [&](const std::wstring& path, DWORD attributes) {
        if (IsLink(attributes)) {
            RemoveLink(path, attributes);
        } else if (IsFolder(attributes)) {
            DeleteTree(path.c_str(), pending, callback);
        } else {
            DeleteFileOrQueue(path.c_str(), pending);
            if (callback) callback(path);
        }
    });
    DeletePathOrQueue(folder, pending);
    return true;
}

bool DeleteOrSchedule(const wchar_t* file) {
    if (file == nullptr) return false;
    if (::DeleteFileW(file)) return true;
    if (!::PathFileExistsW(file)) return true;
    if (::SetFileAttributesW(file, FILE_ATTRIBUTE_NORMAL) && ::DeleteFileW(file)) return true;
    if (!ScheduleAtReboot(file)) WriteLog(L"schedule %s at reboot failed, error=%d", file, static_cast<int>(::GetLastError()));
    return false;
}

bool DeleteFolderRecursive(const wchar_t* folder) {
    if (!voro::IsAcceptablePath(folder)) return false;
    const DWORD attributes = ::GetFileAttributesW(folder);
    if (IsLink(attributes)) {
        RemoveLink(folder, attributes);
        return true;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        ::SetFileAttributesW(folder, attributes & ~FILE_ATTRIBUTE_READONLY);
    ForEachEntry(folder, L"*", [&](const std::wstring& path, DWORD entry) {
        if (IsLink(entry))
            RemoveLink(path, entry);
        else if (IsFolder(entry))
            DeleteFolderRecursive(path.c_str());
        else
            DeleteOrSchedule(path.c_str());
    });
    ShellDelete(folder);
    return true;
}

bool TryRemove(const wchar_t* path) {
    if (path == nullptr) return false;
    const DWORD attributes = ::GetFileAttributesW(path);
    if (IsLink(attributes)) return RemoveLink(path, attributes);
    if (::DeleteFileW(path) || !::PathFileExistsW(path)) return true;
    if (::SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL) && ::DeleteFileW(path)) return true;
    return IsFolder(::GetFileAttributesW(path)) && ::RemoveDirectoryW(path);
}

bool MoveToTemp(const wchar_t* path, std::wstring& newPath) {
    if (path == nullptr || path[0] == L'\0' || !::PathFileExistsW(path)) return false;
    // Moving a link can carry its target along (Wine renames the target): links stay where they are.
    if (IsLink(::GetFileAttributesW(path))) {
        WriteLog(L"link kept, not followed: %s", path);
        return false;
    }
    const std::wstring folder = voro::TempFolderFor(path);
    std::wstring name;
    if (folder.size() <= kPathLimit) {
        for (int i = 0; i < kGuidNameAttempts; ++i) {
            GUID guid;
            if (FAILED(::CoCreateGuid(&guid))) continue;
            const std::wstring candidate = voro::JoinPath(folder, voro::FormatGuidName(guid) + L".tmp");
            if (!Exists(candidate)) {
                name = candidate;
                break;
            }
        }
    }
    if (!::MoveFileW(path, name.c_str())) {
        WriteLog(L"move %s to %s, failed, error=%d", path, name.c_str(), static_cast<int>(::GetLastError()));
        return false;
    }
    if (::PathFileExistsW(path)) {
        DeleteOrSchedule(name.c_str());
        return false;
    }
    newPath = name;
    return true;
}

bool DeleteByExtension(const wchar_t* folder, const wchar_t* extension) {
    if (!voro::IsAcceptablePath(folder) || extension == nullptr || extension[0] == L'\0') return false;
    ForEachEntry(folder, L"*.*", [&](const std::wstring& path, DWORD attributes) {
        const bool matches = _wcsicmp(::PathFindExtensionW(path.c_str()), extension) == 0;
        if (IsLink(attributes)) {
            if (matches) RemoveLink(path, attributes);
            return;
        }
        if (IsFolder(attributes)) {
            DeleteByExtension(path.c_str(), extension);
            return;
        }
        if (!matches) return;
        if (::DeleteFileW(path.c_str()) || !Exists(path)) return;
        if (::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL) && ::DeleteFileW(path.c_str())) return;
        if (IsFolder(::GetFileAttributesW(path.c_str())) && ::RemoveDirectoryW(path.c_str())) return;
        std::wstring moved;
        const std::wstring scheduled = MoveToTemp(path.c_str(), moved) ? moved : path;
        ScheduleAtReboot(scheduled);
        WriteLog(L"delete file:%s by pending:%s", path.c_str(), scheduled.c_str());
    });
    return true;
}

void DeleteRegistryListedFiles(const wchar_t* installFolder, const wchar_t* subKey, voro::PendingList& pending) {
    if (installFolder == nullptr || subKey == nullptr || !::PathFileExistsW(installFolder)) return;
    voro::UniqueHKey key = voro::reg::Open(HKEY_LOCAL_MACHINE, subKey, KEY_ALL_ACCESS, voro::reg::View::Wow32);
    if (!key) return;
    for (DWORD index = 0;; ++index) {
        wchar_t name[MAX_PATH];
        DWORD length = MAX_PATH;
        if (::RegEnumValueW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        std::wstring path;
        if (!voro::ResolveListedPath(installFolder, name, path)) {
            WriteLog(L"refuse listed path outside install folder: %s", name);
            continue;
        }
        const DWORD attributes = ::GetFileAttributesW(path.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) continue;
        if (IsFolder(attributes) && !IsLink(attributes))
            DeleteTree(path.c_str(), pending);
        else
            DeletePathOrQueue(path.c_str(), pending);
    }
}
