// Shutdown against the fixture product's programs; every case runs in a fresh prefix (it starts
// and kills processes).
#include "config/SetupConfig.h"
#include "engine/ProcessShutdown.h"

#include "EngineTestSupport.h"
#include "FixturePaths.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <thread>
#include <vector>

namespace {

using enginetest::MakeFolder;
using enginetest::Narrow;

// The close list of the setup configuration, nothing else.
class CloseListConfig : public ISetupConfig {
public:
    explicit CloseListConfig(std::vector<CloseProgramRecord> records) : m_records(std::move(records)) {}
    int Init(HINSTANCE, int, const wchar_t*, const wchar_t*) override { return 1; }
    int GetMinimizeSpace() override { return 0; }
    IUninstallRootDirList* GetRootDirList() override { return nullptr; }
    bool GetVersion(wchar_t*, int) override { return false; }
    bool GetMainApp(wchar_t*, int) override { return false; }
    HKEY GetRegAppPathRoot() override { return HKEY_LOCAL_MACHINE; }
    bool GetRegAppPathSubKey(wchar_t*, int) override { return false; }
    bool GetRegAppPathValue(wchar_t*, int) override { return false; }
    int GetCloseProgramCount() override { return static_cast<int>(m_records.size()); }
    bool GetCloseProgram(int index, CloseProgramRecord* record) override {
        if (index < 0 || index >= GetCloseProgramCount()) return false;
        *record = m_records[index];
        return true;
    }
    bool GetCheckFile(int, wchar_t*, int) override { return false; }
    int GetCheckFileCount() override { return 0; }
    bool GetInstallCall(int, ProgramCallRecord*) override { return false; }
    int GetInstallCallCount() override { return 0; }
    bool GetUninstallCall(int, ProgramCallRecord*) override { return false; }
    int GetUninstallCallCount() override { return 0; }
    int GetFileCount() override { return 0; }
    void Release() override {}

private:
    std::vector<CloseProgramRecord> m_records;
};

CloseProgramRecord Close(const wchar_t* windowClass, UINT message, int wParam, int lParam) {
    CloseProgramRecord record = {};
    lstrcpynW(record.windowClass, windowClass, kCloseClassCapacity);
    record.message = message;
    record.wParam = wParam;
    record.lParam = lParam;
    record.timeoutMs = 2000;
    return record;
}

// The package's close list.
std::vector<CloseProgramRecord> ProductCloseList() {
    return {Close(L"QuonWallpaperMsgWndClass", WM_COMMAND, 40011, 102),
            Close(L"QuonWallPaperCtrlCls", WM_COMMAND, 40011, 102)};
}

// A fixture program started from a folder, with the calls file of the test.
class Program {
public:
    Program(const std::wstring& exe, const std::wstring& arguments = L"") {
        std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        PROCESS_INFORMATION pi = {};
        if (::CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
            ::CloseHandle(pi.hThread);
            m_process = pi.hProcess;
        }
    }
    ~Program() {
        if (m_process == nullptr) return;
        ::TerminateProcess(m_process, 1);
        ::WaitForSingleObject(m_process, 5000);
        ::CloseHandle(m_process);
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;
    bool Started() const { return m_process != nullptr; }
    bool Ended(DWORD waitMs = 0) const { return ::WaitForSingleObject(m_process, waitMs) == WAIT_OBJECT_0; }

private:
    HANDLE m_process = nullptr;
};

// Runs a copy of this test program in a child role; its exit code, -1 when it did not run.
int RunCopy(const std::wstring& exe, const wchar_t* role, const std::wstring& argument) {
    std::wstring commandLine = L"\"" + exe + L"\" --child " + role + L" \"" + argument + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return -1;
    ::CloseHandle(pi.hThread);
    DWORD code = static_cast<DWORD>(-1);
    if (::WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0) ::GetExitCodeProcess(pi.hProcess, &code);
    ::CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}

class ShutdownTest : public testing::Test {
protected:
    void SetUp() override {
        m_calls = m_root.File(L"calls.txt");
        ::SetEnvironmentVariableW(L"VORO_FIXTURE_CALLS", m_calls.c_str());
    }
    // Copies a product binary into folder (created when missing) and returns its path.
    std::wstring Place(const std::wstring& folder, const wchar_t* file) {
        ::CreateDirectoryW(folder.c_str(), nullptr);
        const std::wstring target = folder + L"\\" + file;
        EXPECT_TRUE(::CopyFileW(fixture::Path(std::wstring(L"bin\\") + file).c_str(), target.c_str(), FALSE));
        return target;
    }
    std::string Calls() const { return testsupport::ReadBytes(m_calls); }
    // Waits until the program logged its start (it is ready then).
    bool WaitStarted(const std::wstring& exe) {
        const std::string line = Narrow(exe) + "\t";
        return testsupport::PumpUntil([&] { return Calls().find(line) != std::string::npos; }, 20000);
    }
    bool LoggedQuit(const std::wstring& exe) {
        const std::string calls = Calls();
        return calls.find(Narrow(exe) + "\tWM_COMMAND 40011") != std::string::npos ||
               calls.find(Narrow(exe) + "\tQuonwallpaper_quit") != std::string::npos;
    }

