// Black-box runs of the real Uninstall.exe of this build, installed with the fixture product into
// a fresh prefix and started by this (signed) program, as the product's own signed caller would
// start it. The servers are the loopback server, passed through VORO_SERVER_HOSTS.
#include "EngineTestSupport.h"
#include "FixturePaths.h"
#include "LoopbackServer.h"
#include "app/ComPtr.h"
#include "app/Handles.h"
#include "app/Registry.h"
#include "app/StartUp.h"
#include "engine/Autorun.h"
#include "report/StringCipher.h"
#include "report/TvnMID2.h"
#include <gtest/gtest.h>
#include <psapi.h>
#include <shlobj.h>
#include <algorithm>
#include <string>
#include <vector>

using namespace testsupport;
using voro::startup::JoinPath;
using voro::startup::TempDirectory;

namespace {

constexpr wchar_t kAppPathsKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vorowp.exe";
constexpr wchar_t kEntryKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\vorowp";
constexpr wchar_t kUserKey[] = L"Software\\VoroWallPaper";
constexpr DWORD kRunLimitMs = 150000;

std::vector<RecordedRequest> Dots(const LoopbackServer& server, const std::string& action) {
    std::vector<RecordedRequest> dots;
    for (const RecordedRequest& request : server.Requests())
        if (request.path == "/dot" && Arg(request, "action") == action) dots.push_back(request);
    return dots;
}

// Starts a program with a command line and waits for it; its exit code, or -1.
int RunAndWait(const std::wstring& program, const std::wstring& arguments, DWORD limitMs = kRunLimitMs) {
    std::wstring commandLine = L"\"" + program + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(0);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(program.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return -1;
    ::CloseHandle(pi.hThread);
    voro::UniqueKernelHandle process(pi.hProcess);
    if (::WaitForSingleObject(process.get(), limitMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.get(), 1);
        return -1;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process.get(), &code);
    return static_cast<int>(code);
}

// Exit codes of every Uninstall.exe still running from a temp copy folder, each waited for.
std::vector<int> WaitForTempCopies() {
    std::vector<int> codes;
    const std::wstring temp = TempDirectory();
    DWORD ids[1024];
    DWORD bytes = 0;
    if (!::EnumProcesses(ids, sizeof(ids), &bytes)) return codes;
    for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) {
        voro::UniqueKernelHandle process(
            ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, ids[i]));
        if (!process) continue;
        wchar_t path[MAX_PATH] = {};
        if (!::GetModuleFileNameExW(process.get(), nullptr, path, MAX_PATH)) continue;
        const std::wstring image = path;
        const size_t slash = image.find_last_of(L'\\');
        if (slash == std::wstring::npos || _wcsicmp(image.c_str() + slash + 1, L"Uninstall.exe") != 0) continue;
        if (!voro::startup::IsTempCopyFolder(image.substr(0, slash), temp)) continue;
        DWORD code = static_cast<DWORD>(-1);
        if (::WaitForSingleObject(process.get(), kRunLimitMs) == WAIT_OBJECT_0)
            ::GetExitCodeProcess(process.get(), &code);
        else
            ::TerminateProcess(process.get(), 1);
        codes.push_back(static_cast<int>(code));
    }
    return codes;
}

std::vector<std::wstring> TempCopyFolders() {
    std::vector<std::wstring> folders;
    const std::wstring temp = TempDirectory();
    WIN32_FIND_DATAW data;
    voro::UniqueFind find(::FindFirstFileW(JoinPath(temp, L"*.tmp").c_str(), &data));
    if (!find) return folders;
    do {
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && voro::startup::IsTempCopyFolderName(data.cFileName))
            folders.push_back(JoinPath(temp, data.cFileName));
    } while (::FindNextFileW(find.get(), &data));
    return folders;
}

