// Closing the product before its files are deleted: polite quit messages to its windows, then
// termination of every process whose executable lies inside the install folder.
#pragma once
#include <windows.h>
#include <string>

class ISetupConfig;

// The whole shutdown: broadcast "Quonwallpaper_quit", the configured close messages, then (for an
// install folder longer than 4 characters) every process inside the folder and the two main
// programs by exact path.
void KillProcessesInInstallPath(ISetupConfig& config, const std::wstring& installFolder);

// Terminates every process whose image path starts with folder (a plain prefix test), except this
// process, its parent and the ignored helper. killedCount, when given, receives the number
// terminated; it is left untouched for a folder shorter than 4 or longer than 260 characters.
// Always 0.
int KillMultiProcesses(const wchar_t* folder, int* killedCount);

// Terminates every process whose image path equals exePath (case-insensitively). Always 0.
int KillProcessByPath(const wchar_t* exePath);

bool EnableDebugPrivilege();

// The image path of a process into out (at most capacity characters, capacity >= 100); its
// length, 0 on failure.
int GetProcessImagePath(DWORD pid, wchar_t* out, int capacity);

namespace voro {
// True when the upper-cased image path begins with the upper-cased folder (no separator check).
bool ImagePathInFolder(const std::wstring& imagePath, const std::wstring& folder);
}  // namespace voro
