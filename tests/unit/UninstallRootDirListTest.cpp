#include "config/UninstallRootDirList.h"
#include "SetupTestSupport.h"
#include <gtest/gtest.h>

namespace {

using setuptest::ComScope;
using setuptest::WriteUtf16Xml;

constexpr int kRootListResource = 216;

class RootDirListTest : public testing::Test {
protected:
    std::wstring Write(const wchar_t* name, const std::wstring& body) {
        std::wstring path = m_folder.File(name);
        WriteUtf16Xml(path, body);
        return path;
    }
    std::vector<std::wstring> Names() {
        std::vector<std::wstring> names;
        for (int i = 0; i < m_list.GetCount(); ++i) {
            RootDirRecord record = {};
            EXPECT_EQ(1, m_list.GetItem(i, &record));
            names.push_back(std::wstring(record.name) + (record.isFolder ? L"/" : L""));
        }
        return names;
    }

    ComScope m_com;
    testsupport::TempFolder m_folder;
    CUninstallRootDirList m_list;
};

TEST_F(RootDirListTest, PackageListFromTheResource) {
    setuptest::TempDirRedirect temp;
    ASSERT_EQ(1, m_list.LoadFromResource(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kRootListResource),
                                         L"ROOTDIRLIST"));
    EXPECT_TRUE(setuptest::ListFolder(temp.Path()).empty());  // the temporary copy is gone
    EXPECT_EQ(49, m_list.GetCount());
    for (const wchar_t* name : {L"Utils", L"utils", L"UTILS", L"uTiLs", L"wallpaperhelper", L"WallpaperHelper",
                                L"vorowp.exe", L"Setup.log"})
        EXPECT_EQ(1, m_list.Contains(name)) << testing::PrintToString(std::wstring(name));
    for (const wchar_t* name : {L"Util", L"Utils\\", L"", L"other.exe"})
        EXPECT_EQ(0, m_list.Contains(name)) << testing::PrintToString(std::wstring(name));
    EXPECT_EQ(0, m_list.Contains(nullptr));

    EXPECT_EQ(0, m_list.LoadFromResource(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(999), L"ROOTDIRLIST"));
    EXPECT_EQ(49, m_list.GetCount());
}

TEST_F(RootDirListTest, EntriesOrderedByUpperCasedName) {
    ASSERT_EQ(1, m_list.LoadFromFile(Write(L"list.xml",
        L"<RootDirFiles>"
        L"<Dir><Item Name=\"beta\"/><Item Name=\"Zeta\" optional=\"0x1\"/></Dir>"
        L"<File><Item Name=\"Alpha.exe\"/><Group><Item Name=\"_tail\"/></Group></File>"
        L"</RootDirFiles>").c_str()));
    EXPECT_EQ((std::vector<std::wstring>{L"Alpha.exe", L"beta/", L"Zeta/", L"_tail"}), Names());
    RootDirRecord record = {};
    ASSERT_EQ(1, m_list.GetItem(2, &record));
    EXPECT_EQ(1, record.optional);
    EXPECT_EQ(0, m_list.GetItem(4, &record));
    EXPECT_EQ(0, m_list.GetItem(-1, &record));
    EXPECT_EQ(0, m_list.GetItem(0, nullptr));
}

TEST_F(RootDirListTest, SpecialItems) {
    const std::wstring tooLong(260, L'n');
    ASSERT_EQ(1, m_list.LoadFromFile(Write(L"list.xml",
        L"<RootDirFiles>"
        L"<Dir><Item/><Item Name=\"Both\"/><Item Name=\"" + tooLong + L"\"/></Dir>"
        L"<File><Item Name=\"BOTH\" optional=\"1\"/></File>"
        L"</RootDirFiles>").c_str()));
    // An item without a name is the empty name; a name in both sections ends up a file entry.
    EXPECT_EQ((std::vector<std::wstring>{L"/", L"BOTH"}), Names());
    EXPECT_EQ(1, m_list.Contains(L""));
    RootDirRecord record = {};
    ASSERT_EQ(1, m_list.GetItem(1, &record));
    EXPECT_EQ(0, record.isFolder);
    EXPECT_EQ(1, record.optional);
}

TEST_F(RootDirListTest, LoadingReplacesTheListUnlessTheFileFails) {
    ASSERT_EQ(1, m_list.LoadFromFile(Write(L"first.xml",
        L"<RootDirFiles><Dir><Item Name=\"Utils\"/></Dir><File><Item Name=\"a.exe\"/></File></RootDirFiles>").c_str()));
    ASSERT_EQ(2, m_list.GetCount());

    setuptest::WriteBytes(m_folder.File(L"broken.xml"), "<RootDirFiles><Dir>");
    for (const std::wstring& bad : {m_folder.File(L"broken.xml"), m_folder.File(L"missing.xml")}) {
        EXPECT_EQ(0, m_list.LoadFromFile(bad.c_str()));
        EXPECT_EQ((std::vector<std::wstring>{L"a.exe", L"Utils/"}), Names());
    }
    EXPECT_EQ(0, m_list.LoadFromFile(nullptr));

    // No Dir section: the File entries still load, and nothing of the first list stays.
    ASSERT_EQ(1, m_list.LoadFromFile(Write(L"second.xml",
        L"<RootDirFiles><File><Item Name=\"b.dll\"/></File></RootDirFiles>").c_str()));
    EXPECT_EQ((std::vector<std::wstring>{L"b.dll"}), Names());
    EXPECT_EQ(0, m_list.Contains(L"Utils"));
}

TEST_F(RootDirListTest, RemoveIgnoresCase) {
    ASSERT_EQ(1, m_list.LoadFromFile(Write(L"list.xml",
        L"<RootDirFiles><Dir><Item Name=\"Utils\"/></Dir><File><Item Name=\"a.exe\"/></File></RootDirFiles>").c_str()));
    EXPECT_EQ(1, m_list.Remove(L"UTILS"));
    EXPECT_EQ(0, m_list.Contains(L"Utils"));
    EXPECT_EQ(1, m_list.GetCount());
    EXPECT_EQ(1, m_list.Remove(L"not-there"));
    EXPECT_EQ(0, m_list.Remove(nullptr));
    EXPECT_EQ(1, m_list.GetCount());
}

}  // namespace