std::vector<std::wstring> FilesBelow(const std::wstring& folder, const std::wstring& prefix = L"") {
    std::vector<std::wstring> files;
    WIN32_FIND_DATAW data;
    voro::UniqueFind find(::FindFirstFileW(JoinPath(folder, L"*").c_str(), &data));
    if (!find) return files;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            for (const std::wstring& inner : FilesBelow(JoinPath(folder, name), prefix + name + L"\\"))
                files.push_back(inner);
        } else {
            files.push_back(prefix + name);
        }
    } while (::FindNextFileW(find.get(), &data));
    std::sort(files.begin(), files.end());
    return files;
}

// Gone, or everything left in it (and the folder itself) deleted at the next reboot.
void ExpectRemovedOrScheduled(const std::wstring& folder) {
    if (!enginetest::Exists(folder)) return;
    for (const std::wstring& file : FilesBelow(folder))
        EXPECT_TRUE(enginetest::IsPendingAtReboot(JoinPath(folder, file))) << enginetest::Narrow(file) << " left";
    EXPECT_TRUE(enginetest::IsPendingAtReboot(folder)) << enginetest::Narrow(folder);
}

std::string CommandLineLogged(const std::string& log, const std::string& start) {
    const std::string marker = "command line: " + start;
    const size_t at = log.find(marker);
    if (at == std::string::npos) return std::string();
    const size_t end = log.find("\r\n", at);
    return log.substr(at + 14, end == std::string::npos ? std::string::npos : end - at - 14);
}

class StartUpBlackBox : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(com.ok());
        ASSERT_TRUE(server.Started());
        const std::wstring loopback = server.Host();
        const std::wstring hosts = L"statistics=localhost:" + std::to_wstring(server.Port()) + L";webService=" +
                                   loopback + L";download=" + loopback + L";accountCentre=" + loopback;
        ASSERT_TRUE(::SetEnvironmentVariableW(L"VORO_SERVER_HOSTS", hosts.c_str()));
        ASSERT_EQ(RunAndWait(fixture::Path(L"bin\\voro_fixture_setup.exe"), L""), 0);
        ASSERT_TRUE(voro::reg::ReadString(HKEY_LOCAL_MACHINE, kAppPathsKey, L"path", install));
        uninstaller = JoinPath(install, L"Uninstall.exe");
        ASSERT_TRUE(enginetest::Exists(uninstaller));
        ::DeleteFileW(LogPath().c_str());
        foldersBefore = TempCopyFolders();
    }

    static std::wstring LogPath() { return JoinPath(TempDirectory(), L"tesk_uninst.log"); }
    static std::string Log() { return ReadBytes(LogPath()); }

    // The launcher from the install folder, then every temp copy it started; all exit codes.
    std::vector<int> Launch(const std::wstring& arguments) {
        std::vector<int> codes{RunAndWait(uninstaller, arguments)};
        for (int code : WaitForTempCopies()) codes.push_back(code);
        return codes;
    }

    std::vector<std::wstring> NewTempCopyFolders() const {
        std::vector<std::wstring> created;
        for (const std::wstring& folder : TempCopyFolders())
            if (std::find(foldersBefore.begin(), foldersBefore.end(), folder) == foldersBefore.end())
                created.push_back(folder);
        return created;
    }

    static std::wstring CommonFolder(int csidl) {
        wchar_t path[MAX_PATH] = {};
        ::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
        return path;
    }

    voro::ScopedCoInit com;
    LoopbackServer server;
    std::wstring install, uninstaller;
    std::vector<std::wstring> foldersBefore;
};

