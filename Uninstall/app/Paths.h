// Small path helpers shared by the start-up, the engine and the restore.
#pragma once
#include <windows.h>
#include <shlobj.h>
#include <string>

namespace voro {

// folder + "\" + name; no second separator when the folder already ends in one; an empty folder
// gives the name alone.
inline std::wstring JoinPath(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty()) return name;
    if (folder.back() == L'\\' || folder.back() == L'/') return folder + name;
    return folder + L"\\" + name;
}

// A shell folder (CSIDL_*) as it is now; empty when the shell has none.
inline std::wstring SpecialFolderPath(int csidl) {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path))) return std::wstring();
    return path;
}

}  // namespace voro
