// Pure path rules of the removal code.
#include "engine/FileRemoval.h"

#include <gtest/gtest.h>

namespace {

struct ListedCase {
    const wchar_t* name;
    const wchar_t* expected;  // null: refused
};

TEST(FileRemovalPathTest, ListedPathsStayInsideTheInstallFolder) {
    const std::wstring folder = L"C:\\Program Files\\VoroWallPaper";
    const ListedCase cases[] = {
        {L"vorowp.log", L"C:\\Program Files\\VoroWallPaper\\vorowp.log"},
        {L"skin\\default.skin", L"C:\\Program Files\\VoroWallPaper\\skin\\default.skin"},
        {L"skin\\..\\config.set", L"C:\\Program Files\\VoroWallPaper\\config.set"},  // folds inside
        {L"..\\VoroWallPaperX\\a.dll", nullptr},             // a sibling sharing the prefix
        {L"..\\..\\Windows\\system32\\kernel32.dll", nullptr},
        {L"skin\\..\\..\\outside.txt", nullptr},
        {L"..", nullptr},
        {L".", nullptr},                                     // the install folder itself
        {L"C:\\Windows\\win.ini", nullptr},                  // absolute
        {L"\\Windows\\win.ini", nullptr},                    // rooted on the current drive
        {L"\\\\server\\share\\x", nullptr},                  // UNC
        {L"C:win.ini", nullptr},                             // drive-relative
        {L"vorowp.log:stream", nullptr},                     // a stream name
        {L"skin/../../outside.txt", nullptr},                // forward slashes are not folded
        {L"", nullptr},                                      // the key's default value
    };
    for (const ListedCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "case #" << (&c - cases));
        std::wstring path = L"junk";
        const bool accepted = voro::ResolveListedPath(folder, c.name, path);
        EXPECT_EQ(c.expected != nullptr, accepted);
        EXPECT_EQ(c.expected ? std::wstring(c.expected) : std::wstring(), path);
    }
    std::wstring path;
    EXPECT_TRUE(voro::ResolveListedPath(folder + L"\\", L"a.txt", path));  // trailing backslash
    EXPECT_EQ(folder + L"\\a.txt", path);
}

TEST(FileRemovalPathTest, GuidNameHasTheLowerCaseThirdGroup) {
    const GUID guid = {0x0A1B2C3D, 0xE4F5, 0xABCD, {0xEF, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD}};
    EXPECT_EQ(L"{0A1B2C3D-E4F5-abcd-EF01-23456789ABCD}", voro::FormatGuidName(guid));
}

TEST(FileRemovalPathTest, UnacceptablePathsDoNothing) {
    const std::wstring tooLong(260, L'a');
    voro::PendingList pending;
    for (const wchar_t* path : {static_cast<const wchar_t*>(nullptr), L"", tooLong.c_str()}) {
        EXPECT_FALSE(DeleteTree(path, pending));
        EXPECT_FALSE(DeleteFolderRecursive(path));
        EXPECT_FALSE(DeleteByExtension(path, L".tmp"));
    }
    EXPECT_TRUE(pending.empty());
    EXPECT_FALSE(ShellDelete(nullptr));
    EXPECT_FALSE(DeleteByExtension(L"C:\\x", L""));
}

}  // namespace
