// The plug-in's uninstall: its command line from config.set, its launcher from App Paths of
// ConvKitModule.exe. Every case runs in a fresh prefix (it writes the machine's registry).
#include "app/Registry.h"
#include "engine/PluginTask.h"

#include "CallsTestSupport.h"

#include <gtest/gtest.h>

namespace {

using callstest::Call;
using enginetest::Narrow;

class PluginTaskTest : public testing::Test {
protected:
    std::wstring Settings() const { return m_install.File(L"config.set"); }
    void SetCommand(const wchar_t* command) {
        ASSERT_TRUE(::WritePrivateProfileStringW(kPluginSection, kPluginCommandKey, command, Settings().c_str()));
    }
    void RegisterLauncher(const std::wstring& path) {
        ASSERT_TRUE(voro::reg::WriteString(HKEY_LOCAL_MACHINE, kPluginLauncherKey, kPluginLauncherValue, path));
    }
    std::vector<std::string> Log() const { return callstest::LogLines(m_log.Text()); }

    testsupport::TempFolder m_install;
    testsupport::TempFolder m_plugin;
    std::wstring m_launcher = m_plugin.File(L"ConvKitModule.exe");
    callstest::CallsFile m_calls;
    enginetest::CapturedLog m_log;
};

// Without a command line nothing is read or started: no config.set, no section or key, an
// empty value, no install folder.
TEST_F(PluginTaskTest, NoCommandLineStartsNothing) {
    ASSERT_TRUE(callstest::Place(L"bin\\vorotool.exe", m_launcher));
    RegisterLauncher(m_launcher);
    CPluginTask task;
    EXPECT_EQ(task.StartTask(m_install.Path()), 0);  // no config.set
    ASSERT_TRUE(::WritePrivateProfileStringW(L"auto_run", L"open", L"1", Settings().c_str()));
    EXPECT_EQ(task.StartTask(m_install.Path()), 0);  // no section
    ASSERT_TRUE(::WritePrivateProfileStringW(kPluginSection, L"enable", L"1", Settings().c_str()));
    EXPECT_EQ(task.StartTask(m_install.Path()), 0);  // no key
    SetCommand(L"");
    EXPECT_EQ(task.StartTask(m_install.Path()), 0);  // empty
    EXPECT_EQ(task.StartTask(L""), 0);
    EXPECT_TRUE(task.GetLauncher().empty()) << "the launcher is read only for a command line";
    EXPECT_TRUE(m_calls.Calls().empty());
    const std::vector<std::string> expected(5, "CPluginTask::StartTask result=0 code=-1");
    EXPECT_EQ(Log(), expected);
}

// The launcher runs without a signature check, with the command line as its parameters; a
// missing registry value keeps the launcher read before, a missing launcher file starts nothing.
TEST_F(PluginTaskTest, UnsignedLauncherRunsWithTheCommandLine) {
    ASSERT_TRUE(callstest::Place(L"unsigned\\vorotool.exe", m_launcher));
    SetCommand(L"/uninstall --from=vorowp --exit=7");
    CPluginTask task;
    EXPECT_EQ(task.StartTask(m_install.Path()), 0) << "no launcher registered";
    RegisterLauncher(m_launcher);
    callstest::StartRecorder starts;
    EXPECT_EQ(task.StartTask(m_install.Path()), 1);
    ASSERT_TRUE(voro::reg::DeleteValue(HKEY_LOCAL_MACHINE, kPluginLauncherKey, kPluginLauncherValue));
    EXPECT_EQ(task.StartTask(m_install.Path()), 1) << "the value is gone: the launcher read before runs";
    EXPECT_EQ(task.GetLauncher(), m_launcher);
    EXPECT_EQ(task.GetUninstallCommand(), L"/uninstall --from=vorowp --exit=7");
    RegisterLauncher(m_plugin.File(L"missing.exe"));
    EXPECT_EQ(task.StartTask(m_install.Path()), 0);

    const std::vector<std::string> calls(2, Call(m_launcher, L"/uninstall --from=vorowp --exit=7"));
    EXPECT_EQ(m_calls.Calls(), calls);
    const std::vector<std::string> log = {
        "CPluginTask::StartTask result=0 code=-1", "CPluginTask::StartTask result=1 code=7",
        "CPluginTask::StartTask result=1 code=7", "CPluginTask::StartTask result=0 code=-1"};
    EXPECT_EQ(Log(), log);
    ASSERT_EQ(starts.Starts().size(), 2u);
    EXPECT_TRUE(starts.Starts()[0].wait);
    EXPECT_EQ(starts.Starts()[0].waitMs, 3000u);
}

// The one test that waits real seconds: a launcher still running after 3 s is logged with
// STILL_ACTIVE and left running.
TEST_F(PluginTaskTest, LauncherRunningLongerThanThreeSecondsLogsStillActive) {
    ASSERT_TRUE(callstest::Place(L"bin\\vorotool.exe", m_launcher));
    RegisterLauncher(m_launcher);
    SetCommand(L"/uninstall --sleep=4500");
    CPluginTask task;
    const DWORD start = ::GetTickCount();
    EXPECT_EQ(task.StartTask(m_install.Path()), 1);
    EXPECT_GE(::GetTickCount() - start, 2900u);
    EXPECT_EQ(Log(), std::vector<std::string>{"CPluginTask::StartTask result=1 code=259"});
    EXPECT_EQ(m_calls.Calls(), std::vector<std::string>{Call(m_launcher, L"/uninstall --sleep=4500")});
}

// The completion handler runs the launcher, signature checked, only on a successful task.
TEST_F(PluginTaskTest, CompletionHandlerRunsTheSignedLauncherOnSuccess) {
    ASSERT_TRUE(callstest::Place(L"bin\\vorotool.exe", m_launcher));
    const std::wstring unsignedLauncher = m_plugin.File(L"unsigned.exe");
    ASSERT_TRUE(callstest::Place(L"unsigned\\vorotool.exe", unsignedLauncher));
    RegisterLauncher(m_launcher);
    SetCommand(L"--exit=3");
    CPluginTask task;
    ASSERT_EQ(task.StartTask(m_install.Path()), 1);
    IHttpTaskCallback& callback = task;
    for (int32_t state : {kHttpTaskStarted, kHttpTaskReceiving, kHttpTaskFailed}) {
        HttpTaskStatus status = {sizeof(HttpTaskStatus), state, 0, 0, nullptr, 0};
        callback.OnTaskEvent(nullptr, &status);
    }
    callback.OnTaskEvent(nullptr, nullptr);
    HttpTaskStatus done = {sizeof(HttpTaskStatus), kHttpTaskSucceeded, 200, 0, nullptr, 0};
    callback.OnTaskEvent(nullptr, &done);
    RegisterLauncher(unsignedLauncher);
    ASSERT_EQ(task.StartTask(m_install.Path()), 1);
    callback.OnTaskEvent(nullptr, &done);

    const std::vector<std::string> calls = {Call(m_launcher, L"--exit=3"), Call(m_launcher, L"--exit=3"),
                                            Call(unsignedLauncher, L"--exit=3")};
    EXPECT_EQ(m_calls.Calls(), calls);
    const std::vector<std::string> log = {
        "CPluginTask::StartTask result=1 code=3", "CPluginTask::RunPlugin result=1 code=3",
        "CPluginTask::StartTask result=1 code=3", "CPluginTask::RunPlugin result=0 code=-1"};
    EXPECT_EQ(Log(), log);
}

}  // namespace