// The one case that waits: the copy's failed check pauses 3 s so that its report can leave.
TEST_F(StartUpBlackBox, LauncherFillsAGuidFolderAndRelaunchesWithEverySwitchKept) {
    // A damaged archive library makes the copy stop before its tail, so its folder stays to look at.
    ASSERT_TRUE(enginetest::WriteSmallFile(JoinPath(install, L"Utils\\7z.dll"), "not a library"));
    ASSERT_TRUE(enginetest::WriteSmallFile(JoinPath(install, L"Utils\\TVNBasic.dll"), "basic"));
    const std::vector<int> codes = Launch(L"/lang=zh \"/note=two words\" /X");
    EXPECT_EQ(codes, (std::vector<int>{0, 0})) << "the launcher and its copy end with 0";

    const std::vector<std::wstring> created = NewTempCopyFolders();
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(FilesBelow(created[0]),
              (std::vector<std::wstring>{L"7z.dll", L"QuonNetUL.dll", L"Uninstall.exe", L"Utils\\TVNBasic.dll",
                                         L"Veruveza.dll"}));
    EXPECT_EQ(ReadBytes(JoinPath(created[0], L"Uninstall.exe")), ReadBytes(uninstaller));
    EXPECT_EQ(ReadBytes(JoinPath(created[0], L"Veruveza.dll")), ReadBytes(JoinPath(install, L"Veruveza.dll")));
    EXPECT_EQ(ReadBytes(JoinPath(created[0], L"QuonNetUL.dll")),
              ReadBytes(JoinPath(install, L"wallpaperhelper\\QuonNetUL.dll")));
    EXPECT_EQ(ReadBytes(JoinPath(created[0], L"7z.dll")), "not a library");

    const std::string log = Log();
    EXPECT_EQ(CommandLineLogged(log, "/lang=zh \"/note=two words\" /X  "),
              "/lang=zh \"/note=two words\" /X  /READYUNINSTALL")
        << log;
    EXPECT_NE(log.find("pre init check failed, ret = 3"), std::string::npos) << log;
    EXPECT_NE(log.find(Gbk(kArchiveDamagedMessage)), std::string::npos);

    const auto from = Dots(server, "uninstall_from");
    ASSERT_EQ(from.size(), 1u) << "sent before the relaunch went on";
    EXPECT_EQ(Arg(from[0], "ex1"), "startup_e2e_tests");
    EXPECT_EQ(Arg(from[0], "ex2"), enginetest::Narrow(voro::startup::WindowsVersionText()));
    EXPECT_EQ(Arg(from[0], "type"), "tesk");
    EXPECT_TRUE(server.WaitForRequests(3));
    const auto failed = Dots(server, "unist_init_fail");
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(Arg(failed[0], "{720260B5-154E-483f-A485-0B46C3D6C50D}"), "PreInitCheck:3");
    EXPECT_EQ(Dots(server, "uninstall_1").size(), 1u);
}

TEST_F(StartUpBlackBox, SilentRelaunchCarriesATokenTheKeepingCopyAccepts) {
    // Take away what the keep mode puts back.
    const std::wstring desktopLink = CommonFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\Voro壁纸.lnk";
    const std::wstring menu = CommonFolder(CSIDL_COMMON_PROGRAMS) + L"\\Voro壁纸";
    ASSERT_TRUE(::DeleteFileW(desktopLink.c_str()));
    ASSERT_TRUE(voro::reg::DeleteTree(HKEY_LOCAL_MACHINE, kEntryKey));
    voro::reg::DeleteValue(HKEY_LOCAL_MACHINE, kRunKey, kAutorunName);
    ::WritePrivateProfileStringW(L"auto_run", L"open", L"0", JoinPath(install, L"config.set").c_str());

    const std::vector<int> codes = Launch(L"/S /K");
    EXPECT_EQ(codes, (std::vector<int>{0, 0}));

    const std::string log = Log();
    EXPECT_EQ(log.find("illegal call"), std::string::npos) << log;
    const std::string copyLine = CommandLineLogged(log, "/S /K  /READYUNINSTALL  /CHK=");
    ASSERT_FALSE(copyLine.empty()) << log;
    const std::wstring token = Widen(copyLine.substr(copyLine.find("/CHK=") + 5));
    EXPECT_EQ(DecryptText(token, GetMid()), L"quietly");

    EXPECT_TRUE(enginetest::Exists(desktopLink));
    EXPECT_TRUE(enginetest::Exists(menu + L"\\Voro壁纸.lnk"));
    EXPECT_TRUE(enginetest::Exists(menu + L"\\卸载Voro壁纸.lnk"));
    std::wstring value;
    EXPECT_TRUE(voro::reg::ReadString(HKEY_LOCAL_MACHINE, kEntryKey, L"InstallLocation", value));
    EXPECT_EQ(value, install);
    EXPECT_TRUE(voro::reg::ReadString(HKEY_LOCAL_MACHINE, kEntryKey, L"UninstallString", value));
    EXPECT_EQ(value, uninstaller);
    EXPECT_TRUE(voro::reg::ReadString(HKEY_LOCAL_MACHINE, kRunKey, kAutorunName, value));
    EXPECT_NE(value.find(L"voropendant.exe"), std::wstring::npos);
    wchar_t open[8] = {};
    ::GetPrivateProfileStringW(L"auto_run", L"open", L"", open, 8, JoinPath(install, L"config.set").c_str());
    EXPECT_STREQ(open, L"1");
    EXPECT_TRUE(enginetest::Exists(uninstaller)) << "keep mode removes nothing of the product";

    const std::vector<std::wstring> created = NewTempCopyFolders();
    ASSERT_LE(created.size(), 1u);
    for (const std::wstring& folder : created) ExpectRemovedOrScheduled(folder);
    EXPECT_EQ(Dots(server, "uninstall_from").size(), 1u);
    EXPECT_TRUE(Dots(server, "uninstall_1").empty()) << "the keeping copy reports nothing";
}

