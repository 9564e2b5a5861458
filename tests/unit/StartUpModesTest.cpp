// The working and keep modes of the temp copy with a scripted uninstall task: every failure path
// up to InitConfig (log line, message, "unist_init_fail" report, the pause), the main window run,
// the keep mode and the tail that removes the copy's own folder. Each case runs in a fresh prefix
// against the loopback server.
#include "EngineTestSupport.h"
#include "LoopbackServer.h"
#include "app/CommandParser.h"
#include "app/GuidName.h"
#include "app/InstanceMutex.h"
#include "app/RunModes.h"
#include "app/StartUp.h"
#include "engine/Autorun.h"
#include "report/HttpModule.h"
#include "report/ServerHosts.h"
#include "report/Statistic.h"
#include "windows/SilentFlow.h"
#include "windows/UninstallEndReport.h"
#include <gtest/gtest.h>
#include <clocale>
#include <thread>
#include <string>
#include <vector>

using namespace testsupport;
using voro::startup::JoinPath;
using voro::startup::TempDirectory;

namespace {

constexpr wchar_t kAppPathsKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vorowp.exe";
constexpr char kFailKey[] = "{720260B5-154E-483f-A485-0B46C3D6C50D}";

class FakeTask : public IUninstallTask {
public:
    int preInitCode = 0;
    bool initConfigOk = true;
    std::thread worker;  // plays the engine's worker thread for the silent flow
    std::vector<std::string> calls;
    std::wstring installDir, resourceType, projectFile;
    int resourceId = 0;

    int PreInitCheck() override { return calls.push_back("PreInitCheck"), preInitCode; }
    bool InitConfig(HINSTANCE, int id, const wchar_t* type, const wchar_t* project) override {
        calls.push_back("InitConfig");
        resourceId = id;
        resourceType = type ? type : L"";
        projectFile = project ? project : L"";
        return initConfigOk;
    }
    // Plays the engine: the three UI-thread notifications, then the real end from a worker.
    void StartUninstall(IUninstallCallback* callback) override {
        calls.push_back("StartUninstall");
        callback->OnUninstallStart();
        callback->OnUninstallProgress(50);
        callback->OnUninstallEnd();
        worker = std::thread([callback] { callback->OnRealInstallEnd(); });
    }
    void WriteLog(const wchar_t*) override {}
    bool IsGameCenterUnplayed() override { return false; }
    void SetUninstallGameCenter(bool) override {}
    bool CheckGameCenterVendor() override { return false; }
    void SetRemoveAppData(bool) override { calls.push_back("SetRemoveAppData"); }
    void SetInstallDir(const wchar_t* path) override {
        calls.push_back("SetInstallDir");
        installDir = path ? path : L"";
    }
    void GetInstallDir(wchar_t* buffer, int capacity) override {
        if (buffer && capacity > 0) buffer[0] = 0;
    }
    void DetachCallback() override { calls.push_back("DetachCallback"); }
    bool QueryFlag() override { return false; }
    void ReservedOp() override {}
};

// Waits for the dot with this action and returns it (an empty record when none came).
RecordedRequest WaitForDot(const LoopbackServer& server, const std::string& action) {
    const ULONGLONG start = ::GetTickCount64();
    do {
        for (const RecordedRequest& request : server.Requests())
            if (request.path == "/dot" && Arg(request, "action") == action) return request;
        ::Sleep(50);
    } while (::GetTickCount64() - start < 20000);
    return RecordedRequest();
}

class WorkingMode : public ::testing::Test {
protected:
    void SetUp() override {
        setlocale(LC_ALL, "chs");
        ASSERT_TRUE(server.Started());
        ServerHosts hosts = DefaultServerHosts();
        hosts.statistics = L"localhost:" + std::to_wstring(server.Port());
        hosts.webService = hosts.download = server.Host();
        SetServerHosts(hosts);
        ASSERT_TRUE(voro::reg::WriteString(HKEY_LOCAL_MACHINE, kAppPathsKey, L"path", install.Path()));
        GUID guid;
        ASSERT_TRUE(SUCCEEDED(::CoCreateGuid(&guid)));
        ownFolder = JoinPath(TempDirectory(), voro::startup::TempCopyFolderName(guid));
        ASSERT_TRUE(::CreateDirectoryW(ownFolder.c_str(), nullptr));
        ASSERT_TRUE(enginetest::WriteSmallFile(JoinPath(ownFolder, L"Veruveza.dll")));
    }

