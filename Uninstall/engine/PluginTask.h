// The document-converter plug-in's own uninstall: its launcher (registered under App Paths of
// ConvKitModule.exe) run with the command line the plug-in left in the product's config.set.
#pragma once
#include "report/HttpModule.h"
#include <cstdint>
#include <string>

constexpr wchar_t kPluginLauncherKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\ConvKitModule.exe";
constexpr wchar_t kPluginLauncherValue[] = L"Launcher";
constexpr wchar_t kPluginSection[] = L"plugin_qv";
constexpr wchar_t kPluginCommandKey[] = L"uninstall_cmd_param";
constexpr DWORD kPluginWait = 3000;  // ms; a launcher still running then is left running

class CPluginTask : public IHttpTaskCallback {
public:
    CPluginTask() = default;
    CPluginTask(const CPluginTask&) = delete;
    CPluginTask& operator=(const CPluginTask&) = delete;

    // Runs the plug-in's uninstall command, if config.set of the install folder names one:
    // 1 when the launcher started, else 0. Logs "CPluginTask::StartTask result=%d code=%d".
    int StartTask(const std::wstring& installFolder);

    // Completion of a task: on success the launcher runs again, signature checked.
    int32_t OnTaskEvent(IHttpTask* task, const HttpTaskStatus* status) override;

    const std::wstring& GetLauncher() const { return m_strLauncher; }
    const std::wstring& GetUninstallCommand() const { return m_strCommandLine; }

private:
    int32_t m_nReserved1 = 0;  // not used by the uninstall path
    int32_t m_nReserved2 = 0;
    std::wstring m_strLauncher;
    std::wstring m_strCommandLine;
    std::wstring m_strInstallFolder;
};
