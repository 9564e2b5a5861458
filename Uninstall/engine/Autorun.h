// The product's start at logon: a Task Scheduler logon task, with a Run value as the fall-back.
#pragma once
#include <string>

constexpr wchar_t kAutorunName[] = L"vorowp-srv";
constexpr wchar_t kAutorunDescription[] = L"Starts vorowp-srv when a user logs on.";
constexpr wchar_t kAutorunArguments[] = L"/autorun --from=task";
constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kLegacyRunValue[] = L"vorowp";
constexpr wchar_t kProductSettingsFile[] = L"config.set";

struct AutoRunRequest {
    bool enable = false;
    const wchar_t* executable = nullptr;  // required; surrounding quotes are removed
    const wchar_t* name = nullptr;        // default kAutorunName
    const wchar_t* description = nullptr; // default kAutorunDescription
    int delaySeconds = 0;
};

// What the task (or the Run value) starts.
struct TaskEntry {
    std::wstring path;  // the executable in double quotes
    std::wstring workingFolder;
    std::wstring arguments;
    std::wstring description;
    int delaySeconds = 0;
};

bool SetAutoRun(const AutoRunRequest& request);
// The uninstall step: config.set auto_run/open = 0 (only for a non-empty folder), Run values and
// the logon task removed.
void RemoveAutoRun(const std::wstring& installFolder);

bool CreateLogonTask(const std::wstring& name, const TaskEntry& entry);
bool DeleteLogonTask(const std::wstring& name);
bool SetRunValue(const std::wstring& name, const TaskEntry& entry);
bool DeleteRunValues(const std::wstring& name);

// "PT%dM%dS" of the logon delay.
std::wstring FormatTriggerDelay(int seconds);
// The Run value text: quoted executable, a space, the arguments.
std::wstring FormatRunCommand(const TaskEntry& entry);
