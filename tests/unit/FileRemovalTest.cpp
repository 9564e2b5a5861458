// Removal in a real prefix: each case runs in a fresh copy of the template (reboot-time
// operations and RunOnce values are machine state).
#include "engine/FileRemoval.h"
#include "engine/RunOnceBatch.h"

#include "EngineTestSupport.h"
#include "FixturePaths.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <shlwapi.h>
#include <windows.h>

#include <regex>

namespace {

using enginetest::Exists;
using enginetest::MakeFolder;
using enginetest::Narrow;
using enginetest::WriteSmallFile;

constexpr wchar_t kFileList[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vorowp.exe\\file_list";

std::wstring TempFolder() {
    wchar_t temp[MAX_PATH + 1];
    ::GetTempPathW(MAX_PATH + 1, temp);
    std::wstring path = temp;
    if (path.back() == L'\\') path.pop_back();
    return path;
}

bool IsGuidTmpIn(const std::wstring& path, const std::wstring& folder) {
    const std::wstring prefix = folder + L"\\";
    if (_wcsnicmp(path.c_str(), prefix.c_str(), prefix.size()) != 0) return false;
    static const std::regex name("\\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9a-f]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\}\\.tmp");
    return std::regex_match(Narrow(path.substr(prefix.size())), name);
}

// RunOnce values of the 32-bit view (where the shipped 32-bit program writes them).
std::vector<voro::reg::Value> RunOnceValues() {
    return voro::reg::EnumValues(HKEY_LOCAL_MACHINE, voro::kRunOnceKey, voro::reg::View::Wow32);
}

// Makes every reboot scheduling fail: the system refuses to extend a pending-operations value that
// is not a string list.
void BreakRebootScheduling() {
    ASSERT_TRUE(voro::reg::WriteDword(HKEY_LOCAL_MACHINE, enginetest::kSessionManager, L"PendingFileRenameOperations",
                                      1, voro::reg::View::Wow64));
    testsupport::TempFolder probe;
    WriteSmallFile(probe.File(L"probe"));
    ASSERT_FALSE(::MoveFileExW(probe.File(L"probe").c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        << "the prefix still accepts reboot operations";
}

TEST(FileRemovalTest, LockedDllGoesToTempAndIsScheduledThenTheFolderGoes) {
    enginetest::CapturedLog log;
    testsupport::TempFolder root;
    const std::wstring install = root.File(L"VoroWallPaper");
    ASSERT_TRUE(MakeFolder(install));
    ASSERT_TRUE(MakeFolder(install + L"\\skin"));
    ASSERT_TRUE(WriteSmallFile(install + L"\\skin\\a.skin"));
    ASSERT_TRUE(WriteSmallFile(install + L"\\config.set"));
    const std::wstring dll = install + L"\\voroplug.dll";
    ASSERT_TRUE(::CopyFileW(fixture::Path(L"bin\\voroplug.dll").c_str(), dll.c_str(), FALSE));
    HMODULE loaded = ::LoadLibraryW(dll.c_str());
    ASSERT_NE(nullptr, loaded);
    ASSERT_FALSE(::DeleteFileW(dll.c_str())) << "a loaded DLL should refuse deletion";

    voro::PendingList pending;
    std::vector<std::wstring> reported;
    EXPECT_TRUE(DeleteTree(install.c_str(), pending, [&](const std::wstring& f) { reported.push_back(f); }));
    EXPECT_EQ(3u, reported.size());  // every file, deleted or not
    ASSERT_EQ((voro::PendingList{dll, install}), pending);
    EXPECT_TRUE(log.Has("DeleteFile:"));

    EXPECT_TRUE(WriteRunOnceBatch(pending, install.c_str()));
    EXPECT_TRUE(pending.empty());
    EXPECT_FALSE(Exists(dll));
    EXPECT_FALSE(Exists(install)) << "the emptied install folder is removed";
    const std::vector<std::wstring> scheduled = enginetest::PendingRenameSources();
    ASSERT_FALSE(scheduled.empty());
    EXPECT_TRUE(IsGuidTmpIn(scheduled[0], TempFolder())) << Narrow(scheduled[0]);
    EXPECT_TRUE(Exists(scheduled[0])) << "moved, still loaded";
    EXPECT_TRUE(log.Has("cut ") && log.Has(" success"));
    EXPECT_TRUE(log.Has("write " + Narrow(scheduled[0]) + " to pending success"));
    EXPECT_TRUE(RunOnceValues().empty()) << "nothing failed, so no batch";
    ::FreeLibrary(loaded);
}

TEST(FileRemovalTest, EmptyPendingListWritesNoBatchButSchedulesTheDotTempFolder) {
    enginetest::CapturedLog log;
    testsupport::TempFolder root;
    voro::PendingList pending;
    EXPECT_TRUE(WriteRunOnceBatch(pending, root.Path().c_str()));
    EXPECT_TRUE(RunOnceValues().empty());
    EXPECT_TRUE(enginetest::IsPendingAtReboot(std::wstring(1, root.Path()[0]) + L":\\.temp"));
    EXPECT_FALSE(log.Has("write to runonce bat"));
    EXPECT_FALSE(WriteRunOnceBatch(pending, nullptr));
}

// With reboot scheduling refused, every survivor lands in the batch; the batch ends with its own
// deletion and is registered under RunOnce.
TEST(FileRemovalTest, BatchFileIsWrittenOnlyWhenSchedulingFails) {
    BreakRebootScheduling();
    enginetest::CapturedLog log;
    testsupport::TempFolder root;
    const std::wstring install = root.File(L"inst");
    ASSERT_TRUE(MakeFolder(install));
    const std::wstring dll = install + L"\\voroplug.dll";
    ASSERT_TRUE(::CopyFileW(fixture::Path(L"bin\\voroplug.dll").c_str(), dll.c_str(), FALSE));
    HMODULE loaded = ::LoadLibraryW(dll.c_str());
    ASSERT_NE(nullptr, loaded);

    voro::PendingList pending = {dll};
    EXPECT_TRUE(WriteRunOnceBatch(pending, install.c_str()));

    const std::vector<voro::reg::Value> values = RunOnceValues();
    ASSERT_EQ(1u, values.size());
    const std::wstring batchPath = voro::reg::ValueText(values[0]);
    EXPECT_EQ(batchPath, TempFolder() + L"\\" + values[0].name);
    EXPECT_EQ(0, _wcsnicmp(values[0].name.c_str(), L"tvn", 3));
    EXPECT_EQ(0, _wcsicmp(::PathFindExtensionW(values[0].name.c_str()), L".bat"));
    EXPECT_EQ(REG_SZ, values[0].type);

    // The moved DLL: its GUID name in the temp folder.
    std::wstring moved;
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((TempFolder() + L"\\{*}.tmp").c_str(), &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, find);
    moved = TempFolder() + L"\\" + data.cFileName;
    ::FindClose(find);
    const char drive = static_cast<char>(install[0]);
    const std::string expected = "del /q \"" + Narrow(moved) + "\" \r\n" + "rd /q \"" + std::string(1, drive) +
                                 ":\\.temp\" \r\n" + "del /q \"" + Narrow(batchPath) + "\" \r\n";
    EXPECT_EQ(expected, testsupport::ReadBytes(batchPath));
    EXPECT_TRUE(log.Has("write to runonce bat: " + Narrow(moved)));
    EXPECT_TRUE(log.Has("write runonce bat to registry"));
    ::FreeLibrary(loaded);
}

TEST(FileRemovalTest, RegistryListRefusesNamesOutsideTheInstallFolder) {
    enginetest::CapturedLog log;
    testsupport::TempFolder root;
    const std::wstring install = root.File(L"inst");
    ASSERT_TRUE(MakeFolder(install));
    ASSERT_TRUE(MakeFolder(install + L"\\skin"));
    ASSERT_TRUE(WriteSmallFile(install + L"\\skin\\a.skin"));
    ASSERT_TRUE(WriteSmallFile(install + L"\\listed.log"));
    ASSERT_TRUE(WriteSmallFile(install + L"\\kept.log"));
    ASSERT_TRUE(MakeFolder(root.File(L"inst2")));
    const std::wstring outside = root.File(L"outside.txt");
    const std::wstring sibling = root.File(L"inst2\\a.dll");
    ASSERT_TRUE(WriteSmallFile(outside));
    ASSERT_TRUE(WriteSmallFile(sibling));

    const wchar_t* names[] = {L"skin", L"listed.log", L"..\\outside.txt", L"..\\inst2\\a.dll", L"skin\\..\\..\\outside.txt",
                              L"sub/../../outside.txt", L"C:outside.txt", L""};
    std::wstring absolute = outside;
    for (const wchar_t* name : names)
        ASSERT_TRUE(voro::reg::WriteString(HKEY_LOCAL_MACHINE, kFileList, name, L""));
    ASSERT_TRUE(voro::reg::WriteString(HKEY_LOCAL_MACHINE, kFileList, absolute, L""));

    voro::PendingList pending;
    DeleteRegistryListedFiles(install.c_str(), kFileList, pending);
    EXPECT_TRUE(pending.empty());
    EXPECT_FALSE(Exists(install + L"\\skin"));
    EXPECT_FALSE(Exists(install + L"\\listed.log"));
    EXPECT_TRUE(Exists(install + L"\\kept.log"));
    EXPECT_TRUE(Exists(install)) << "the default value must not name the install folder";
    EXPECT_TRUE(Exists(outside));
    EXPECT_TRUE(Exists(sibling));
    EXPECT_TRUE(log.Has("refuse listed path outside install folder: ..\\outside.txt"));
    EXPECT_TRUE(log.Has("refuse listed path outside install folder: " + Narrow(absolute)));
}

TEST(FileRemovalTest, DeleteByExtensionTakesOnlyThatExtensionInEveryFolder) {
    testsupport::TempFolder root;
    const std::wstring f = root.Path();
    ASSERT_TRUE(MakeFolder(f + L"\\sub"));
    for (const wchar_t* name : {L"\\a.tmp", L"\\b.TMP", L"\\sub\\c.tmp", L"\\keep.txt", L"\\sub\\keep.tmpx"})
        ASSERT_TRUE(WriteSmallFile(f + name));
    ::SetFileAttributesW((f + L"\\b.TMP").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(DeleteByExtension(f.c_str(), L".tmp"));
    EXPECT_FALSE(Exists(f + L"\\a.tmp"));
    EXPECT_FALSE(Exists(f + L"\\b.TMP"));
    EXPECT_FALSE(Exists(f + L"\\sub\\c.tmp"));
    EXPECT_TRUE(Exists(f + L"\\keep.txt"));
    EXPECT_TRUE(Exists(f + L"\\sub\\keep.tmpx"));
}

TEST(FileRemovalTest, SmallOperationsOnPlainFiles) {
    enginetest::CapturedLog log;
    testsupport::TempFolder root;
    const std::wstring file = root.File(L"ro.txt");
    ASSERT_TRUE(WriteSmallFile(file));
    ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(DeleteOrSchedule(file.c_str()));  // read-only: attributes cleared, deleted
    EXPECT_FALSE(Exists(file));
    EXPECT_TRUE(DeleteOrSchedule(file.c_str()));  // already gone
    EXPECT_TRUE(TryRemove(file.c_str()));

    ASSERT_TRUE(MakeFolder(root.File(L"empty")));
    EXPECT_TRUE(TryRemove(root.File(L"empty").c_str()));
    ASSERT_TRUE(MakeFolder(root.File(L"full")));
    ASSERT_TRUE(WriteSmallFile(root.File(L"full\\x")));
    EXPECT_FALSE(TryRemove(root.File(L"full").c_str()));

    std::wstring moved = L"unchanged";
    EXPECT_FALSE(MoveToTemp(root.File(L"missing").c_str(), moved));
    EXPECT_EQ(L"unchanged", moved);
    EXPECT_TRUE(MoveToTemp(root.File(L"full").c_str(), moved));
    EXPECT_TRUE(IsGuidTmpIn(moved, TempFolder())) << Narrow(moved);
    EXPECT_TRUE(Exists(moved + L"\\x"));
    EXPECT_TRUE(DeleteFolderRecursive(moved.c_str()));
    EXPECT_FALSE(Exists(moved));
}

}  // namespace

// ---- Roles of the end-to-end removal test (tests/e2e/removal_reboot.sh), which prepares the
// prefix: the fixture product installed, a D: drive, folders with Unix symbolic links.

namespace {

constexpr wchar_t kAppPathsKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vorowp.exe";

// argument: the install folder. Removes it the way the uninstaller does, with its DLL and a DLL on
// D: held loaded, and writes every item scheduled for reboot to C:\e2e-scheduled.txt.
TEST_CHILD_ROLE(RemoveInstalledFixture) {
    const std::wstring install = argument;
    HMODULE inside = ::LoadLibraryW((install + L"\\voroplug.dll").c_str());
    HMODULE onD = ::LoadLibraryW(L"D:\\data\\voroplug.dll");
    if (inside == nullptr || onD == nullptr) return 10;
    voro::PendingList pending;
    DeleteRegistryListedFiles(install.c_str(), (std::wstring(kAppPathsKey) + L"\\file_list").c_str(), pending);
    DeleteRegistryListedFiles(install.c_str(), (std::wstring(kAppPathsKey) + L"\\file_pe").c_str(), pending);
    DeleteByExtension(install.c_str(), L".tmp");
    DeleteTree(install.c_str(), pending);
    DeletePathOrQueue(L"D:\\data\\voroplug.dll", pending);
    WriteRunOnceBatch(pending, install.c_str());
    if (Exists(install)) return 11;
    if (Exists(L"D:\\data\\voroplug.dll")) return 12;
    const std::vector<std::wstring> scheduled = enginetest::PendingRenameSources();
    bool onSecondDrive = false;
    std::string list;
    for (const std::wstring& item : scheduled) {
        if (IsGuidTmpIn(item, L"D:\\.temp")) onSecondDrive = true;
        list += Narrow(item) + "\r\n";
    }
    if (!onSecondDrive) return 13;
    const DWORD hidden = ::GetFileAttributesW(L"D:\\.temp");
    if (hidden == INVALID_FILE_ATTRIBUTES || !(hidden & FILE_ATTRIBUTE_HIDDEN)) return 14;
    if (!RunOnceValues().empty()) return 15;
    if (!WriteSmallFile(L"C:\\e2e-scheduled.txt", list.c_str())) return 16;
    return 0;
}

// After the reboot: nothing of C:\e2e-scheduled.txt is left and no operation is pending.
TEST_CHILD_ROLE(ScheduledItemsAreGone) {
    const std::string list = testsupport::ReadBytes(L"C:\\e2e-scheduled.txt");
    if (list.empty()) return 20;
    size_t start = 0;
    int left = 0;
    while (start < list.size()) {
        const size_t end = list.find("\r\n", start);
        const std::string item = list.substr(start, end - start);
        start = end == std::string::npos ? list.size() : end + 2;
        if (item.empty()) continue;
        if (::GetFileAttributesA(item.c_str()) != INVALID_FILE_ATTRIBUTES) {
            fprintf(stderr, "still there: %s\n", item.c_str());
            ++left;
        }
    }
    if (!enginetest::PendingRenameSources().empty()) return 21;
    return left == 0 ? 0 : 22;
}

// argument: a folder whose "case" sub-folders each hold plain files and a link "linked" to
// C:\outside (prepared by the script). Every removal operation runs on its own case; the link's
// target must stay intact. Exit code: 0, or 30 + the number of the case that touched the target.
TEST_CHILD_ROLE(LinksAreNeverFollowed) {
    const std::wstring root = argument;
    auto intact = [] { return Exists(L"C:\\outside\\keep.txt") && Exists(L"C:\\outside\\deep\\keep2.tmp"); };
    if (!intact()) return 29;
    voro::PendingList pending;
    std::wstring moved;
    const std::function<void(const std::wstring&)> operations[] = {
        [&](const std::wstring& f) { ShellDelete(f.c_str()); },
        [&](const std::wstring& f) { DeletePathOrQueue(f.c_str(), pending); },
        [&](const std::wstring& f) { DeleteTree(f.c_str(), pending); },
        [&](const std::wstring& f) { DeleteFolderRecursive(f.c_str()); },
        [&](const std::wstring& f) { DeleteByExtension(f.c_str(), L".tmp"); },
        [&](const std::wstring& f) { TryRemove((f + L"\\linked").c_str()); },
        [&](const std::wstring& f) { MoveToTemp((f + L"\\linked").c_str(), moved); },
        [&](const std::wstring& f) { ShellDelete((f + L"\\linked").c_str()); },
        [&](const std::wstring& f) {
            voro::PendingList list = {f + L"\\linked", f};
            WriteRunOnceBatch(list, f.c_str());
        },
    };
    int number = 0;
    for (const auto& operation : operations) {
        ++number;
        operation(root + L"\\case" + std::to_wstring(number));
        if (!intact()) return 30 + number;
    }
    // The registry list: a listed folder that holds a link, and a listed link.
    const std::wstring listKey = std::wstring(kAppPathsKey) + L"\\file_list";
    voro::reg::WriteString(HKEY_LOCAL_MACHINE, listKey, L"case10", L"");
    voro::reg::WriteString(HKEY_LOCAL_MACHINE, listKey, L"case11\\linked", L"");
    DeleteRegistryListedFiles(root.c_str(), listKey.c_str(), pending);
    if (!intact()) return 40;
    WriteRunOnceBatch(pending, root.c_str());
    if (!intact()) return 41;
    return 0;
}

}  // namespace
