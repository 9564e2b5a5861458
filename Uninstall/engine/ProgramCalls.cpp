#include "engine/ProgramCalls.h"
#include "app/Handles.h"
#include "app/InstallFacts.h"
#include "app/Registry.h"
#include "app/SmartLogger.h"
#include "engine/FileRemoval.h"
#include "engine/ProcessShutdown.h"
#include "engine/SignatureCheck.h"
#include <shellapi.h>
#include <shlwapi.h>
#include <atomic>
#include <cwchar>
#include <vector>

namespace reg = voro::reg;

namespace {

std::atomic<ProgramStartObserver> g_startObserver{nullptr};


bool FileExists(const std::wstring& path) { return ::PathFileExistsW(path.c_str()) != FALSE; }

std::wstring Extension(const std::wstring& path) { return ::PathFindExtensionW(path.c_str()); }

bool SameText(const std::wstring& a, const wchar_t* b) { return _wcsicmp(a.c_str(), b) == 0; }

using UninstExport = void(WINAPI*)(const wchar_t*);
using InterfaceExExport = int(WINAPI*)(const wchar_t*, wchar_t*, int);

template <typename Fn>
Fn Export(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

// Loads a DLL, calls its one-argument export with the argument and frees it again.
void CallUninstExport(const std::wstring& path, const char* exportName, const wchar_t* argument) {
    voro::UniqueModule module(::LoadLibraryW(path.c_str()));
    if (!module) return;
    if (auto fn = Export<UninstExport>(module.get(), exportName)) {
        WriteLog(L"call dll func start, path=[%s]", path.c_str());
        fn(argument);
        WriteLog(L"call dll fun end, path=[%s]", path.c_str());
    }
}

// A registry list of the product (run_list, file_pe): the values whose name resolves inside the
// install folder, in enumeration order.
struct ListedFile {
    std::wstring path;
    std::wstring data;
};

std::vector<ListedFile> ReadListedFiles(const std::wstring& installFolder, const wchar_t* list, size_t maxDataBytes) {
    std::vector<ListedFile> files;
    for (const reg::Value& value : reg::EnumValues(HKEY_LOCAL_MACHINE, std::wstring(kProductAppPathsKey) + L"\\" + list)) {
        if (value.name.size() >= MAX_PATH) continue;
        ListedFile file;
        if (!voro::ResolveListedPath(installFolder, value.name, file.path)) {
            WriteLog(L"refuse listed file outside install folder, list=[%s] name=[%s]", list, value.name.c_str());
            continue;
        }
        if (!FileExists(file.path)) continue;
        if ((value.type != REG_SZ && value.type != REG_EXPAND_SZ) || value.data.size() > maxDataBytes) continue;
        file.data = reg::ValueText(value);
        files.push_back(std::move(file));
    }
    return files;
}

}  // namespace

DWORD ConfiguredWait(DWORD waitMs) { return (waitMs == 0 || waitMs > kMaxConfiguredWait) ? kMaxConfiguredWait : waitMs; }

DWORD RundllWait(DWORD waitMs) { return waitMs > kMaxConfiguredWait ? kMaxConfiguredWait : waitMs; }

void SetProgramStartObserver(ProgramStartObserver observer) { g_startObserver = observer; }

std::wstring GameCenterParameters(bool uninstallGameCenter) {
    return std::wstring(L"/S /PID=tesk") + (uninstallGameCenter ? L" /UNINSTALL" : L" /NOUNINSTALL");
}

bool RunProgram(const wchar_t* path, const wchar_t* parameters, int showCommand, bool checkSignature, bool wait,
                DWORD* exitCode, DWORD waitMs) {
    if (!path || !path[0] || wcslen(path) > MAX_PATH || !FileExists(path)) return false;
    std::wstring file = L"\"" + std::wstring(path) + L"\"";
    if (file.size() > 1023) return false;
    if (checkSignature && !VerifyFileSignature(path)) return false;
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.lpVerb = L"open";
    info.lpFile = file.c_str();
    info.lpParameters = parameters;
    info.nShow = showCommand;
    if (ProgramStartObserver observer = g_startObserver) observer({path, parameters, wait, waitMs});
    bool started = ::ShellExecuteExW(&info) != FALSE;
    voro::UniqueKernelHandle process(info.hProcess);
    if (started && wait && process) ::WaitForSingleObject(process.get(), waitMs);
    if (exitCode) {
        if (!started) return false;
        DWORD code = 0;
        if (process && ::GetExitCodeProcess(process.get(), &code)) *exitCode = code;
    }
    return started;
}

void CallExe(const wchar_t* path, const wchar_t* commandLine, bool checkSignature, bool wait, DWORD waitMs) {
    if (!path || !FileExists(path)) return;
    const wchar_t* cmd = commandLine ? commandLine : L"";
    KillProcessByPath(path);
    WriteLog(L"call exe begin, path=[%s] cmd=[%s]", path, cmd);
    bool result = RunProgram(path, cmd, SW_SHOWNORMAL, checkSignature, wait, nullptr, waitMs);
    WriteLog(L"call exe return [%d], path=[%s], cmd=[%s], sync[%d]", result ? 1 : 0, path, cmd, wait ? 1 : 0);
}

void CallDllExport(const wchar_t* path, const char* exportName, const wchar_t* argument, bool checkSignature) {
    if (!path) return;
    if (checkSignature && !VerifyFileSignature(path)) {
        WriteLog(L"file[%s] check sign fail.", path);
        return;
    }
    CallUninstExport(path, exportName, argument ? argument : L"");
}

std::wstring CallDllInterfaceEx(const wchar_t* path, const char* exportName, const wchar_t* parameter,
                                bool checkSignature) {
    WriteLog(L"Call Dll Interface Ex ,path=[%s]", path ? path : L"");
    if (!path) return {};
    if (checkSignature && !VerifyFileSignature(path)) {
        WriteLog(L"file[%s] check sign fail", path);
        return {};
    }
    voro::UniqueModule module(::LoadLibraryW(path));
    if (!module) return {};
    auto fn = Export<InterfaceExExport>(module.get(), exportName);
    if (!fn) return {};
    WriteLog(L"call dll func start, path=[%s]", path);
    const wchar_t* argument = parameter ? parameter : L"";
    std::vector<wchar_t> buffer(MAX_PATH, 0);
    int needed = fn(argument, buffer.data(), static_cast<int>(buffer.size()));
    buffer.back() = 0;
    std::wstring answer = buffer.data();
    if (needed > 0) {
        buffer.assign(static_cast<size_t>(needed) + 1, 0);
        fn(argument, buffer.data(), needed + 1);
        buffer.back() = 0;
        answer = buffer.data();
    }
    WriteLog(L"call dll fun end, path=[%s]", path);
    return answer;
}

void RunListPrograms(const std::wstring& installFolder) {
    if (!FileExists(installFolder)) return;
    for (const ListedFile& file : ReadListedFiles(installFolder, L"run_list", MAX_PATH * sizeof(wchar_t))) {
        bool check = true;
        if (file.data.find(L"/Regtest") != std::wstring::npos) {
            WriteLog(L"Regtest, no need to check sign.");
            check = false;
        }
        std::wstring extension = Extension(file.path);
        WriteLog(L"file extension:%s", extension.c_str());
        if (SameText(extension, L".DLL") || SameText(extension, L".TPI")) {
            std::wstring answer = CallDllInterfaceEx(file.path.c_str(), "Uninst", file.data.c_str(), check);
            WriteLog(L"CallDllInterfaceEx return value=%s", answer.c_str());
        } else if (SameText(extension, L".EXE")) {
            std::wstring cmd = file.data + L" --PRODUCT=" + GetFamilyProductCode(0) + L" --PID=" + GetFamilyPid(0);
            KillProcessByPath(file.path.c_str());
            WriteLog(L"call exe begin, path=[%s] ,cmd=[%s]", file.path.c_str(), cmd.c_str());
            bool result = RunProgram(file.path.c_str(), cmd.c_str(), SW_SHOWNORMAL, check, true, nullptr, kRunListWait);
            WriteLog(L"call exe return [%d], path=[%s], cmd=[%s], sync[%d]", result ? 1 : 0, file.path.c_str(),
                     cmd.c_str(), 1);
        }
    }
}

void CallFilePePrograms(const std::wstring& installFolder) {
    if (!FileExists(installFolder)) return;
    for (const ListedFile& file : ReadListedFiles(installFolder, L"file_pe", 4096)) {
        std::wstring extension = Extension(file.path);
        if (SameText(extension, L".dll")) {
            if (VerifyFileSignature(file.path.c_str()))
                CallUninstExport(file.path, "Uninst", file.data.c_str());
            else
                WriteLog(L"file[%s] check sign fail.", file.path.c_str());
        } else if (SameText(extension, L".exe")) {
            std::wstring cmd = file.data + L" /uninstall /product=tesk";
            CallExe(file.path.c_str(), cmd.c_str(), true, true, kMaxConfiguredWait);
        }
    }
}

void RunGuardHelper(const std::wstring& installFolder) {
    std::wstring path = installFolder + L"\\wallpaperhelper\\vovorir.exe";
    if (!VerifyFileSignature(path.c_str())) return;
    wchar_t commandLine[2048];
    _snwprintf(commandLine, 2048, L"\"%s\" %s /LockHomePagePath=\"%s\" /Pid=tesk", path.c_str(), L"/UnInstallDesk",
               path.c_str());
    commandLine[2047] = 0;
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return;
    voro::UniqueKernelHandle process(pi.hProcess), thread(pi.hThread);
    if (::WaitForSingleObject(process.get(), kGuardHelperWait) == WAIT_TIMEOUT) WriteLog(L"等待进程退出超时");
}

void RunGameCenterHelper(const std::wstring& installFolder, bool uninstallGameCenter) {
    std::wstring parameters = GameCenterParameters(uninstallGameCenter);
    std::wstring library = installFolder + L"\\Utils\\tvngamecenter_tesk.dll";
    if (VerifyFileSignature(library.c_str())) {
        voro::UniqueModule module(::LoadLibraryW(library.c_str()));
        if (auto start = module ? Export<UninstExport>(module.get(), "Start4RunDll") : nullptr) {
            start(parameters.c_str());
            // The helper keeps working after the call, so its library stays loaded.
            module.release();
            return;
        }
    }
    std::wstring exe = installFolder + L"\\Utils\\tvngamecenter_tesk.exe";
    RunProgram(exe.c_str(), parameters.c_str(), SW_SHOWNORMAL, true, true, nullptr, kGameCenterWait);
    WriteLog(L"Call exe:%s,param:%s", exe.c_str(), parameters.c_str());
}

void CallHelperLibraryUninst(const std::wstring& installFolder) {
    std::wstring path = installFolder + L"\\wallpaperhelper\\Corvix12.dll";
    CallDllExport(path.c_str(), "Uninst", L"", true);
}