    testsupport::TempFolder m_root;
    std::wstring m_calls;
};

TEST_F(ShutdownTest, PoliteWindowsQuitAndTheRestIsKilled) {
    enginetest::CapturedLog log;
    const std::wstring install = m_root.File(L"VoroWallPaper");
    const std::wstring wallpaper = Place(install, L"vorowp.exe");
    const std::wstring control = Place(install, L"vorowpctrl.exe");
    const std::wstring pendant = Place(install, L"voropendant.exe");
    const std::wstring host = Place(install, L"vorohost.exe");
    Place(install, L"voroplug.dll");
    Program p1(wallpaper), p2(control), p3(pendant), p4(host);
    ASSERT_TRUE(p1.Started() && p2.Started() && p3.Started() && p4.Started());
    for (const std::wstring& exe : {wallpaper, control, pendant, host}) ASSERT_TRUE(WaitStarted(exe)) << Narrow(exe);

    CloseListConfig config(ProductCloseList());
    KillProcessesInInstallPath(config, install);

    for (const Program* p : {&p1, &p2, &p3, &p4}) EXPECT_TRUE(p->Ended(10000));
    EXPECT_TRUE(LoggedQuit(wallpaper));
    EXPECT_TRUE(LoggedQuit(control));
    EXPECT_FALSE(LoggedQuit(pendant));
    EXPECT_TRUE(::DeleteFileW((install + L"\\voroplug.dll").c_str())) << "the DLL's host is gone";
    EXPECT_TRUE(log.Has("enter KillProcessesInInstallPath szTargetDir=" + Narrow(install)));
    EXPECT_TRUE(log.Has("Kill process: " + Narrow(pendant)));
    EXPECT_TRUE(log.Has("end KillProcessesInInstallPath"));
}

// The folder is a plain prefix: a sibling folder whose name extends it is hit as well; the
// ignored helper, this process and its parent are spared.
TEST_F(ShutdownTest, PrefixMatchSparesSelfParentAndTheIgnoredHelper) {
    enginetest::CapturedLog log;
    const std::wstring install = m_root.File(L"B");
    ASSERT_TRUE(MakeFolder(install));
    const std::wstring inside = Place(install + L"\\sub", L"voropendant.exe");
    const std::wstring sibling = Place(m_root.File(L"BC"), L"voropendant.exe");
    ASSERT_TRUE(MakeFolder(install + L"\\VezAre"));
    const std::wstring helper = install + L"\\VezAre\\VezAre.exe";
    ASSERT_TRUE(::CopyFileW(fixture::Path(L"bin\\voropendant.exe").c_str(), helper.c_str(), FALSE));
    const std::wstring outside = Place(m_root.File(L"A"), L"voropendant.exe");
    Program a(inside), b(sibling), c(helper), d(outside);
    for (const std::wstring& exe : {inside, sibling, helper, outside}) ASSERT_TRUE(WaitStarted(exe));

    // Two copies of this test program inside the folder: a parent that starts the killer.
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    ASSERT_TRUE(::CopyFileW(self, (install + L"\\parent.exe").c_str(), FALSE));
    ASSERT_TRUE(::CopyFileW(self, (install + L"\\killer.exe").c_str(), FALSE));
    const DWORD code = static_cast<DWORD>(RunCopy(install + L"\\parent.exe", L"ParentInside", install));
    EXPECT_EQ(2u, code) << "the killer reports the number it terminated";
    EXPECT_TRUE(a.Ended(5000));
    EXPECT_TRUE(b.Ended(5000)) << "plain prefix: ...\\BC is inside ...\\B";
    EXPECT_FALSE(c.Ended());
    EXPECT_FALSE(d.Ended());
}

TEST_CHILD_ROLE(ParentInside) {
    return RunCopy(argument + L"\\killer.exe", L"KillFromInside", argument);
}

// Runs from inside the folder, started by a parent inside it: both must live through the kill.
TEST_CHILD_ROLE(KillFromInside) {
    testsupport::TempFolder logFolder;
    CSmartLogger::Global().SetLogFile(logFolder.File(L"log.txt"));
    int killed = -1;
    KillMultiProcesses(argument.c_str(), &killed);
    const std::string log = testsupport::ReadBytes(logFolder.File(L"log.txt"));
    if (log.find("Ignore process : ") == std::string::npos) return 100;
    return killed;
}

TEST_F(ShutdownTest, ShortFoldersKillNothing) {
    // "C:\V" is 4 characters: a program in "C:\Vx" would match the prefix, and must survive.
    const std::wstring program = Place(L"C:\\Vx", L"voropendant.exe");
    Program p(program);
    ASSERT_TRUE(WaitStarted(program));
    enginetest::CapturedLog log;
    CloseListConfig config(ProductCloseList());
    KillProcessesInInstallPath(config, L"C:\\V");
    KillProcessesInInstallPath(config, L"");
    EXPECT_FALSE(p.Ended(500));
    EXPECT_FALSE(log.Has("enter KillMultiProcesses"));

    int count = 7;
    for (const wchar_t* folder : {L"", L"C:\\"}) {
        KillMultiProcesses(folder, &count);
        EXPECT_EQ(7, count) << "a rejected folder leaves the count alone";
    }
    KillMultiProcesses(nullptr, &count);
    EXPECT_EQ(7, count);
    EXPECT_FALSE(p.Ended(500));
    ::DeleteFileW(L"C:\\Vx\\voropendant.exe");
}

TEST_F(ShutdownTest, KillByPathNeedsTheWholePath) {
    enginetest::CapturedLog log;
    const std::wstring exact = Place(m_root.File(L"P"), L"voropendant.exe");
    const std::wstring deeper = Place(m_root.File(L"P\\sub"), L"voropendant.exe");
    Program a(exact), b(deeper);
    ASSERT_TRUE(WaitStarted(exact) && WaitStarted(deeper));
    std::wstring upper = exact;
    ::CharUpperBuffW(&upper[0], static_cast<DWORD>(upper.size()));
    EXPECT_EQ(0, KillProcessByPath(upper.c_str()));
    EXPECT_TRUE(a.Ended(5000));
    EXPECT_FALSE(b.Ended(500));
    EXPECT_TRUE(log.Has("Kill process: "));
    EXPECT_EQ(0, KillProcessByPath(nullptr));
}

// The configured message, wParam and lParam reach the first window of the class; a class without
// a window is skipped without a log line.
TEST_F(ShutdownTest, CloseMessagesAreSentAsConfigured) {
    struct Received {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    static std::vector<Received> received;
    received.clear();
    HANDLE ready = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD threadId = 0;
    std::thread windowThread([&] {
        threadId = ::GetCurrentThreadId();
        WNDCLASSW wc = {};
        wc.lpfnWndProc = +[](HWND w, UINT m, WPARAM wp, LPARAM lp) WINAPI -> LRESULT {
            if (m == WM_COMMAND || m == WM_CLOSE || m == WM_APP) {
                received.push_back({m, wp, lp});
                return 0;
            }
            return ::DefWindowProcW(w, m, wp, lp);
        };
        wc.lpszClassName = L"VoroTestCloseTarget";
        ::RegisterClassW(&wc);
        HWND window = ::CreateWindowExW(0, wc.lpszClassName, L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                        nullptr, nullptr);
        ::SetEvent(ready);
        MSG msg;
        while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
        ::DestroyWindow(window);
    });
    ::WaitForSingleObject(ready, 10000);
    enginetest::CapturedLog log;
    CloseListConfig config({Close(L"VoroTestCloseTarget", WM_COMMAND, 40011, 102),
                            Close(L"VoroTestNoSuchWindow", WM_CLOSE, 1, 2),
                            Close(L"VoroTestCloseTarget", WM_CLOSE, 0x168, 0x168)});
    KillProcessesInInstallPath(config, L"C:\\");
    ::PostThreadMessageW(threadId, WM_QUIT, 0, 0);
    windowThread.join();
    ::CloseHandle(ready);

    ASSERT_EQ(2u, received.size());
    EXPECT_EQ(static_cast<UINT>(WM_COMMAND), received[0].message);
    EXPECT_EQ(40011u, received[0].wParam);
    EXPECT_EQ(102, received[0].lParam);
    EXPECT_EQ(static_cast<UINT>(WM_CLOSE), received[1].message);
    EXPECT_EQ(0x168u, received[1].wParam);
    EXPECT_TRUE(log.Has("Send msg to VoroTestCloseTarget wnd"));
    EXPECT_FALSE(log.Has("VoroTestNoSuchWindow"));
}

TEST(ProcessImagePathTest, NamesThisProcessAndRefusesSmallBuffers) {
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    wchar_t path[1024];
    EXPECT_EQ(static_cast<int>(wcslen(self)), GetProcessImagePath(::GetCurrentProcessId(), path, 1024));
    EXPECT_EQ(0, _wcsicmp(self, path));
    EXPECT_EQ(0, GetProcessImagePath(::GetCurrentProcessId(), path, 99));
    enginetest::CapturedLog log;
    EXPECT_EQ(0, GetProcessImagePath(0xFFFFFFF0u, path, 1024));
    EXPECT_TRUE(log.Has("[kill] OpenProcess Failed: pid = "));
}

TEST(ProcessImagePathTest, FolderTestIsAPlainCaseBlindPrefix) {
    EXPECT_TRUE(voro::ImagePathInFolder(L"C:\\A\\B\\x.exe", L"c:\\a\\b"));
    EXPECT_TRUE(voro::ImagePathInFolder(L"C:\\A\\BC\\x.exe", L"C:\\A\\B"));
    EXPECT_FALSE(voro::ImagePathInFolder(L"C:\\A\\x.exe", L"C:\\A\\B"));
}

}  // namespace
