// Entry point of Uninstall.exe: the start-up every run takes, then the launcher, working or keep
// mode (app/RunModes), then the shutdown. The exit code is 0 on every path.
#include "app/AppModule.h"
#include "app/CommandParser.h"
#include "app/InstanceMutex.h"
#include "app/RunModes.h"
#include "app/SmartLogger.h"
#include "app/StartUp.h"
#include "engine/UninstallTask.h"
#include "windows/MessageBox.h"
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <objidl.h>
#include <gdiplus.h>
#include <clocale>
#include <string>

#ifdef VORO_TEST_HOSTS
#include "report/ServerHosts.h"
#include <vector>
#endif

namespace {

#ifdef VORO_TEST_HOSTS
// Test builds only: the servers come from VORO_SERVER_HOSTS (see ParseServerHostsOverride).
// Without it every host is a closed loopback port, so a test build never reaches the product's
// servers.
constexpr wchar_t kTestHostsVariable[] = L"VORO_SERVER_HOSTS";
constexpr wchar_t kClosedLoopbackHost[] = L"127.0.0.1:9";

void ApplyTestServerHosts() {
    std::vector<wchar_t> text(4096);
    const DWORD n = ::GetEnvironmentVariableW(kTestHostsVariable, text.data(), static_cast<DWORD>(text.size()));
    ServerHosts hosts = DefaultServerHosts();
    const bool overridden =
        n > 0 && n < text.size() && ParseServerHostsOverride(std::wstring(text.data(), n), hosts);
    if (!overridden) ParseServerHostsOverride(kClosedLoopbackHost, hosts);
    SetServerHosts(hosts);
}
#endif

void Shutdown(ULONG_PTR gdiplusToken) {
    CInstanceMutex::Global().ReleaseAll();
    ReleaseUiResources();
    CAppModule::Global().Term();
    ::CoUninitialize();
    if (gdiplusToken) Gdiplus::GdiplusShutdown(gdiplusToken);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int) {
#ifdef VORO_TEST_HOSTS
    ApplyTestServerHosts();
#endif
    // 1. Failures of COM and the common controls are not fatal. The log converts text through
    // the locale (code page 936).
    ::CoInitialize(nullptr);
    ::DefWindowProcW(nullptr, 0, 0, 0);
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&icc);
    setlocale(LC_ALL, "chs");
    // 2-4. Module, log, command line.
    CAppModule::Global().Init(instance);
    CSmartLogger::Global().SetLogFile(LogFilePath());
    CCommandParser* parser = CCommandParser::Instance();
    parser->Init(commandLine ? commandLine : L"");
    WriteLog(L"command line: %s", parser->CommandLine().c_str());

    // 5. A refused caller ends at once, without any teardown.
    CSystemCallerEnvironment callerEnvironment;
    if (!CheckCaller(*parser, callerEnvironment)) {
        WriteLog(L"illegal call");
        return 0;
    }

    // 6-7. GDI+ (a failed start is ignored), the toolkit's resources, the quiet message box.
    ULONG_PTR gdiplusToken = 0;
    Gdiplus::GdiplusStartupInput gdiplusInput;
    if (Gdiplus::GdiplusStartup(&gdiplusToken, &gdiplusInput, nullptr) != Gdiplus::Ok) gdiplusToken = 0;
    InitializeUiResources();
    CMessageBox::SetQuiet(parser->IsSilent());

    // 8-9. One instance at a time, then the mode.
    if (!CInstanceMutex::Global().CheckSingleInstance()) {
        WriteLog(L"CheckSingleInstance failed, exit");
        CMessageBox::ShowMessage(nullptr, kAlreadyRunningMessage, kMessageOk);
    } else if (!parser->HasKey(kSwitchReadyUninstall)) {
        RunLauncherMode(*parser);
    } else {
        IUninstallTask* task = GetUninstallTask();
        const bool silent = parser->IsSilent();
        WorkingModeContext context;
        context.instance = instance;
        context.parser = parser;
        context.task = task;
        context.ownFolder = voro::startup::ExecutableFolder();
        context.tempDirectory = voro::startup::TempDirectory();
        context.wait = [](DWORD ms) { ::Sleep(ms); };
        context.runMainWindow = [task, silent] { RunMainWindow(task, silent); };
        RunWorkingMode(context);
    }
    Shutdown(gdiplusToken);
    return 0;
}
