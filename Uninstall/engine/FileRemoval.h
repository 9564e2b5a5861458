// Deleting files and folders, with a fallback chain for whatever stays locked: clear attributes,
// move the item into a temp folder under a GUID name, schedule it for deletion at reboot, and
// (RunOnceBatch.h) a batch file run once at the next logon.
//
// No recursive walk follows a reparse point (symbolic link, junction): a link is removed as a
// link when the system allows it and otherwise left in place; the content of its target is never
// touched.
#pragma once
#include "app/GuidName.h"
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

namespace voro {

using PendingList = std::vector<std::wstring>;
using FileCallback = std::function<void(const std::wstring& file)>;

// Acceptable path: non-null, non-empty, shorter than 260 characters.
bool IsAcceptablePath(const wchar_t* path);

// The folder a path's item is moved into: the user's temp folder for the Windows drive, else the
// hidden "<drive>:\.temp" (created when missing). No trailing backslash.
std::wstring TempFolderFor(const std::wstring& path);

// The install-folder path of a registry list entry: relative, without drive, colon or forward
// slash, and inside the install folder once ".." is folded. False (and nothing to delete)
// otherwise.
bool ResolveListedPath(const std::wstring& installFolder, const std::wstring& name, std::wstring& path);

}  // namespace voro

bool ShellDelete(const wchar_t* path);
bool DeletePathOrQueue(const wchar_t* path, voro::PendingList& pending);
bool DeleteTree(const wchar_t* folder, voro::PendingList& pending, const voro::FileCallback& callback = {});
bool DeleteOrSchedule(const wchar_t* file);
bool DeleteFolderRecursive(const wchar_t* folder);
bool TryRemove(const wchar_t* path);
bool MoveToTemp(const wchar_t* path, std::wstring& newPath);
bool DeleteByExtension(const wchar_t* folder, const wchar_t* extension);
// subKey under HKEY_LOCAL_MACHINE, in the 32-bit view.
void DeleteRegistryListedFiles(const wchar_t* installFolder, const wchar_t* subKey, voro::PendingList& pending);
