// bench_costs.exe <lines> <folder>: what the removal pays per deleted file besides the deletion,
// measured one operation at a time, <lines> times each:
//   log_reopen     a log line written by opening the file ("a"), writing, flushing and closing it
//   log_kept_open  a log line written to a file kept open, flushed after the line
//   writelog       WriteLog as the tree builds it now (CSmartLogger), the removal's own line text
//   debug_output   OutputDebugStringW of a progress line (no debugger attached)
//   ui_call        a bound call sent from a worker thread to CUIThreadWindow and run there
//   attributes     GetFileAttributesW and PathFileExistsW of an existing file
//   missing_lookup PathFileExistsW of a name that is not there, in a folder of 100 files (the
//                  check after each deletion; Wine looks for the name in the whole folder)
//   empty_folder   create an empty folder and delete it with SHFileOperationW (how the removal
//                  deletes each folder after its files), <lines>/10 times
//   remove_dir     create an empty folder and RemoveDirectoryW it (the plain deletion's way)
// The log lines are written with the "chs" locale, as the uninstaller writes them.
#include "app/SimpleBind.h"
#include "app/SmartLogger.h"
#include "app/UIThreadWindow.h"

#include <windows.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

constexpr wchar_t kSampleFile[] = L"C:\\Program Files (x86)\\VoroWallPaper\\wallpapers\\w0042\\f0007.jpg";

class Stopwatch {
public:
    Stopwatch() {
        ::QueryPerformanceFrequency(&m_frequency);
        ::QueryPerformanceCounter(&m_start);
    }
    double Ms() const {
        LARGE_INTEGER now;
        ::QueryPerformanceCounter(&now);
        return 1000.0 * static_cast<double>(now.QuadPart - m_start.QuadPart) / m_frequency.QuadPart;
    }

private:
    LARGE_INTEGER m_frequency, m_start;
};

void Report(const wchar_t* name, int count, double ms) {
    wprintf(L"cost %-14ls n=%d total_ms=%.1f us_each=%.2f\n", name, count, ms, 1000.0 * ms / count);
    fflush(stdout);
}

std::wstring Line(int i) {
    wchar_t buffer[512];
    _snwprintf(buffer, 512, L"2024-03-01 10:20:30 DeleteFile:%ls.%d suceesss\n", kSampleFile, i);
    buffer[511] = 0;
    return buffer;
}

double LogReopen(const std::wstring& path, int count) {
    Stopwatch watch;
    for (int i = 0; i < count; ++i) {
        if (FILE* f = _wfopen(path.c_str(), L"a")) {
            fputws(Line(i).c_str(), f);
            fflush(f);
            fclose(f);
        }
    }
    return watch.Ms();
}

double LogKeptOpen(const std::wstring& path, int count) {
    Stopwatch watch;
    FILE* f = _wfopen(path.c_str(), L"a");
    if (!f) return 0;
    for (int i = 0; i < count; ++i) {
        fputws(Line(i).c_str(), f);
        fflush(f);
    }
    fclose(f);
    return watch.Ms();
}

double WriteLogLines(const std::wstring& path, int count) {
    CSmartLogger::Global().SetLogFile(path);
    WriteLog(L"bench start");  // the banner
    Stopwatch watch;
    for (int i = 0; i < count; ++i) WriteLog(L"DeleteFile:%s suceesss", kSampleFile);
    const double ms = watch.Ms();
    CSmartLogger::Global().SetLogFile(L"");
    return ms;
}

double DebugOutput(int count) {
    Stopwatch watch;
    for (int i = 0; i < count; ++i) {
        wchar_t text[32];
        _snwprintf(text, 32, L"nProgress=%d\n", 10 + i % 88);
        text[31] = 0;
        ::OutputDebugStringW(text);
    }
    return watch.Ms();
}

class Counter {
public:
    void Bump(int value) { m_sum += value; }
    long long Sum() const { return m_sum; }

private:
    long long m_sum = 0;
};

