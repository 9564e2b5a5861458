// Entry point of Uninstall.exe.
#include "app/AppModule.h"
#include "app/CommandParser.h"
#include "app/SmartLogger.h"
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <clocale>
#include <string>

namespace {

// temp directory + log file name; empty when the temp directory cannot be read.
std::wstring LogFilePath() {
    wchar_t temp[MAX_PATH];
    DWORD n = ::GetTempPathW(MAX_PATH, temp);
    if (n == 0 || n >= MAX_PATH) return {};
    return std::wstring(temp) + kLogFileName;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int) {
    // Failures of COM and common-controls initialisation are not fatal.
    ::CoInitialize(nullptr);
    ::DefWindowProcW(nullptr, 0, 0, 0);
    INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&icc);
    // The log file converts text through this locale (code page 936).
    setlocale(LC_ALL, "chs");

    CAppModule::Global().Init(instance);
    CSmartLogger::Global().SetLogFile(LogFilePath());
    CCommandParser::Instance()->Init(commandLine ? commandLine : L"");

    CAppModule::Global().Term();
    ::CoUninitialize();
    return 0;
}
