#include "app/SmartLogger.h"
#include "engine/ProgramCalls.h"
#include "TestSupport.h"
#include <gtest/gtest.h>

using testsupport::TempFolder;

namespace {

TEST(ProgramCallRules, WaitsAndGameCenterParameters) {
    EXPECT_EQ(ConfiguredWait(0), 50000u);
    EXPECT_EQ(ConfiguredWait(50001), 50000u);
    EXPECT_EQ(ConfiguredWait(0xFFFFFFFFu), 50000u);
    EXPECT_EQ(ConfiguredWait(50000), 50000u);
    EXPECT_EQ(ConfiguredWait(5000), 5000u);
    EXPECT_EQ(GameCenterParameters(true), L"/S /PID=tesk /UNINSTALL");
    EXPECT_EQ(GameCenterParameters(false), L"/S /PID=tesk /NOUNINSTALL");
}

TEST_CHILD_ROLE(ExitWith) { return _wtoi(argument.c_str()); }
TEST_CHILD_ROLE(Linger) {
    ::Sleep(static_cast<DWORD>(_wtoi(argument.c_str())));
    return 0;
}

std::wstring Self() {
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    return self;
}

TEST(RunProgram, ReportsExitCodeStillActiveAndRefusals) {
    DWORD code = 0;
    ASSERT_TRUE(RunProgram(Self().c_str(), L"--child ExitWith 7", SW_HIDE, false, true, &code, 30000));
    EXPECT_EQ(code, 7u);
    // The wait runs out: the program goes on, the code says it is still running.
    ASSERT_TRUE(RunProgram(Self().c_str(), L"--child Linger 3000", SW_HIDE, false, true, &code, 200));
    EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
    // The test program carries no signature: with the check nothing starts.
    code = 1234;
    EXPECT_FALSE(RunProgram(Self().c_str(), L"--child ExitWith 3", SW_HIDE, true, true, &code, 30000));
    EXPECT_EQ(code, 1234u);
    EXPECT_FALSE(RunProgram(L"C:\\no\\such\\program.exe", L"", SW_HIDE, false, true, &code));
    EXPECT_FALSE(RunProgram(nullptr, L"", SW_HIDE, false, false));
    EXPECT_FALSE(RunProgram(L"", L"", SW_HIDE, false, false));
    std::wstring tooLong = L"C:\\" + std::wstring(300, L'a') + L".exe";
    EXPECT_FALSE(RunProgram(tooLong.c_str(), L"", SW_HIDE, false, false));
}

TEST(CallDll, RefusesUnsignedFilesWithTheirLogLines) {
    TempFolder folder;
    CSmartLogger::Global().SetLogFile(folder.File(L"log.txt"));
    std::wstring self = Self();
    CallDllExport(self.c_str(), "Uninst", L"", true);
    EXPECT_EQ(CallDllInterfaceEx(self.c_str(), "Uninst", L"x", true), L"");
    std::string log = testsupport::ReadBytes(folder.File(L"log.txt"));
    std::string selfA(self.begin(), self.end());
    EXPECT_NE(log.find("file[" + selfA + "] check sign fail.\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Call Dll Interface Ex ,path=[" + selfA + "]\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("file[" + selfA + "] check sign fail\r\n"), std::string::npos) << log;
}

}  // namespace

// ---- Calls into the fixture product placed in a test folder: configured calls, rundll items,
// DllInterfaceEx exports and the fixed helpers. Only the test's own folders are touched.

#include "config/SetupConfig.h"
#include "app/InstallFacts.h"
#include "CallsTestSupport.h"
#include "SetupTestSupport.h"

namespace {

using callstest::Call;
using callstest::CallsFile;
using callstest::Place;
using callstest::StartRecorder;
using enginetest::Narrow;

constexpr wchar_t kForeignSigner[] = L"Example Foreign Software Ltd.";

// A test folder with an install folder in it, the calls file and the captured log.
class CallsTest : public testing::Test {
protected:
    std::wstring In(const std::wstring& relative) const { return m_install + L"\\" + relative; }
    void Put(const std::wstring& fixtureFile, const std::wstring& relative) {
        ASSERT_TRUE(Place(fixtureFile, In(relative))) << Narrow(relative);
    }
    // Loads a project with the given sections; the root folder list lies beside it.
    void LoadProject(const std::wstring& sections) {
        setuptest::WriteUtf16Xml(m_root.File(L"UninstallRootDirFileList.xml"),
                                 L"<RootDirFiles><Dir><Item Name=\"Utils\"/></Dir></RootDirFiles>");
        setuptest::WriteUtf16Xml(m_root.File(L"test.tvnprj"),
                                 L"<Setup><Main Version=\"2.0\"/>"
                                 L"<UninstallRootDirFileList File=\"UninstallRootDirFileList.xml\"/>" +
                                     sections + L"</Setup>");
        ASSERT_TRUE(m_config.Load(m_root.File(L"test.tvnprj")));
    }
    std::vector<std::string> Log() const { return callstest::LogLines(m_log.Text()); }

    setuptest::ComScope m_com;
    testsupport::TempFolder m_root;
    std::wstring m_install = m_root.File(L"VoroWallPaper");
    CallsFile m_calls;
    enginetest::CapturedLog m_log;
    CSetupConfig m_config;
};

std::string ExeBegin(const std::wstring& path, const std::wstring& cmd) {
    return "call exe begin, path=[" + Narrow(path) + "] cmd=[" + Narrow(cmd) + "]";
}
std::string ExeReturn(int result, const std::wstring& path, const std::wstring& cmd, int sync) {
    return "call exe return [" + std::to_string(result) + "], path=[" + Narrow(path) + "], cmd=[" + Narrow(cmd) +
           "], sync[" + std::to_string(sync) + "]";
}
std::vector<std::string> DllCallLines(const std::wstring& path) {
    return {"call dll func start, path=[" + Narrow(path) + "]", "call dll fun end, path=[" + Narrow(path) + "]"};
}
void Append(std::vector<std::string>& lines, const std::vector<std::string>& more) {
    lines.insert(lines.end(), more.begin(), more.end());
}

// Every configured call reaches its target with its exact argument, in project order, and only
// behind the signer rule of its record; waits follow the 0-and-above-50000 rule.
TEST_F(CallsTest, ConfiguredCallsRunInOrderBehindTheSignerRule) {
    Put(L"bin\\voroplug.dll", L"VoroWpExt.dll");
    Put(L"bin\\vorotool.exe", L"Utils\\vorosvc.exe");
    Put(L"bin\\vorotool.exe", L"vorowidget.exe");
    Put(L"unsigned\\voroplug.dll", L"unsigned.dll");
    Put(L"foreign\\vorotool.exe", L"foreign.exe");
    Put(L"foreign\\vorotool.exe", L"foreign_named.exe");
    Put(L"bin\\voroplug.dll", L"named_other.dll");
    Put(L"bin\\voroplug.dll", L"Utils\\VoroBrowserExt.dll");
    Put(L"bin\\vorotool.exe", L"odd.exe");
    Put(L"bin\\vorotool.exe", L"Upper.exe");
    Put(L"bin\\vorotool.exe", L"nosync.exe");
    LoadProject(std::wstring(L"<CallProgramOnUninst>"
                L"<Program FileName=\"VoroWpExt.dll\" Type=\"dll\" FuncName=\"UnInstall\" Para=\"\" Cmdline=\"\"/>"
                L"<Program FileName=\"Utils\\vorosvc.exe\" Type=\"exe\" Cmdline=\"/uninstall /from=tesk\" WaitTime=\"5000\"/>"
                L"<Program FileName=\"vorowidget.exe\" Type=\"exe\" Cmdline=\"--uninst\"/>"
                L"<Program FileName=\"missing.exe\" Type=\"exe\" Cmdline=\"x\"/>"
                L"<Program FileName=\"unsigned.dll\" Type=\"dll\" FuncName=\"Uninst\"/>"
                L"<Program FileName=\"foreign.exe\" Type=\"exe\" Cmdline=\"refused\"/>"
                L"<Program FileName=\"foreign_named.exe\" Type=\"exe\" Cmdline=\"named\" SignType=\"") +
                kForeignSigner + L"\" WaitTime=\"60000\"/>"
                L"<Program FileName=\"named_other.dll\" Type=\"dll\" FuncName=\"Uninst\" SignType=\"Someone Else\"/>"
                L"<Program FileName=\"Utils\\VoroBrowserExt.dll\" Type=\"dll\" FuncName=\"UnregisterExt\" Para=\"tesk\"/>"
                L"<Program FileName=\"odd.exe\" Type=\"bat\" Cmdline=\"ignored\"/>"
                L"<Program FileName=\"Upper.exe\" Type=\"EXE\" Cmdline=\"upper\" WaitTime=\"50000\"/>"
                L"<Program FileName=\"nosync.exe\" Type=\"exe\" Cmdline=\"later\" WaitTime=\"7000\" Sync=\"0\"/>"
                L"</CallProgramOnUninst>");
    StartRecorder starts;

    EXPECT_FALSE(m_config.RunCallProgramList(nullptr));
    ASSERT_TRUE(m_config.RunCallProgramList(m_install.c_str()));
    ASSERT_TRUE(m_calls.WaitForCount(7));  // the last one is not waited for

    const std::vector<std::string> expectedCalls = {
        Call(In(L"VoroWpExt.dll"), L"UnInstall()"),
        Call(In(L"Utils\\vorosvc.exe"), L"/uninstall /from=tesk"),
        Call(In(L"vorowidget.exe"), L"--uninst"),
        Call(In(L"foreign_named.exe"), L"named"),
        Call(In(L"Utils\\VoroBrowserExt.dll"), L"UnregisterExt(tesk)"),
        Call(In(L"Upper.exe"), L"upper"),
        Call(In(L"nosync.exe"), L"later"),
    };
    EXPECT_EQ(m_calls.Calls(), expectedCalls);

    std::vector<std::string> log = DllCallLines(In(L"VoroWpExt.dll"));
    for (const auto& [file, cmd] : {std::pair<const wchar_t*, const wchar_t*>{L"Utils\\vorosvc.exe", L"/uninstall /from=tesk"},
                                    {L"vorowidget.exe", L"--uninst"}})
        Append(log, {ExeBegin(In(file), cmd), ExeReturn(1, In(file), cmd, 1)});
    log.push_back("file[" + Narrow(In(L"missing.exe")) + "] is not exist");
    log.push_back("check sign fail, signType[], filepath[" + Narrow(In(L"unsigned.dll")) + "]");
    log.push_back("check sign fail, signType[], filepath[" + Narrow(In(L"foreign.exe")) + "]");
    Append(log, {ExeBegin(In(L"foreign_named.exe"), L"named"), ExeReturn(1, In(L"foreign_named.exe"), L"named", 1)});
    log.push_back("check sign fail, signType[Someone Else], filepath[" + Narrow(In(L"named_other.dll")) + "]");
    Append(log, DllCallLines(In(L"Utils\\VoroBrowserExt.dll")));
    Append(log, {ExeBegin(In(L"Upper.exe"), L"upper"), ExeReturn(1, In(L"Upper.exe"), L"upper", 1)});
    Append(log, {ExeBegin(In(L"nosync.exe"), L"later"), ExeReturn(1, In(L"nosync.exe"), L"later", 0)});
    EXPECT_EQ(callstest::Join(Log()), callstest::Join(log));

    // The configured executables are started without a signature check of their own (the record's
    // rule has passed) and with the computed wait.
    struct Wait {
        const wchar_t* file;
        bool wait;
        DWORD ms;
    };
    const Wait waits[] = {{L"Utils\\vorosvc.exe", true, 5000},
                          {L"vorowidget.exe", true, 50000},  // WaitTime absent (0)
                          {L"foreign_named.exe", true, 50000},  // 60000
                          {L"Upper.exe", true, 50000},
                          {L"nosync.exe", false, 7000}};
    ASSERT_EQ(starts.Starts().size(), std::size(waits));
    for (size_t i = 0; i < std::size(waits); ++i) {
        EXPECT_EQ(starts.Starts()[i].path, In(waits[i].file)) << i;
        EXPECT_EQ(starts.Starts()[i].wait, waits[i].wait) << i;
        EXPECT_EQ(starts.Starts()[i].waitMs, waits[i].ms) << i;
    }
}

const wchar_t* RundllHost() { return Is64BitWindows() ? L"Utils\\rundll64.exe" : L"Utils\\rundll.exe"; }

// The rundll items of this Windows, each through the host with --dll, --entry and the rest; a
// WaitTime of 0 starts the host without waiting for it.
TEST_F(CallsTest, RundllItemsGoThroughTheHost) {
    const std::wstring system = Is64BitWindows() ? L"64" : L"32";
    const std::wstring other = Is64BitWindows() ? L"32" : L"64";
    Put(L"bin\\rundll.exe", RundllHost());
    Put(L"bin\\voroplug.dll", L"Utils\\VoroShellExt.dll");
    Put(L"bin\\voroplug.dll", L"Utils\\NoWait.dll");
    LoadProject(L"<RundllUnRegisterOnUnInst>"
                L"<Item FileName=\"Utils\\VoroShellExt.dll\" Entry=\"RunDllEntry\" Cmdline=\"--verb=UnInstall\" System=\"" + system + L"\" WaitTime=\"5000\"/>"
                L"<Item FileName=\"Utils\\VoroShellExt.dll\" Entry=\"RunDllEntry\" Cmdline=\"other bitness\" System=\"" + other + L"\"/>"
                L"<Item FileName=\"Utils\\Gone.dll\" Entry=\"RunDllEntry\" System=\"" + system + L"\"/>"
                L"<Item FileName=\"Utils\\VoroShellExt.dll\" Entry=\"Uninst\" Cmdline=\"long wait\" System=\"" + system + L"\" WaitTime=\"-1\"/>"
                L"<Item FileName=\"Utils\\NoWait.dll\" Entry=\"RunDllEntry\" Cmdline=\"no wait\" System=\"" + system + L"\"/>"
                L"</RundllUnRegisterOnUnInst>");
    StartRecorder starts;

    ASSERT_TRUE(m_config.RunRundllList(m_install.c_str()));
    ASSERT_TRUE(m_calls.WaitForCount(6));

    const std::wstring host = In(RundllHost());
    const std::wstring ext = In(L"Utils\\VoroShellExt.dll"), noWait = In(L"Utils\\NoWait.dll");
    const std::wstring cmd1 = L"--dll=\"" + ext + L"\" --entry=RunDllEntry --verb=UnInstall";
    const std::wstring cmd2 = L"--dll=\"" + ext + L"\" --entry=Uninst long wait";
    const std::wstring cmd3 = L"--dll=\"" + noWait + L"\" --entry=RunDllEntry no wait";
    const std::vector<std::string> expectedCalls = {
        Call(host, cmd1), Call(ext, L"RunDllEntry(--verb=UnInstall)"),
        Call(host, cmd2), Call(ext, L"Uninst(long wait)"),
        Call(host, cmd3), Call(noWait, L"RunDllEntry(no wait)"),
    };
    EXPECT_EQ(m_calls.Calls(), expectedCalls);
    const std::vector<std::string> log = {
        ExeBegin(host, cmd1), ExeReturn(1, host, cmd1, 1),
        "file[" + Narrow(In(L"Utils\\Gone.dll")) + "] is not exist",
        ExeBegin(host, cmd2), ExeReturn(1, host, cmd2, 1),
        ExeBegin(host, cmd3), ExeReturn(1, host, cmd3, 1),
    };
    EXPECT_EQ(callstest::Join(Log()), callstest::Join(log));
    ASSERT_EQ(starts.Starts().size(), 3u);
    EXPECT_EQ(starts.Starts()[0].waitMs, 5000u);
    EXPECT_EQ(starts.Starts()[1].waitMs, 50000u) << "a negative WaitTime must not block for good";
    EXPECT_TRUE(starts.Starts()[2].wait);
    EXPECT_EQ(starts.Starts()[2].waitMs, 0u) << "WaitTime 0: the host is not waited for";
}

// Without an accepted host nothing runs and nothing is logged.
TEST_F(CallsTest, RundllItemsNeedAnAcceptedHost) {
    Put(L"bin\\voroplug.dll", L"Utils\\VoroShellExt.dll");
    const std::wstring system = Is64BitWindows() ? L"64" : L"32";
    LoadProject(L"<RundllUnRegisterOnUnInst><Item FileName=\"Utils\\VoroShellExt.dll\" Entry=\"RunDllEntry\" System=\"" +
                system + L"\"/></RundllUnRegisterOnUnInst>");
    EXPECT_FALSE(m_config.RunRundllList(m_install.c_str())) << "no host";
    Put(L"unsigned\\rundll.exe", RundllHost());
    EXPECT_FALSE(m_config.RunRundllList(m_install.c_str())) << "unsigned host";
    EXPECT_FALSE(m_config.RunRundllList(nullptr));
    EXPECT_TRUE(m_calls.Calls().empty());
    EXPECT_TRUE(Log().empty()) << callstest::Join(Log());
}

// An export answering 0 is called once; one answering 500 again with a 501-character buffer.
TEST_F(CallsTest, DllInterfaceExAnswersZeroAndFiveHundred) {
    Put(L"bin\\voroiface.dll", L"zero.dll");
    Put(L"bin\\voroiface500.dll", L"long.dll");
    Put(L"foreign\\voroiface.dll", L"foreign.dll");
    Put(L"bin\\voroplug.dll", L"plain.dll");

    EXPECT_EQ(CallDllInterfaceEx(In(L"zero.dll").c_str(), "Uninst", L"p0", true), L"done:p0");
    std::wstring expectedLong = L"long:p5";
    expectedLong.resize(500, L'.');
    EXPECT_EQ(CallDllInterfaceEx(In(L"long.dll").c_str(), "Uninst", L"p5", true), expectedLong);
    EXPECT_EQ(CallDllInterfaceEx(In(L"foreign.dll").c_str(), "Uninst", L"pf", true), L"");
    EXPECT_EQ(CallDllInterfaceEx(In(L"foreign.dll").c_str(), "Uninst", L"pu", false), L"done:pu");
    EXPECT_EQ(CallDllInterfaceEx(In(L"plain.dll").c_str(), "NoSuchExport", L"px", true), L"");
    EXPECT_EQ(CallDllInterfaceEx(nullptr, "Uninst", L"pn", true), L"");

    const std::vector<std::string> expectedCalls = {
        Call(In(L"zero.dll"), L"Uninst(p0) capacity=260"),
        Call(In(L"long.dll"), L"Uninst(p5) capacity=260"),
        Call(In(L"long.dll"), L"Uninst(p5) capacity=501"),
        Call(In(L"foreign.dll"), L"Uninst(pu) capacity=260"),
    };
    EXPECT_EQ(m_calls.Calls(), expectedCalls);
    std::vector<std::string> log;
    for (const wchar_t* file : {L"zero.dll", L"long.dll"}) {
        log.push_back("Call Dll Interface Ex ,path=[" + Narrow(In(file)) + "]");
        Append(log, DllCallLines(In(file)));
    }
    log.push_back("Call Dll Interface Ex ,path=[" + Narrow(In(L"foreign.dll")) + "]");
    log.push_back("file[" + Narrow(In(L"foreign.dll")) + "] check sign fail");
    log.push_back("Call Dll Interface Ex ,path=[" + Narrow(In(L"foreign.dll")) + "]");
    Append(log, DllCallLines(In(L"foreign.dll")));
    log.push_back("Call Dll Interface Ex ,path=[" + Narrow(In(L"plain.dll")) + "]");
    log.push_back("Call Dll Interface Ex ,path=[]");
    EXPECT_EQ(callstest::Join(Log()), callstest::Join(log));
}

// The game-center helper: its signed library's Start4RunDll, otherwise its signed executable
// (waited for 3000 ms); the executable's line is logged whether or not it ran.
TEST_F(CallsTest, GameCenterHelperLibraryOrExecutable) {
    struct Case {
        const wchar_t* library;     // fixture file, or null for none
        const wchar_t* executable;  // fixture file, or null for none
        bool uninstall;
        bool libraryCalled;
        bool executableRuns;
    };
    const Case cases[] = {
        {L"bin\\voroplug.dll", L"bin\\vorotool.exe", true, true, false},
        {L"unsigned\\voroplug.dll", L"bin\\vorotool.exe", false, false, true},
        {L"bin\\voroiface.dll", L"bin\\vorotool.exe", true, false, true},  // signed, no Start4RunDll
        {nullptr, L"unsigned\\vorotool.exe", false, false, false},
        {nullptr, nullptr, true, false, false},
    };
    int number = 0;
    for (const Case& c : cases) {
        const std::wstring folder = m_root.File(L"gc" + std::to_wstring(++number));
        const std::wstring library = folder + L"\\Utils\\tvngamecenter_tesk.dll";
        const std::wstring exe = folder + L"\\Utils\\tvngamecenter_tesk.exe";
        if (c.library) {
            ASSERT_TRUE(Place(c.library, library));
        }
        if (c.executable) {
            ASSERT_TRUE(Place(c.executable, exe));
        }
        const size_t callsBefore = m_calls.Calls().size();
        const size_t logBefore = Log().size();
        StartRecorder starts;

        RunGameCenterHelper(folder, c.uninstall);

        const std::wstring parameters = GameCenterParameters(c.uninstall);
        std::vector<std::string> calls = m_calls.Calls();
        calls.erase(calls.begin(), calls.begin() + static_cast<std::ptrdiff_t>(callsBefore));
        std::vector<std::string> expected;
        if (c.libraryCalled) expected.push_back(Call(library, L"Start4RunDll(" + parameters + L")"));
        if (c.executableRuns) expected.push_back(Call(exe, parameters));
        EXPECT_EQ(calls, expected) << number;
        std::vector<std::string> log = Log();
        log.erase(log.begin(), log.begin() + static_cast<std::ptrdiff_t>(logBefore));
        std::vector<std::string> expectedLog;
        if (!c.libraryCalled) expectedLog.push_back("Call exe:" + Narrow(exe) + ",param:" + Narrow(parameters));
        EXPECT_EQ(log, expectedLog) << number;
        if (c.executableRuns) {
            ASSERT_EQ(starts.Starts().size(), 1u) << number;
            EXPECT_EQ(starts.Starts()[0].waitMs, 3000u);
        }
    }
}

// The guard helper and the wallpaper helper library run only when signed.
TEST_F(CallsTest, GuardHelperAndHelperLibraryNeedTheirSignature) {
    const std::wstring guarded = m_root.File(L"signed"), bare = m_root.File(L"unsigned");
    const std::wstring guard = guarded + L"\\wallpaperhelper\\vovorir.exe";
    ASSERT_TRUE(Place(L"bin\\vorotool.exe", guard));
    ASSERT_TRUE(Place(L"bin\\voroplug.dll", guarded + L"\\wallpaperhelper\\Corvix12.dll"));
    ASSERT_TRUE(Place(L"unsigned\\vorotool.exe", bare + L"\\wallpaperhelper\\vovorir.exe"));
    ASSERT_TRUE(Place(L"unsigned\\voroplug.dll", bare + L"\\wallpaperhelper\\Corvix12.dll"));

    for (const std::wstring& folder : {guarded, bare}) {
        RunGuardHelper(folder);
        CallHelperLibraryUninst(folder);
    }

    const std::wstring corvix = guarded + L"\\wallpaperhelper\\Corvix12.dll";
    const std::vector<std::string> expectedCalls = {
        Call(guard, L"/UnInstallDesk /LockHomePagePath=\"" + guard + L"\" /Pid=tesk"),
        Call(corvix, L"Uninst()"),
    };
    EXPECT_EQ(m_calls.Calls(), expectedCalls);
    std::vector<std::string> log = DllCallLines(corvix);
    log.push_back("file[" + Narrow(bare) + "\\wallpaperhelper\\Corvix12.dll] check sign fail.");
    EXPECT_EQ(callstest::Join(Log()), callstest::Join(log));
}

}  // namespace