TEST_F(StartUpBlackBox, SilentCallFromAnotherChannelIsIllegalAndChangesNothing) {
    const std::wstring fileBefore = Widen(ReadBytes(JoinPath(install, L"config.set")));
    for (const wchar_t* pid : {L"otherchannel", L""}) {
        if (*pid)
            ASSERT_TRUE(voro::reg::WriteString(HKEY_CURRENT_USER, kUserKey, L"pid", pid));
        else
            ASSERT_TRUE(voro::reg::DeleteValue(HKEY_CURRENT_USER, kUserKey, L"pid"));
        ::DeleteFileW(LogPath().c_str());
        EXPECT_EQ(Launch(L"/S"), std::vector<int>{0}) << "no copy was started";
        const std::string log = Log();
        EXPECT_NE(log.find("illegal call"), std::string::npos) << log;
        EXPECT_EQ(log.find("parent process path="), std::string::npos) << log;
    }
    EXPECT_TRUE(NewTempCopyFolders().empty());
    EXPECT_TRUE(server.Requests().empty());
    std::wstring path;
    EXPECT_TRUE(voro::reg::ReadString(HKEY_LOCAL_MACHINE, kAppPathsKey, L"path", path));
    EXPECT_TRUE(enginetest::Exists(uninstaller));
    EXPECT_EQ(Widen(ReadBytes(JoinPath(install, L"config.set"))), fileBefore);
}

