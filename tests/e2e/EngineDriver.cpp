// EngineDriver.exe: removes an installed product through the uninstall engine, the way the
// progress window of Uninstall.exe starts it, without any window of its own.
//
//   EngineDriver.exe <install folder>|--app-paths [--summary] [--keep-appdata] [--report-host host:port]
//                    [--events file] [--start "program [arguments]"]... [--timeout seconds]
//   EngineDriver.exe --prime
//
//   <install folder>  the product's folder; --app-paths takes it from App Paths "path" as
//                     Uninstall.exe does
//   --summary         print what was removed, what is scheduled for the reboot and what is left
//                     in place, and why; and whether each started program still runs
//   --keep-appdata    do not choose the removal of the per-user data folder
//   --report-host     where the uninstall report is posted (a loopback test server); without it
//                     every host is a closed loopback port
//   --events file     write every notification, one a line ("start ui", "progress 4 ui", ...,
//                     "end ui", "real-end worker"), UTF-8
//   --start ...       start a product program before the run (path absolute or relative to the
//                     install folder) and wait until it logged its start in the fixture calls file
//   --timeout         seconds to wait for the engine's last notification (default 600)
//   --prime           only create what an installed product has already caused on its machine
//                     (trust-provider state, the maker's machine-identifier caches), so that a
//                     snapshot taken afterwards and one taken after a run differ by the run only
//
// The driver has to carry a signature by an allowed publisher, 7z.dll beside it and the setup
// package as resource 209 "SETUPCONFIG" (the build does all three); QuonNetUL.dll beside it
// carries the report. The log goes to %TEMP%\tesk_uninst.log like Uninstall.exe's.
// Exit code: 0 when the engine ran to its end, 2 own signature refused, 3 7z.dll not loaded,
// 4 setup package not read, 5 no end in time, 64 wrong usage.
#include "EngineDriverCore.h"

#include <windows.h>
#include <cwchar>
#include <cstdlib>
#include <string>

namespace {

void Write(const std::string& text) {
    DWORD written = 0;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

bool WriteFileText(const std::wstring& path, const std::string& text) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::CloseHandle(file);
    return ok != FALSE;
}

int Usage() {
    Write("usage: EngineDriver.exe <install folder>|--app-paths [--summary] [--keep-appdata] [--report-host host:port]\n"
          "                        [--events file] [--start \"program [arguments]\"]... [--timeout seconds]\n");
    return 64;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && std::wstring(argv[1]) == L"--prime") {
        enginedriver::PrimeMachine();
        return 0;
    }
    enginedriver::Options options;
    std::wstring eventsFile;
    bool fromAppPaths = false;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == L"--app-paths" && options.installFolder.empty()) {
            fromAppPaths = true;
        } else if (arg == L"--summary") {
            options.summary = true;
        } else if (arg == L"--keep-appdata") {
            options.removeAppData = false;
        } else if (arg == L"--report-host" && hasValue) {
            options.reportHost = argv[++i];
        } else if (arg == L"--events" && hasValue) {
            eventsFile = argv[++i];
        } else if (arg == L"--start" && hasValue) {
            options.startPrograms.push_back(argv[++i]);
        } else if (arg == L"--timeout" && hasValue) {
            options.timeoutMs = static_cast<DWORD>(wcstoul(argv[++i], nullptr, 10)) * 1000;
        } else if (!arg.empty() && arg[0] != L'-' && options.installFolder.empty() && !fromAppPaths) {
            options.installFolder = arg;
        } else {
            return Usage();
        }
    }
    if (options.installFolder.empty() && !fromAppPaths) return Usage();

    enginedriver::Result result;
    const bool ended = enginedriver::RunEngine(options, result);
    if (!eventsFile.empty()) WriteFileText(eventsFile, enginedriver::FormatNotifications(result.notifications));
    if (result.preInitCheck != 0) {
        Write("engine driver: PreInitCheck returned " + std::to_string(result.preInitCheck) + "\n");
        return result.preInitCheck == 2 ? 2 : 3;
    }
    if (!result.configLoaded) {
        Write("engine driver: the setup package could not be read\n");
        return 4;
    }
    if (options.summary) Write(enginedriver::FormatSummary(result));
    if (!ended) {
        Write("engine driver: the engine did not end in time\n");
        return 5;
    }
    return 0;
}
