// bench_engine_removal.exe [--without-ui-deliveries] <install folder>: the whole silent removal,
// driven the way a silent run of Uninstall.exe drives it: COM, the "chs" locale and the log in the
// temp folder, the network module beside this program, SetInstallDir, PreInitCheck, InitConfig
// with the embedded package (resource 209 "SETUPCONFIG"), SetRemoveAppData(true), StartUninstall
// with a callback, and the UI thread pumping messages until OnRealInstallEnd.
//
// --without-ui-deliveries destroys the UI-thread marshalling window after PreInitCheck, so that
// the engine drops every notification it would deliver on the UI thread (start, progress, end):
// what-if figure for the cost of the per-file progress delivery. OnRealInstallEnd still arrives.
//
// The uninstall report must not leave the machine: every server host is a loopback port that
// nothing listens on, so the report's post is refused at once.
//
// Prints the phases in milliseconds (init: up to StartUninstall; removal: StartUninstall to
// OnUninstallEnd; report: OnUninstallEnd to OnRealInstallEnd), the notification counts, whether
// the log writer holds its file open at the end (log_held=1: the writer that keeps it), and the
// time of each step of the sequence, taken from the progress notifications between the steps.
#include "app/SmartLogger.h"
#include "app/UIThreadWindow.h"
#include "engine/UninstallTask.h"
#include "report/HttpModule.h"
#include "report/ServerHosts.h"

#include <winsock2.h>
#include <windows.h>
#include <objbase.h>
#include <shlwapi.h>

#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr DWORD kTimeoutMs = 600000;

double NowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart) / frequency.QuadPart;
}

// A loopback port that was free a moment ago and that nobody listens on.
std::wstring ClosedLoopbackHost() {
    int port = 1;
    WSADATA wsa;
    if (::WSAStartup(MAKEWORD(2, 2), &wsa) == 0) {
        SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (s != INVALID_SOCKET) {
            sockaddr_in address = {};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            int length = sizeof(address);
            if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
                ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
                port = ntohs(address.sin_port);
            ::closesocket(s);
        }
        ::WSACleanup();
    }
    return L"127.0.0.1:" + std::to_wstring(port);
}

std::wstring OwnFolder() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    ::PathRemoveFileSpecW(path);
    return path;
}

std::wstring LogPath() {
    wchar_t temp[MAX_PATH] = {};
    const DWORD n = ::GetTempPathW(MAX_PATH, temp);
    if (n == 0 || n >= MAX_PATH) return std::wstring();
    return std::wstring(temp) + kLogFileName;
}

class Receiver : public IUninstallCallback {
public:
    Receiver() : m_done(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) { m_marks.reserve(1 << 15); }
    void OnUninstallStart() override {
        ++m_starts;
        m_startMs = NowMs();
    }
    void OnUninstallProgress(int percent) override {
        ++m_progress;
        m_last = percent;
        m_marks.push_back(NowMs());
    }
    void OnUninstallEnd() override {
        ++m_ends;
        m_endMs = NowMs();
    }
    void OnRealInstallEnd() override {
        m_realEndMs = NowMs();
        ::SetEvent(m_done);
    }
    HANDLE Done() const { return m_done; }

    // The time each step of the sequence took, from the progress notifications between them:
    // 1, 4, 5, 6, 7, 8, 9, one per deleted file, then 97, 98, 99 (see the driver).
    std::wstring Steps() const {
        static const wchar_t* const kNames[] = {L"start",    L"calls",    L"kill",  L"shortcuts",
                                                L"data",     L"registry", L"autorun"};
        const size_t fixed = sizeof(kNames) / sizeof(kNames[0]);  // the spans up to the 9
        if (m_starts == 0 || m_ends == 0 || m_marks.size() < fixed + 3) return L"none";
        std::wstring text;
        auto add = [&text](const wchar_t* name, double from, double to) {
            wchar_t part[64];
            _snwprintf(part, 64, L"%ls%ls:%.1f", text.empty() ? L"" : L",", name, to - from);
            part[63] = 0;
            text += part;
        };
        double previous = m_startMs;
        for (size_t i = 0; i < fixed; ++i) {
            add(kNames[i], previous, m_marks[i]);
            previous = m_marks[i];
        }
        const size_t late = m_marks.size() - 3;  // the 97
        const size_t firstFile = fixed < late ? fixed : late;
        add(L"services", previous, m_marks[firstFile]);  // uninstall entry, guard helper, services, count
        add(L"files", m_marks[firstFile], m_marks[late]);
        add(L"late", m_marks[late], m_marks[late + 1]);
        add(L"batch", m_marks[late + 1], m_marks[late + 2]);
        add(L"end", m_marks[late + 2], m_endMs);
        add(L"report", m_endMs, m_realEndMs);
        return text;
    }