// The worker sends; this (UI) thread pumps messages until the worker is done.
double UiCalls(int count) {
    if (!CUIThreadWindow::Create(::GetModuleHandleW(nullptr))) return -1;
    Counter counter;
    double ms = 0;
    volatile LONG done = 0;
    std::thread worker([&] {
        Stopwatch watch;
        for (int i = 0; i < count; ++i) {
            mf_bind_t_1<Counter> bind(&Counter::Bump, &counter, i);
            CUIThreadWindow::RunOnUIThread(&bind);
        }
        ms = watch.Ms();
        ::InterlockedExchange(&done, 1);
    });
    while (!done) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    worker.join();
    return counter.Sum() == static_cast<long long>(count) * (count - 1) / 2 ? ms : -1;
}

double Attributes(const std::wstring& file, int count) {
    Stopwatch watch;
    for (int i = 0; i < count; ++i) {
        ::GetFileAttributesW(file.c_str());
        ::PathFileExistsW(file.c_str());
    }
    return watch.Ms();
}

double MissingLookup(const std::wstring& folder, int count) {
    const std::wstring crowded = folder + L"\\crowded";
    ::CreateDirectoryW(crowded.c_str(), nullptr);
    for (int i = 0; i < 100; ++i) {
        const std::wstring file = crowded + L"\\frame" + std::to_wstring(i) + L".jpg";
        HANDLE h = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
    }
    const std::wstring missing = crowded + L"\\frame100.jpg";
    Stopwatch watch;
    for (int i = 0; i < count; ++i) ::PathFileExistsW(missing.c_str());
    const double ms = watch.Ms();
    for (int i = 0; i < 100; ++i) ::DeleteFileW((crowded + L"\\frame" + std::to_wstring(i) + L".jpg").c_str());
    ::RemoveDirectoryW(crowded.c_str());
    return ms;
}

double EmptyFolders(const std::wstring& folder, int count, bool shell) {
    const std::wstring empty = folder + L"\\empty";
    Stopwatch watch;
    for (int i = 0; i < count; ++i) {
        ::CreateDirectoryW(empty.c_str(), nullptr);
        if (shell) {
            wchar_t from[MAX_PATH + 2] = {};
            lstrcpynW(from, empty.c_str(), MAX_PATH);
            SHFILEOPSTRUCTW operation = {};
            operation.wFunc = FO_DELETE;
            operation.pFrom = from;
            operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOCONFIRMMKDIR | FOF_NOERRORUI;
            ::SHFileOperationW(&operation);
        } else {
            ::RemoveDirectoryW(empty.c_str());
        }
    }
    return watch.Ms();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        fwprintf(stderr, L"usage: bench_costs.exe <lines> <folder>\n");
        return 2;
    }
    const int count = _wtoi(argv[1]);
    const std::wstring folder = argv[2];
    if (count <= 0) return 2;
    setlocale(LC_ALL, "chs");
    ::CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring reopen = folder + L"\\reopen.log", kept = folder + L"\\kept.log",
                       logger = folder + L"\\writelog.log";
    for (const std::wstring* path : {&reopen, &kept, &logger}) ::DeleteFileW(path->c_str());

    Report(L"log_reopen", count, LogReopen(reopen, count));
    Report(L"log_kept_open", count, LogKeptOpen(kept, count));
    Report(L"writelog", count, WriteLogLines(logger, count));
    Report(L"debug_output", count, DebugOutput(count));
    Report(L"ui_call", count, UiCalls(count));
    Report(L"attributes", count, Attributes(kept, count));
    Report(L"missing_lookup", count, MissingLookup(folder, count));
    const int folders = count / 10 > 0 ? count / 10 : 1;
    Report(L"empty_folder", folders, EmptyFolders(folder, folders, true));
    Report(L"remove_dir", folders, EmptyFolders(folder, folders, false));
    for (const std::wstring* path : {&reopen, &kept, &logger}) ::DeleteFileW(path->c_str());
    ::RemoveDirectoryW(folder.c_str());
    return 0;
}
