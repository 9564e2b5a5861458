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