    int m_starts = 0, m_progress = 0, m_ends = 0, m_last = -1;
    double m_startMs = 0, m_endMs = 0, m_realEndMs = 0;
    std::vector<double> m_marks;

private:
    HANDLE m_done;
};

bool PumpUntil(HANDLE event, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        const DWORD waited = ::GetTickCount() - start;
        if (waited >= timeoutMs) return false;
        const DWORD rc = ::MsgWaitForMultipleObjects(1, &event, FALSE, timeoutMs - waited, QS_ALLINPUT);
        if (rc == WAIT_OBJECT_0) return true;
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const bool withoutDeliveries = argc == 3 && wcscmp(argv[1], L"--without-ui-deliveries") == 0;
    if (argc != 2 && !withoutDeliveries) {
        fwprintf(stderr, L"usage: bench_engine_removal.exe [--without-ui-deliveries] <install folder>\n");
        return 2;
    }
    const wchar_t* installFolder = argv[argc - 1];
    const double startMs = NowMs();
    ::CoInitialize(nullptr);
    setlocale(LC_ALL, "chs");
    CSmartLogger::Global().SetLogFile(LogPath());

    ServerHosts hosts;
    hosts.statistics = hosts.webService = hosts.download = hosts.accountCentre = ClosedLoopbackHost();
    SetServerHosts(hosts);
    LoadHttpModule(OwnFolder());

    IUninstallTask* task = GetUninstallTask();
    task->SetInstallDir(installFolder);
    const int check = task->PreInitCheck();
    if (check != 0) {
        fwprintf(stderr, L"bench_engine_removal: PreInitCheck returned %d\n", check);
        return 3;
    }
    if (withoutDeliveries) ::DestroyWindow(CUIThreadWindow::Window());
    if (!task->InitConfig(::GetModuleHandleW(nullptr), 209, L"SETUPCONFIG", L"tesk.tvnprj")) {
        fwprintf(stderr, L"bench_engine_removal: InitConfig failed\n");
        return 4;
    }
    task->SetRemoveAppData(true);  // the questionnaire always ends with it

    static Receiver* receiver = new Receiver();  // the worker may outlive a run that times out
    const double removalStartMs = NowMs();
    task->StartUninstall(receiver);
    if (!PumpUntil(receiver->Done(), kTimeoutMs)) {
        task->DetachCallback();
        fwprintf(stderr, L"bench_engine_removal: no OnRealInstallEnd within %lu ms\n", kTimeoutMs);
        return 5;
    }
    const bool folderLeft = ::GetFileAttributesW(installFolder) != INVALID_FILE_ATTRIBUTES;
    // Which log writer this build has: the one that keeps its file open holds it now.
    HANDLE log = ::CreateFileW(LogPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    const bool logHeld = log == INVALID_HANDLE_VALUE && ::GetLastError() == ERROR_SHARING_VIOLATION;
    if (log != INVALID_HANDLE_VALUE) ::CloseHandle(log);
    // Without deliveries OnUninstallEnd never arrives: the report then counts as removal.
    const double endMs = receiver->m_ends ? receiver->m_endMs : receiver->m_realEndMs;
    wprintf(L"engine_removal init_ms=%.1f removal_ms=%.1f report_ms=%.1f starts=%d progress=%d ends=%d "
            L"last=%d folder_left=%d log_held=%d steps=%ls\n",
            removalStartMs - startMs, endMs - removalStartMs, receiver->m_realEndMs - endMs,
            receiver->m_starts, receiver->m_progress, receiver->m_ends, receiver->m_last, folderLeft ? 1 : 0,
            logHeld ? 1 : 0, receiver->Steps().c_str());
    fflush(stdout);
    return 0;
}
