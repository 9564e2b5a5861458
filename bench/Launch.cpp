// bench_launch.exe "<command line>": starts a program with exactly the command line given (Wine
// quotes every argument that contains a blank, so a command such as
// `uninst.exe /S _?=C:\Program Files (x86)\X`, which needs its last argument unquoted, is handed
// over as one argument and passed on verbatim), waits for it, and prints the child's whole
// lifetime from CreateProcessW to its end. Exit code: the child's.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        fwprintf(stderr, L"usage: bench_launch.exe \"<command line>\"\n");
        return 2;
    }
    std::vector<wchar_t> command(argv[1], argv[1] + wcslen(argv[1]) + 1);  // CreateProcessW may write it
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        fwprintf(stderr, L"bench_launch: CreateProcessW failed (error %lu): %ls\n", ::GetLastError(), argv[1]);
        return 3;
    }
    ::WaitForSingleObject(process.hProcess, INFINITE);
    ::QueryPerformanceCounter(&end);
    DWORD code = 0;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    const double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
    wprintf(L"launch exit=%lu ms=%.1f\n", code, ms);
    fflush(stdout);
    return static_cast<int>(code);
}