    void Run(const std::wstring& commandLine) {
        parser.Init(commandLine);
        WorkingModeContext context;
        context.instance = ::GetModuleHandleW(nullptr);
        context.parser = &parser;
        context.task = &task;
        context.ownFolder = ownFolder;
        context.tempDirectory = TempDirectory();
        context.wait = [this](DWORD ms) { waits.push_back(ms); };
        context.runMainWindow = [this] {
            ++mainWindowRuns;
            wchar_t current[MAX_PATH] = {};
            ::GetCurrentDirectoryW(MAX_PATH, current);
            currentAtMainWindow = current;
        };
        RunWorkingMode(context);
    }

    LoopbackServer server;
    enginetest::CapturedLog log;
    TempFolder install;
    std::wstring ownFolder;
    CCommandParser parser;
    FakeTask task;
    std::vector<DWORD> waits;
    int mainWindowRuns = 0;
    std::wstring currentAtMainWindow;
};

TEST_F(WorkingMode, WithoutARecordedInstallFolderOnlyTheDamagedMessageIsShown) {
    ASSERT_TRUE(voro::reg::DeleteValue(HKEY_LOCAL_MACHINE, kAppPathsKey, L"path"));
    Run(L"/READYUNINSTALL");
    EXPECT_TRUE(log.Has("message box (type 0, answer 1): " + Gbk(kDamagedMessage))) << log.Text();
    EXPECT_TRUE(task.calls.empty());
    EXPECT_TRUE(waits.empty());
    EXPECT_EQ(mainWindowRuns, 0);
    EXPECT_TRUE(enginetest::Exists(ownFolder)) << "no tail on this path";
}

TEST_F(WorkingMode, ARecordedFolderThatIsGoneCountsAsMissing) {
    ASSERT_TRUE(voro::reg::WriteString(HKEY_LOCAL_MACHINE, kAppPathsKey, L"path", install.File(L"gone")));
    Run(L"/READYUNINSTALL /K");
    EXPECT_TRUE(log.Has(Gbk(kDamagedMessage))) << log.Text();
    EXPECT_TRUE(task.calls.empty());
    EXPECT_TRUE(enginetest::Exists(ownFolder));
}

TEST_F(WorkingMode, PreInitCheckFailuresReportAndPauseWithoutTheTail) {
    struct Case {
        int code;
        std::wstring message;
    } cases[] = {{2, kDamagedMessage}, {3, kArchiveDamagedMessage}, {9, L""}};
    for (const Case& c : cases) {
        task.calls.clear();
        task.preInitCode = c.code;
        waits.clear();
        Run(L"/READYUNINSTALL");
        const std::string code = std::to_string(c.code);
        EXPECT_TRUE(log.Has("pre init check failed, ret = " + code + "\r\n")) << log.Text();
        EXPECT_TRUE(log.Has("message box (type 0, answer 1): " + Gbk(c.message) + "\r\n")) << c.code;
        EXPECT_EQ(task.calls, (std::vector<std::string>{"SetInstallDir", "PreInitCheck"})) << c.code;
        EXPECT_EQ(task.installDir, install.Path());
        EXPECT_EQ(waits, std::vector<DWORD>{3000}) << c.code;
        EXPECT_EQ(mainWindowRuns, 0);
        EXPECT_TRUE(enginetest::Exists(ownFolder)) << "the temp folder stays";

        bool reported = false;
        const ULONGLONG start = ::GetTickCount64();
        while (!reported && ::GetTickCount64() - start < 20000) {
            for (const RecordedRequest& request : server.Requests())
                if (Arg(request, "action") == "unist_init_fail" && Arg(request, kFailKey) == "PreInitCheck:" + code)
                    reported = true;
            if (!reported) ::Sleep(50);
        }
        EXPECT_TRUE(reported) << "unist_init_fail for " << c.code;
    }
    const RecordedRequest first = WaitForDot(server, "uninstall_1");
    EXPECT_EQ(Arg(first, "type"), "tesk");
}

TEST_F(WorkingMode, InitConfigFailureOffersTheReinstallAndReports) {
    task.initConfigOk = false;
    Run(L"/READYUNINSTALL");
    EXPECT_TRUE(log.Has("init config failed, exit\r\n")) << log.Text();
    EXPECT_TRUE(log.Has("message box (type 4, answer 7): " + Gbk(kDamagedMessage))) << log.Text();
    EXPECT_EQ(task.calls, (std::vector<std::string>{"SetInstallDir", "PreInitCheck", "InitConfig"}));
    EXPECT_EQ(task.resourceId, 209);
    EXPECT_EQ(task.resourceType, L"SETUPCONFIG");
    EXPECT_EQ(task.projectFile, L"tesk.tvnprj");
    EXPECT_EQ(waits, std::vector<DWORD>{3000});
    EXPECT_EQ(mainWindowRuns, 0);
    EXPECT_TRUE(enginetest::Exists(ownFolder));
    EXPECT_EQ(Arg(WaitForDot(server, "unist_init_fail"), kFailKey), "InitConfigFaile");
}

TEST_F(WorkingMode, ReadyCopyRunsTheMainWindowFromItsFolderThenRemovesIt) {
    Run(L"/READYUNINSTALL");
    EXPECT_EQ(task.calls, (std::vector<std::string>{"SetInstallDir", "PreInitCheck", "InitConfig"}));
    EXPECT_EQ(mainWindowRuns, 1);
    EXPECT_EQ(_wcsicmp(currentAtMainWindow.c_str(), ownFolder.c_str()), 0) << Narrow(currentAtMainWindow);
    EXPECT_TRUE(waits.empty());
    EXPECT_FALSE(enginetest::Exists(JoinPath(ownFolder, L"Veruveza.dll")));
    EXPECT_TRUE(!enginetest::Exists(ownFolder) || enginetest::IsPendingAtReboot(ownFolder)) << log.Text();
    EXPECT_EQ(Arg(WaitForDot(server, "uninstall_1"), "action"), "uninstall_1");
}

TEST_F(WorkingMode, KeepModeRestoresWithoutModuleOrReportAndRemovesItsFolder) {
    ASSERT_TRUE(enginetest::WriteSmallFile(JoinPath(ownFolder, L"QuonNetUL.dll"), "not a module"));
    Run(L"/READYUNINSTALL /K");
    EXPECT_EQ(task.calls, std::vector<std::string>{"SetInstallDir"});
    EXPECT_EQ(mainWindowRuns, 0);
    EXPECT_TRUE(waits.empty());
    EXPECT_EQ(GetHttpModule().module, nullptr) << "no network module in keep mode";
    EXPECT_TRUE(CStatistic::Instance()->Identity().type.empty()) << "no statistics identity, so no dot";
    // The restore switched the autorun back on.
    wchar_t open[8] = {};
    ::GetPrivateProfileStringW(L"auto_run", L"open", L"", open, 8, install.File(L"config.set").c_str());
    EXPECT_STREQ(open, L"1");
    std::wstring run;
    EXPECT_TRUE(voro::reg::ReadString(HKEY_LOCAL_MACHINE, kRunKey, kAutorunName, run));
    EXPECT_NE(run.find(L"voropendant.exe"), std::wstring::npos) << Narrow(run);
    EXPECT_TRUE(!enginetest::Exists(ownFolder) || enginetest::IsPendingAtReboot(ownFolder));
}

TEST_F(WorkingMode, SilentFlowRunsTheEngineReportsTheEndAndQuits) {
    ASSERT_TRUE(voro::reg::WriteString(HKEY_LOCAL_MACHINE, kAppPathsKey, L"InstallDate", L"2020-01-31 23:59:59"));
    SetStatisticIdentity();
    ASSERT_EQ(CInstanceMutex::Global().CheckSingleInstance(), 1);
    {
        CSilentFlow flow(&task);
        EXPECT_EQ(flow.Run(), 0);
    }
    task.worker.join();
    // The questionnaire passes on without asking (and without SetRemoveAppData).
    EXPECT_EQ(task.calls, (std::vector<std::string>{"StartUninstall", "DetachCallback"}));
    const std::string text = log.Text();
    size_t at = 0;
    for (const char* line : {"OnUninstallStart callback...\r\n", "Progress: 50\r\n", "CMainWnd::OnClose\r\n",
                             "CMainWnd::OnClose finish\r\n"}) {
        const size_t found = text.find(line, at);
        EXPECT_NE(found, std::string::npos) << line << "\n" << text;
        if (found != std::string::npos) at = found;
    }
    EXPECT_NE(text.find("CInstallingModel::OnRealInstallEnd"), std::string::npos);
    EXPECT_EQ(CInstanceMutex().CheckSingleInstance(), 1) << "the close released the guard";

    std::wstring date;
    ASSERT_TRUE(voro::reg::ReadString(HKEY_CURRENT_USER, L"Software\\VoroWallPaperEver", L"unistdate", date));
    SYSTEMTIME now = {};
    ASSERT_TRUE(voro::endreport::ParseLocalTime(date, now));
    const RecordedRequest end = WaitForDot(server, "uninstall_2");
    EXPECT_EQ(Arg(end, "ex1"), std::to_string(voro::endreport::DaysSinceInstall(L"2020-01-31 23:59:59", now)));
    EXPECT_EQ(Arg(end, "ex2"), "2020-01-31 23:59:59");
    EXPECT_NE(end.query.find("&ex2=2020-01-31%2023:59:59"), std::string::npos) << end.query;
}

TEST(Tail, AFolderThatIsNoTempCopyIsKept) {
    enginetest::CapturedLog log;
    TempFolder folder;
    ASSERT_TRUE(enginetest::WriteSmallFile(folder.File(L"Uninstall.exe")));
    RunTail(folder.Path(), TempDirectory());
    EXPECT_TRUE(enginetest::Exists(folder.File(L"Uninstall.exe")));
    EXPECT_TRUE(log.Has("own folder kept, not a temp copy: ")) << log.Text();
    // A temp copy name outside the temp directory is not enough either.
    const std::wstring named = folder.File(L"{0123ABCD-89AB-cdef-0123-456789ABCDEF}.tmp");
    ASSERT_TRUE(::CreateDirectoryW(named.c_str(), nullptr));
    RunTail(named, TempDirectory());
    EXPECT_TRUE(enginetest::Exists(named));
}

TEST(Tail, WhatCannotBeDeletedGoesAtTheNextRebootWithItsFolder) {
    GUID guid;
    ASSERT_TRUE(SUCCEEDED(::CoCreateGuid(&guid)));
    const std::wstring folder = JoinPath(TempDirectory(), voro::startup::TempCopyFolderName(guid));
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring held = JoinPath(folder, L"Uninstall.exe");
    const std::wstring loose = JoinPath(folder, L"7z.dll");
    ASSERT_TRUE(enginetest::WriteSmallFile(held));
    ASSERT_TRUE(enginetest::WriteSmallFile(loose));
    voro::UniqueFile handle(::CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(handle);
    RunTail(folder, TempDirectory());
    EXPECT_FALSE(enginetest::Exists(loose));
    ASSERT_TRUE(enginetest::Exists(held)) << "the held file cannot go now";
    EXPECT_TRUE(enginetest::IsPendingAtReboot(held));
    EXPECT_TRUE(enginetest::IsPendingAtReboot(folder));
    // The folder follows its file.
    const std::vector<std::wstring> pending = enginetest::PendingRenameSources();
    size_t fileAt = pending.size(), folderAt = pending.size();
    for (size_t i = 0; i < pending.size(); ++i) {
        if (_wcsicmp(pending[i].c_str(), held.c_str()) == 0) fileAt = i;
        if (_wcsicmp(pending[i].c_str(), folder.c_str()) == 0) folderAt = i;
    }
    EXPECT_LT(fileAt, folderAt);
}

}  // namespace
