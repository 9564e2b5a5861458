// The setup project's own uninstall calls: CallProgramOnUninst and RundllUnRegisterOnUnInst,
// run against the install folder (engine code on CSetupConfig's lists).
#include "app/InstallFacts.h"
#include "app/SmartLogger.h"
#include "config/SetupConfig.h"
#include "engine/ProgramCalls.h"
#include "engine/SignatureCheck.h"
#include <shlwapi.h>
#include <cwchar>
#include <string>

namespace {

constexpr wchar_t kRundllHost32[] = L"Utils\\rundll.exe";
constexpr wchar_t kRundllHost64[] = L"Utils\\rundll64.exe";

// The install folder joined with a relative name; false when the result would not fit.
bool JoinInstallPath(const wchar_t* installFolder, const wchar_t* name, wchar_t (&path)[MAX_PATH]) {
    path[0] = 0;
    if (wcslen(installFolder) >= MAX_PATH) return false;
    lstrcpynW(path, installFolder, MAX_PATH);
    return ::PathAppendW(path, name) != FALSE;
}

// An export name in the thread's ANSI code page.
std::string ToThreadAnsi(const wchar_t* text) {
    const int size = ::WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return std::string();
    std::string out(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, &out[0], size, nullptr, nullptr);
    out.resize(static_cast<size_t>(size) - 1);
    return out;
}

}  // namespace

bool CSetupConfig::RunCallProgramList(const wchar_t* installFolder) {
    if (!installFolder) return false;
    for (const ProgramCallRecord& call : m_vecUninstallCalls) {
        wchar_t path[MAX_PATH];
        if (!JoinInstallPath(installFolder, call.fileName, path) || !::PathFileExistsW(path)) {
            WriteLog(L"file[%s] is not exist", path[0] ? path : call.fileName);
            continue;
        }
        const bool accepted = call.signType[0] ? VerifyFileSignatureBy(path, call.signType) : VerifyFileSignature(path);
        if (!accepted) {
            WriteLog(L"check sign fail, signType[%s], filepath[%s]", call.signType, path);
            continue;
        }
        if (_wcsicmp(call.type, L"exe") == 0) {
            CallExe(path, call.cmdline, false, call.sync != 0, ConfiguredWait(static_cast<DWORD>(call.waitTimeMs)));
        } else if (_wcsicmp(call.type, L"dll") == 0) {
            const std::string exportName = ToThreadAnsi(call.funcName);
            CallDllExport(path, exportName.c_str(), call.para, false);
        }
    }
    return true;
}

bool CSetupConfig::RunRundllList(const wchar_t* installFolder) {
    if (!installFolder) return false;
    wchar_t host[MAX_PATH];
    if (!JoinInstallPath(installFolder, Is64BitWindows() ? kRundllHost64 : kRundllHost32, host) ||
        !VerifyFileSignature(host))
        return false;
    for (const RundllRecord& item : m_vecRundllItems) {
        wchar_t dll[MAX_PATH];
        if (!JoinInstallPath(installFolder, item.fileName, dll) || !::PathFileExistsW(dll)) {
            WriteLog(L"file[%s] is not exist", dll[0] ? dll : item.fileName);
            continue;
        }
        const std::wstring commandLine =
            std::wstring(L"--dll=\"") + dll + L"\" --entry=" + item.entry + L" " + item.cmdline;
        CallExe(host, commandLine.c_str(), false, true, RundllWait(static_cast<DWORD>(item.waitTimeMs)));
    }
    return true;
}
