// The fixture product installed by voro_fixture_setup.exe into a fresh prefix; the uninstall's
// call, plug-in, autorun and service steps run in the engine's order against it, and the calls
// file and the log show exactly the expected sequence.
#include "app/InstallFacts.h"
#include "app/Registry.h"
#include "config/SetupConfig.h"
#include "engine/Autorun.h"
#include "engine/DriverServices.h"
#include "engine/PluginTask.h"
#include "engine/ProgramCalls.h"

#include "CallsTestSupport.h"
#include "SetupTestSupport.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#ifndef VORO_PACKAGE_FILES
#error "VORO_PACKAGE_FILES must name the folder of the UTF-16 package files (a Unix path)"
#endif

namespace {

namespace reg = voro::reg;
using testsupport::ServiceExists;
using callstest::Call;
using enginetest::Narrow;

constexpr wchar_t kAppPaths[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vorowp.exe";
constexpr const wchar_t* kServices[] = {L"CorvixLock", L"CorvixLockWp", L"VarorizaVuvorizIr", L"RodurevareruZE"};

int RunInstaller() {
    const std::wstring setup = fixture::Path(L"bin\\voro_fixture_setup.exe");
    std::wstring commandLine = L"\"" + setup + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(setup.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return -1;
    ::CloseHandle(pi.hThread);
    DWORD code = static_cast<DWORD>(-1);
    if (::WaitForSingleObject(pi.hProcess, 120000) == WAIT_OBJECT_0) ::GetExitCodeProcess(pi.hProcess, &code);
    ::CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}

std::wstring ProgramFiles32() {
    wchar_t path[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILESX86, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

class SequenceTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(RunInstaller(), 0);
        m_install = GetInstallFolder();
        ASSERT_FALSE(m_install.empty());
        ASSERT_TRUE(m_config.Load(fixture::WindowsPathOfUnix(VORO_PACKAGE_FILES) + L"\\tesk.tvnprj"));
    }
    std::wstring In(const std::wstring& relative) const { return m_install + L"\\" + relative; }

    setuptest::ComScope m_com;
    callstest::CallsFile m_calls;
    enginetest::CapturedLog m_log;
    CSetupConfig m_config;
    std::wstring m_install;
};

std::vector<std::string> DllLines(const std::wstring& path) {
    return {"call dll func start, path=[" + Narrow(path) + "]", "call dll fun end, path=[" + Narrow(path) + "]"};
}
std::vector<std::string> ExeLines(const std::wstring& path, const std::wstring& cmd, int result = 1,
                                  const char* separator = " ") {
    return {"call exe begin, path=[" + Narrow(path) + "]" + separator + "cmd=[" + Narrow(cmd) + "]",
            "call exe return [" + std::to_string(result) + "], path=[" + Narrow(path) + "], cmd=[" + Narrow(cmd) +
                "], sync[1]"};
}
std::vector<std::string> InterfaceLines(const std::wstring& path, const char* extension, const std::wstring& data) {
    return {std::string("file extension:") + extension, "Call Dll Interface Ex ,path=[" + Narrow(path) + "]",
            "call dll func start, path=[" + Narrow(path) + "]", "call dll fun end, path=[" + Narrow(path) + "]",
            "CallDllInterfaceEx return value=done:" + Narrow(data)};
}
void Append(std::vector<std::string>& lines, const std::vector<std::string>& more) {
    lines.insert(lines.end(), more.begin(), more.end());
}

TEST_F(SequenceTest, CallsAutorunServicesAndPluginInTheEngineOrder) {
    for (const wchar_t* name : kServices) ASSERT_TRUE(ServiceExists(name)) << Narrow(name);
    ASSERT_EQ(m_config.GetUninstallCallCount(), 9);

    // The engine's order: configured calls, rundll items, game-center helper, plug-in, run_list,
    // file_pe; later the helper library, autorun, guard helper and the driver services.
    ASSERT_TRUE(m_config.RunCallProgramList(m_install.c_str()));
    ASSERT_TRUE(m_config.RunRundllList(m_install.c_str()));
    RunGameCenterHelper(m_install, false);
    CPluginTask plugin;
    EXPECT_EQ(plugin.StartTask(m_install), 1);
    RunListPrograms(m_install);
    CallFilePePrograms(m_install);
    CallHelperLibraryUninst(m_install);
    RemoveAutoRun(m_install);
    RunGuardHelper(m_install);
    RemoveDriverServices();
    RemoveServiceQuietly(kLateDriverService);

    const std::wstring fromTesk = L"/uninstall /from=tesk";
    const std::wstring host = In(Is64BitWindows() ? L"Utils\\rundll64.exe" : L"Utils\\rundll.exe");
    const std::wstring shellExt = In(Is64BitWindows() ? L"Utils\\VoroShellExt64.dll" : L"Utils\\VoroShellExt.dll");
    const std::wstring rundllCmd = L"--dll=\"" + shellExt + L"\" --entry=RunDllEntry --verb=UnInstall";
    const std::wstring launcher = ProgramFiles32() + L"\\ConvKit\\ConvKitModule.exe";
    const std::wstring tail = L" --PRODUCT=" + GetFamilyProductCode(0) + L" --PID=" + GetFamilyPid(0);
    const std::wstring guard = In(L"wallpaperhelper\\vovorir.exe");
    const std::vector<std::string> expectedCalls = {
        Call(In(L"VoroWpExt.dll"), L"UnInstall()"),
        Call(In(L"Utils\\vorosvc.exe"), fromTesk),
        Call(In(L"Utils\\vorocrash.exe"), fromTesk),
        Call(In(L"wallpaperhelper\\vorohelper.exe"), fromTesk),
        Call(In(L"VezAre\\VezAre.exe"), fromTesk),
        Call(In(L"vorowidget.exe"), L"--uninst"),
        Call(In(L"VoroDesk.dll"), L"UnInstall()"),
        Call(In(L"Utils\\VoroBrowserExt.dll"), L"UnregisterExt(tesk)"),
        Call(In(L"wallpaperhelper\\VoroShellHook.dll"), L"Uninst()"),
        Call(host, rundllCmd),
        Call(shellExt, L"RunDllEntry(--verb=UnInstall)"),
        Call(In(L"Utils\\tvngamecenter_tesk.dll"), L"Start4RunDll(/S /PID=tesk /NOUNINSTALL)"),
        Call(launcher, L"/uninstall --from=vorowp"),
        // run_list, in the registry's order (Wine keeps value names sorted)
        Call(In(L"Utils\\voroiface.dll"), L"Uninst(from_run_list) capacity=260"),
        Call(In(L"Utils\\voroiface.tpi"), L"Uninst(from_run_list_tpi) capacity=260"),
        Call(In(L"Utils\\vororegtest.exe"), L"/Regtest" + tail),
        Call(In(L"Utils\\vorotool.exe"), L"/uninstall" + tail),
        // file_pe
        Call(In(L"Utils\\vorofpe.exe"), L"--fpe /uninstall /product=tesk"),
        Call(In(L"voroplug.dll"), L"Uninst(from_file_pe)"),
        Call(In(L"wallpaperhelper\\Corvix12.dll"), L"Uninst()"),
        Call(guard, L"/UnInstallDesk /LockHomePagePath=\"" + guard + L"\" /Pid=tesk"),
    };
    EXPECT_EQ(callstest::Join(m_calls.Calls()), callstest::Join(expectedCalls));

    std::vector<std::string> log = DllLines(In(L"VoroWpExt.dll"));
    for (const wchar_t* exe : {L"Utils\\vorosvc.exe", L"Utils\\vorocrash.exe", L"wallpaperhelper\\vorohelper.exe",
                               L"VezAre\\VezAre.exe"})
        Append(log, ExeLines(In(exe), fromTesk));
    Append(log, ExeLines(In(L"vorowidget.exe"), L"--uninst"));
    Append(log, DllLines(In(L"VoroDesk.dll")));
    Append(log, DllLines(In(L"Utils\\VoroBrowserExt.dll")));
    Append(log, DllLines(In(L"wallpaperhelper\\VoroShellHook.dll")));
    Append(log, ExeLines(host, rundllCmd));
    log.push_back("CPluginTask::StartTask result=1 code=0");
    log.push_back("refuse listed file outside install folder, list=[run_list] name=[..\\VoroOutside\\vorotool.exe]");
    Append(log, InterfaceLines(In(L"Utils\\voroiface.dll"), ".dll", L"from_run_list"));
    Append(log, InterfaceLines(In(L"Utils\\voroiface.tpi"), ".tpi", L"from_run_list_tpi"));
    log.push_back("Regtest, no need to check sign.");
    log.push_back("file extension:.exe");
    Append(log, ExeLines(In(L"Utils\\vororegtest.exe"), L"/Regtest" + tail, 1, " ,"));
    log.push_back("file extension:.scr");
    log.push_back("file extension:.exe");
    Append(log, ExeLines(In(L"Utils\\vorotool.exe"), L"/uninstall" + tail, 1, " ,"));
    log.push_back("file extension:.exe");
    Append(log, ExeLines(In(L"Utils\\vorounsigned.exe"), L"/uninstall" + tail, 0, " ,"));
    log.push_back("refuse listed file outside install folder, list=[file_pe] name=[..\\VoroOutside\\voroplug.dll]");
    Append(log, ExeLines(In(L"Utils\\vorofpe.exe"), L"--fpe /uninstall /product=tesk"));
    log.push_back("file[" + Narrow(In(L"Utils\\vorofpe_unsigned.dll")) + "] check sign fail.");
    Append(log, DllLines(In(L"voroplug.dll")));
    Append(log, DllLines(In(L"wallpaperhelper\\Corvix12.dll")));
    log.push_back("Delete AutoRun Registry, ret = 1");
    log.push_back("Delete AutoRun Task Schedule, ret = 1");
    for (const char* service : {"CorvixLock", "CorvixLockWp", "VarorizaVuvorizIr"})
        log.push_back(std::string("delete ") + service);
    EXPECT_EQ(callstest::Join(callstest::LogLines(m_log.Text())), callstest::Join(log));

    // What the steps removed, and what they left alone.
    for (const wchar_t* name : kServices) EXPECT_FALSE(ServiceExists(name)) << Narrow(name);
    std::wstring value;
    EXPECT_FALSE(reg::ReadString(HKEY_CURRENT_USER, kRunKey, kAutorunName, value));
    EXPECT_FALSE(reg::ReadString(HKEY_LOCAL_MACHINE, kRunKey, kAutorunName, value));
    EXPECT_FALSE(reg::ReadString(HKEY_LOCAL_MACHINE, kRunKey, kLegacyRunValue, value));
    EXPECT_FALSE(reg::ReadString(HKEY_LOCAL_MACHINE, kRunKey, kLegacyRunValue, value, reg::View::Wow64));
    wchar_t open[8] = {};
    ::GetPrivateProfileStringW(L"auto_run", L"open", L"", open, 8, In(L"config.set").c_str());
    EXPECT_STREQ(open, L"0");
    EXPECT_EQ(reg::EnumValues(HKEY_LOCAL_MACHINE, std::wstring(kAppPaths) + L"\\run_list").size(), 8u)
        << "the lists are only read";
    EXPECT_TRUE(enginetest::Exists(ProgramFiles32() + L"\\VoroOutside\\vorotool.exe"));
}

// A service someone still holds open is marked for deletion and goes when the last handle closes.
TEST_F(SequenceTest, HeldServiceIsMarkedForDeletion) {
    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    ASSERT_NE(manager, nullptr);
    SC_HANDLE held = ::OpenServiceW(manager, L"CorvixLock", SERVICE_QUERY_STATUS);
    ASSERT_NE(held, nullptr);
    DriverService service(L"CorvixLock");
    EXPECT_FALSE(service.Stop()) << "a driver that is not running does not stop";
    EXPECT_TRUE(service.Delete());
    ::CloseServiceHandle(held);
    ::CloseServiceHandle(manager);
    EXPECT_FALSE(ServiceExists(L"CorvixLock"));
}

}  // namespace