TEST_F(StartUpBlackBox, ReadyCopyWithoutAppPathsEndsWithoutTouchingAnything) {
    // A temp copy made by hand, then the record taken away.
    GUID guid;
    ASSERT_TRUE(SUCCEEDED(::CoCreateGuid(&guid)));
    const std::wstring copy = JoinPath(TempDirectory(), voro::startup::TempCopyFolderName(guid));
    ASSERT_TRUE(::CreateDirectoryW(copy.c_str(), nullptr));
    for (const auto& [from, to] : std::vector<std::pair<std::wstring, std::wstring>>{
             {L"Uninstall.exe", L"Uninstall.exe"}, {L"Veruveza.dll", L"Veruveza.dll"},
             {L"Utils\\7z.dll", L"7z.dll"}, {L"wallpaperhelper\\QuonNetUL.dll", L"QuonNetUL.dll"}})
        ASSERT_TRUE(::CopyFileW(JoinPath(install, from).c_str(), JoinPath(copy, to).c_str(), FALSE));
    ASSERT_TRUE(voro::reg::DeleteTree(HKEY_LOCAL_MACHINE, kAppPathsKey));
    const std::vector<std::wstring> installed = FilesBelow(install);

    EXPECT_EQ(RunAndWait(JoinPath(copy, L"Uninstall.exe"), L"/READYUNINSTALL"), 0);
    const std::string log = Log();
    EXPECT_NE(log.find("message box (type 0, answer 1): " + Gbk(kDamagedMessage)), std::string::npos) << log;
    EXPECT_EQ(FilesBelow(copy), (std::vector<std::wstring>{L"7z.dll", L"QuonNetUL.dll", L"Uninstall.exe",
                                                           L"Veruveza.dll"}))
        << "no tail on this path";
    EXPECT_TRUE(enginetest::PendingRenameSources().empty());
    EXPECT_EQ(FilesBelow(install), installed);
    EXPECT_TRUE(voro::reg::KeyExists(HKEY_LOCAL_MACHINE, kEntryKey));
    EXPECT_TRUE(enginetest::Exists(CommonFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\Voro壁纸.lnk"));
    EXPECT_FALSE(voro::reg::KeyExists(HKEY_LOCAL_MACHINE, kAppPathsKey)) << "not repaired by the copy";
    EXPECT_TRUE(server.Requests().empty());
}

TEST_F(StartUpBlackBox, AnotherInstanceHoldingTheGuardEndsTheRun) {
    voro::UniqueKernelHandle guard(::CreateMutexW(nullptr, TRUE, L"VoroWallPaperInstaller"));
    ASSERT_TRUE(guard);
    EXPECT_EQ(Launch(L""), std::vector<int>{0});
    const std::string log = Log();
    EXPECT_NE(log.find("CheckSingleInstance failed, exit"), std::string::npos) << log;
    EXPECT_NE(log.find(Gbk(kAlreadyRunningMessage)), std::string::npos) << log;
    EXPECT_TRUE(NewTempCopyFolders().empty());
}

TEST_F(StartUpBlackBox, SilentRunRemovesTheProduct) {
    const std::vector<int> codes = Launch(L"/S");
    EXPECT_EQ(codes, (std::vector<int>{0, 0}));
    const std::string log = Log();
    size_t at = 0;
    for (const char* line : {"OnUninstallStart callback...", "Progress: 1", "CMainWnd::OnClose\r\n",
                             "CMainWnd::OnClose finish"}) {
        const size_t found = log.find(line, at);
        EXPECT_NE(found, std::string::npos) << line << " in order\n" << log;
        if (found != std::string::npos) at = found;
    }
    EXPECT_NE(log.find("CInstallingModel::OnRealInstallEnd"), std::string::npos) << log;
    // The product's own files, links and entry are gone (files the root folder list does not name
    // stay by design).
    for (const wchar_t* file : {L"vorowp.exe", L"Uninstall.exe", L"Veruveza.dll", L"Utils\\7z.dll"})
        EXPECT_TRUE(!enginetest::Exists(JoinPath(install, file)) || enginetest::IsPendingAtReboot(JoinPath(install, file)))
            << enginetest::Narrow(file);
    EXPECT_FALSE(enginetest::Exists(CommonFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\Voro壁纸.lnk"));
    EXPECT_FALSE(voro::reg::KeyExists(HKEY_LOCAL_MACHINE, kEntryKey));
    std::wstring date;
    EXPECT_TRUE(voro::reg::ReadString(HKEY_CURRENT_USER, L"Software\\VoroWallPaperEver", L"unistdate", date));
    EXPECT_EQ(date.size(), 19u);
    // The running copy's folder goes too.
    const std::vector<std::wstring> created = NewTempCopyFolders();
    ASSERT_EQ(created.size(), 1u);
    ExpectRemovedOrScheduled(created[0]);
    EXPECT_EQ(Dots(server, "uninstall_from").size(), 1u);
    EXPECT_EQ(Dots(server, "uninstall_1").size(), 1u);
}

}  // namespace
