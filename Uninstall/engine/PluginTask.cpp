#include "engine/PluginTask.h"
#include "app/Registry.h"
#include "app/SmartLogger.h"
#include "engine/Autorun.h"
#include "engine/ProgramCalls.h"

namespace {

constexpr DWORD kNotRun = static_cast<DWORD>(-1);

}  // namespace

int CPluginTask::StartTask(const std::wstring& installFolder) {
    m_strInstallFolder = installFolder;
    wchar_t command[MAX_PATH] = {};
    // Without a folder the settings file would be "\config.set" at the root of the current drive.
    if (!m_strInstallFolder.empty()) {
        const std::wstring settings = m_strInstallFolder + L"\\" + kProductSettingsFile;
        ::GetPrivateProfileStringW(kPluginSection, kPluginCommandKey, L"", command, MAX_PATH, settings.c_str());
    }
    m_strCommandLine = command;
    if (m_strCommandLine.empty()) {
        WriteLog(L"CPluginTask::StartTask result=%d code=%d", 0, -1);
        return 0;
    }
    // A value that cannot be read leaves the launcher of an earlier call in place.
    std::wstring launcher;
    if (voro::reg::ReadString(HKEY_LOCAL_MACHINE, kPluginLauncherKey, kPluginLauncherValue, launcher))
        m_strLauncher = launcher;
    int result = 0;
    DWORD code = kNotRun;
    // The plug-in is a separate product with its own publisher: no signature check here.
    if (!m_strLauncher.empty())
        result = RunProgram(m_strLauncher.c_str(), m_strCommandLine.c_str(), SW_SHOWNORMAL, false, true, &code,
                            kPluginWait)
                     ? 1
                     : 0;
    if (!result) code = kNotRun;
    WriteLog(L"CPluginTask::StartTask result=%d code=%d", result, static_cast<int>(code));
    return result;
}

int32_t CPluginTask::OnTaskEvent(IHttpTask*, const HttpTaskStatus* status) {
    if (!status || status->state != kHttpTaskSucceeded) return 0;
    DWORD code = kNotRun;
    const bool started = RunProgram(m_strLauncher.c_str(), m_strCommandLine.c_str(), SW_SHOWNORMAL, true, true,
                                    &code, kPluginWait);
    if (!started) code = kNotRun;
    WriteLog(L"CPluginTask::RunPlugin result=%d code=%d", started ? 1 : 0, static_cast<int>(code));
    return 0;
}
