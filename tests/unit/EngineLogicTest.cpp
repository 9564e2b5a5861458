// The uninstall engine's pure rules (progress arithmetic, the install-folder check, the configured
// App Paths key) and the task's operations that leave no machine state.
#include "engine/InstallFolderGuard.h"
#include "engine/Uninstaller.h"
#include "engine/UninstallTask.h"

#include <gtest/gtest.h>

namespace {

using voro::FolderRefusal;

TEST(EngineProgress, RequestsAreDeliveredAtMost99AndLoggedAsRequested) {
    EXPECT_EQ(99, voro::DeliveredProgress(100));
    EXPECT_EQ(99, voro::DeliveredProgress(99));
    EXPECT_EQ(97, voro::DeliveredProgress(97));
    EXPECT_EQ(L"nProgress=100\n", voro::ProgressDebugText(100));
}

TEST(EngineProgress, FileProgressIsComputedInSinglePrecision) {
    const struct {
        int done, total, expected;
    } cases[] = {
        {13, 22, 61},  // double precision gives 62
        {49, 88, 59},  // double precision gives 58
        {1, 3, 39},  {5, 5, 98}, {0, 5, 10},
        {0, 0, 10},  // nothing counted
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, voro::FileProgress(c.done, c.total)) << c.done << "/" << c.total;
}

TEST(EngineRegistry, OnlyAKeyBelowAppPathsIsDeletedWithSeparatorsFolded) {
    const struct {
        const wchar_t* configured;
        const wchar_t* expected;
    } cases[] = {
        {L"SOFTWARE\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\App Paths\\\\Divizodaz.exe",
         L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Divizodaz.exe"},
        {L"software\\microsoft\\windows\\currentversion\\app paths\\vorowp.exe\\",
         L"software\\microsoft\\windows\\currentversion\\app paths\\vorowp.exe"},
        {L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths", L""},
        {L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\\\", L""},
        {L"SOFTWARE\\Microsoft", L""},
        {L"SOFTWARE", L""},
        {L"\\\\", L""},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, voro::ConfiguredAppPathsKey(c.configured)) << c.configured;
}

voro::SystemFolders Machine() {
    voro::SystemFolders system;
    system.windows = L"C:\\windows";
    system.programFiles = {L"C:\\Program Files", L"C:\\Program Files (x86)"};
    system.profilesDirectory = L"C:\\users";
    system.profiles = {L"C:\\users\\root", L"C:\\users\\Public", L"C:\\ProgramData", L"D:\\Profiles\\ann"};
    return system;
}

TEST(InstallFolderGuard, RefusesFoldersThatAreNotTheProductsOwn) {
    const struct {
        const wchar_t* folder;
        FolderRefusal expected;
    } cases[] = {
        {L"C:\\Program Files (x86)\\VoroWallPaper", FolderRefusal::None},
        {L"C:\\Program Files\\VoroWallPaper\\", FolderRefusal::None},
        {L"D:\\Apps\\Voro", FolderRefusal::None},
        {L"C:\\windows\\VoroWallPaper", FolderRefusal::None},
        {L"C:\\users\\root\\AppData\\Voro", FolderRefusal::None},
        {L"\\\\server\\share\\Voro", FolderRefusal::None},
        {L"", FolderRefusal::NotAbsolute},
        {L"VoroWallPaper", FolderRefusal::NotAbsolute},
        {L"C:VoroWallPaper", FolderRefusal::NotAbsolute},
        {L"\\VoroWallPaper", FolderRefusal::NotAbsolute},
        {L"C:\\", FolderRefusal::DriveRoot},
        {L"d:/", FolderRefusal::DriveRoot},
        {L"C:\\.", FolderRefusal::DriveRoot},
        {L"C:\\Voro\\..", FolderRefusal::DriveRoot},
        {L"\\\\?\\C:\\", FolderRefusal::DriveRoot},
        {L"\\\\server\\share", FolderRefusal::DriveRoot},
        {L"\\\\server\\share\\", FolderRefusal::DriveRoot},
        {L"C:\\WINDOWS", FolderRefusal::WindowsFolder},
        {L"c:\\windows\\\\", FolderRefusal::WindowsFolder},
        {L"C:\\windows.", FolderRefusal::WindowsFolder},
        {L"C:\\windows\\system32\\..", FolderRefusal::WindowsFolder},
        {L"C:\\Program Files", FolderRefusal::ProgramFiles},
        {L"C:/Program Files (x86)/", FolderRefusal::ProgramFiles},
        {L"C:\\Program Files (x86)\\Voro\\..\\", FolderRefusal::ProgramFiles},
        {L"C:\\users", FolderRefusal::UserProfile},
        {L"C:\\users\\root", FolderRefusal::UserProfile},
        {L"C:\\Users\\somebody", FolderRefusal::UserProfile},  // any folder directly in the profiles folder
        {L"C:\\ProgramData", FolderRefusal::UserProfile},
        {L"D:\\Profiles", FolderRefusal::UserProfile},
        {L"D:\\Profiles\\ANN", FolderRefusal::UserProfile},
    };
    const voro::SystemFolders system = Machine();
    for (const auto& c : cases)
        EXPECT_EQ(static_cast<int>(c.expected), static_cast<int>(voro::CheckInstallFolder(c.folder, system)))
            << testing::PrintToString(std::wstring(c.folder));

    // Windows deeper than the drive root: the folders above it are refused too.
    voro::SystemFolders deep = system;
    deep.windows = L"D:\\OS\\Windows";
    EXPECT_EQ(FolderRefusal::WindowsFolder, voro::CheckInstallFolder(L"D:\\OS", deep));
    EXPECT_EQ(FolderRefusal::None, voro::CheckInstallFolder(L"D:\\OS\\Apps\\Voro", deep));
}

TEST(InstallFolderGuard, ThisMachinesFoldersAreKnown) {
    const voro::SystemFolders system = voro::QuerySystemFolders();
    EXPECT_EQ(FolderRefusal::WindowsFolder, voro::CheckInstallFolder(system.windows));
    ASSERT_FALSE(system.programFiles.empty());
    for (const std::wstring& folder : system.programFiles)
        EXPECT_EQ(FolderRefusal::ProgramFiles, voro::CheckInstallFolder(folder)) << testing::PrintToString(folder);
    EXPECT_EQ(FolderRefusal::UserProfile, voro::CheckInstallFolder(system.profilesDirectory));
    wchar_t profile[MAX_PATH] = {};
    ASSERT_TRUE(::GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH));
    EXPECT_EQ(FolderRefusal::UserProfile, voro::CheckInstallFolder(profile));
    EXPECT_EQ(FolderRefusal::None, voro::CheckInstallFolder(system.programFiles[0] + L"\\VoroWallPaper"));
}

TEST(UninstallTask, GetInstallDirCopiesOnlyIntoALargerBuffer) {
    IUninstallTask* task = GetUninstallTask();
    wchar_t buffer[16];
    task->SetInstallDir(L"");
    wcscpy(buffer, L"untouched");
    task->GetInstallDir(buffer, 16);
    EXPECT_STREQ(L"untouched", buffer);

    task->SetInstallDir(L"C:\\abcd");  // 7 characters
    task->GetInstallDir(buffer, 7);
    EXPECT_STREQ(L"untouched", buffer);
    task->GetInstallDir(buffer, 8);
    EXPECT_STREQ(L"C:\\abcd", buffer);
    task->GetInstallDir(nullptr, 16);
    task->SetInstallDir(nullptr);
    wcscpy(buffer, L"untouched");
    task->GetInstallDir(buffer, 16);
    EXPECT_STREQ(L"untouched", buffer);
}

TEST(UninstallTask, QueryFlagIsTrue) { EXPECT_TRUE(GetUninstallTask()->QueryFlag()); }

}  // namespace
