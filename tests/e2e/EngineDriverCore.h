// The engine driver's core, shared by EngineDriver.exe, the demo and the benchmark: runs the
// uninstall engine through IUninstallTask exactly as the progress window does (StartUninstall on
// the UI thread, which pumps messages until the very last notification), records every
// notification, and sorts the product's items into removed, scheduled for the reboot and left.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace enginedriver {

struct Options {
    std::wstring installFolder;    // empty: the App Paths "path" value, as Uninstall.exe finds it
    bool removeAppData = true;     // what the questionnaire always chooses
    bool summary = false;          // take the inventory before and sort it afterwards
    std::wstring reportHost;       // host:port the uninstall report goes to; empty: a closed loopback port
    std::vector<std::wstring> startPrograms;  // "path [arguments]" started (and waited for) before the run
    DWORD timeoutMs = 10 * 60 * 1000;
};

struct Notification {
    std::string kind;  // "start", "progress", "end", "real-end"
    int value = 0;
    bool onUiThread = false;
};

enum class Fate { Removed, Scheduled, Left };

struct Item {
    std::wstring name;    // a path, or a registry key or value written as "HKLM32\..." and so on
    Fate fate = Fate::Left;
    std::wstring detail;  // where it was moved, or why it is left
};

struct StartedProgram {
    std::wstring path;
    bool started = false;
    bool runningAfter = false;  // still running when the engine had ended
};

struct Result {
    std::wstring installFolder;  // the folder the engine was given
    std::vector<StartedProgram> started;
    int preInitCheck = -1;
    bool configLoaded = false;
    bool finished = false;  // the last notification arrived in time
    std::vector<Notification> notifications;
    std::vector<Item> items;  // with Options::summary only
};

// The whole run; false when it could not start or did not end in time (Result says which).
bool RunEngine(const Options& options, Result& result);

// What an installed product has already caused on its machine and a first run of the engine
// would otherwise create: the system's trust-provider state (one signature check) and the maker's
// machine-identifier caches that the product's own programs keep. Run before a snapshot of the
// machine, so that a comparison afterwards shows the uninstall only.
void PrimeMachine();

// "start ui", "progress 4 ui", ..., "real-end worker", one line each.
std::string FormatNotifications(const std::vector<Notification>& notifications);
// The summary text: counts and items of each fate, with details, and the started programs.
std::string FormatSummary(const Result& result);

std::string Utf8(const std::wstring& text);

}  // namespace enginedriver
