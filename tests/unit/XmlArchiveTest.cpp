#include "config/XMLArchive.h"
#include "SetupTestSupport.h"
#include <gtest/gtest.h>

namespace {

using setuptest::ComScope;
using setuptest::WriteUtf16Xml;

TEST(ParseAttributeInt, ReadsDecimalAndShortHexadecimal) {
    struct Case {
        const wchar_t* text;
        int expected;
    };
    const Case cases[] = {
        {L"", 0},
        {L"   ", 0},
        {L" 42", 42},
        {L"\t \t42", 42},
        {L"0x1A", 26},
        {L"0X1a", 26},
        {L"0x", 0},             // too short for hexadecimal: decimal reading stops at 'x'
        {L"0x123456789", 0},    // 11 characters: decimal reading
        {L"0x12345678", 0x12345678},
        {L"0xFFFFFFFF", -1},
        {L"0x1G", 1},           // hexadecimal digits up to the first other character
        {L"0xZZ", 0},
        {L"  0x10", 16},        // the length counts after the skipped blanks
        {L"-5", -5},
        {L"+7", 7},
        {L"12abc", 12},
        {L"abc", 0},
        {L"40011", 40011},
        {L"2147483647", 2147483647},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, ParseAttributeInt(c.text)) << "text [" << testing::PrintToString(std::wstring(c.text)) << "]";
}

TEST(SplitXmlPath, SplitsAtBothSeparatorsWithinTheLengthLimit) {
    using Names = std::vector<std::wstring>;
    EXPECT_EQ((Names{L"Setup", L"Main"}), SplitXmlPath(L"Setup/Main"));
    EXPECT_EQ((Names{L"Setup", L"CloseAllPrograms", L"Program"}), SplitXmlPath(L"Setup\\CloseAllPrograms/Program"));
    EXPECT_EQ((Names{L"Setup"}), SplitXmlPath(L"Setup"));
    EXPECT_TRUE(SplitXmlPath(L"").empty());
    EXPECT_EQ(2u, SplitXmlPath(L"a/" + std::wstring(2046, L'b')).size());  // 2048 characters
    EXPECT_TRUE(SplitXmlPath(L"a/" + std::wstring(2047, L'b')).empty());   // 2049 characters
}

// Elements carry an "id" so that a selection can be compared in document order.
const wchar_t kDocument[] =
    L"<Setup id=\"s\">\r\n"
    L"  <Main id=\"m1\" Version=\"1.0\" Empty=\"\" Hex=\"0x1A\" Bad=\"abc\" />\r\n"
    L"  <CloseAllPrograms id=\"c1\">\r\n"
    L"    <Program id=\"p1\" />\r\n"
    L"    <Group><Program id=\"p2\" /></Group>\r\n"
    L"    <Program id=\"p3\" />\r\n"
    L"  </CloseAllPrograms>\r\n"
    L"  <CloseAllPrograms id=\"c2\"><Program id=\"p4\" /></CloseAllPrograms>\r\n"
    L"  <Other><Main id=\"m2\" /></Other>\r\n"
    L"  <Main id=\"m3\" />\r\n"
    L"  <!-- a comment -->\r\n"
    L"</Setup>\r\n";

class XmlArchiveTest : public testing::Test {
protected:
    void SetUp() override {
        m_path = m_folder.File(L"doc.xml");
        WriteUtf16Xml(m_path, kDocument);
        ASSERT_EQ(S_OK, m_archive.Load(m_path));
    }
    static std::vector<std::wstring> Ids(const CXMLArchiveItemList& list) {
        std::vector<std::wstring> ids;
        for (int i = 0; i < list.GetCount(); ++i) {
            std::wstring id;
            list.GetItem(i).GetAttributeString(L"id", id);
            ids.push_back(id);
        }
        return ids;
    }

    ComScope m_com;
    testsupport::TempFolder m_folder;
    std::wstring m_path;
    CXMLArchive m_archive;
};

TEST_F(XmlArchiveTest, SelectNodesFollowsTheFirstElementAtEachLevel) {
    struct Case {
        const wchar_t* path;
        std::vector<std::wstring> expected;
    };
    const Case cases[] = {
        {L"Setup/CloseAllPrograms/Program", {L"p1", L"p2", L"p3"}},  // descendants of the first c1 only
        {L"Setup\\CloseAllPrograms\\Program", {L"p1", L"p2", L"p3"}},
        {L"Setup/CloseAllPrograms\\Program", {L"p1", L"p2", L"p3"}},
        {L"Setup/Main", {L"m1", L"m2", L"m3"}},                      // any depth, document order
        {L"CloseAllPrograms/Program", {L"p1", L"p2", L"p3"}},        // the first name matches at any depth
        {L"Setup/CloseAllPrograms", {L"c1", L"c2"}},
        {L"Setup", {}},                                                // one name finds nothing
        {L"Main", {}},
        {L"", {}},
        {L"Setup/Missing/Program", {}},
        {L"Missing/Main", {}},
        {L"setup/main", {}},                                           // tag names are case-sensitive
        {L"Setup//Main", {}},
        {L"Setup/Main/", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(c.expected, Ids(m_archive.SelectNodes(c.path))) << testing::PrintToString(std::wstring(c.path));
}

TEST_F(XmlArchiveTest, ItemListIndexesAndChildren) {
    CXMLArchiveItemList groups = m_archive.SelectNodes(L"Setup/CloseAllPrograms");
    ASSERT_EQ(2, groups.GetCount());
    EXPECT_TRUE(groups.GetItem(-1).IsEmpty());
    EXPECT_TRUE(groups.GetItem(2).IsEmpty());
    EXPECT_EQ((std::vector<std::wstring>{L"p4"}), Ids(groups.GetChildren(1, L"Program")));
    EXPECT_EQ(0, groups.GetChildren(2, L"Program").GetCount());
    EXPECT_TRUE(m_archive.SelectFirst(L"Setup/Nothing").IsEmpty());
    std::wstring id;
    EXPECT_TRUE(m_archive.SelectFirst(L"Setup/Main").GetAttributeString(L"id", id));
    EXPECT_EQ(L"m1", id);
}

TEST_F(XmlArchiveTest, GetElementsByTagNameReturnsEveryDepth) {
    CXMLArchiveItem setup = m_archive.SelectFirst(L"Setup/CloseAllPrograms");
    EXPECT_EQ((std::vector<std::wstring>{L"p1", L"p2", L"p3"}), Ids(setup.GetElementsByTagName(L"Program")));
    EXPECT_EQ(0, setup.GetElementsByTagName(L"").GetCount());
    EXPECT_EQ(0, CXMLArchiveItem().GetElementsByTagName(L"Program").GetCount());
}

TEST_F(XmlArchiveTest, AttributeStringsWithDefaults) {
    CXMLArchiveItem main = m_archive.SelectFirst(L"Setup/Main");
    struct Case {
        CXMLArchiveItem item;
        const wchar_t* name;
        const wchar_t* defaultValue;
        bool found;
        std::wstring expected;
    };
    const Case cases[] = {
        {main, L"Version", L"dflt", true, L"1.0"},
        {main, L"Empty", L"dflt", true, L""},     // present but empty counts as found
        {main, L"Missing", L"dflt", false, L"dflt"},
        {main, L"Missing", nullptr, false, L""},
        {main, L"version", L"dflt", false, L"dflt"},  // attribute names are case-sensitive
        {CXMLArchiveItem(), L"Version", L"dflt", false, L"dflt"},
        {main, L"", L"dflt", false, L"unchanged"},  // an empty name changes nothing
    };
    for (const Case& c : cases) {
        std::wstring value = L"unchanged";
        EXPECT_EQ(c.found, c.item.GetAttributeString(c.name, value, c.defaultValue)) << testing::PrintToString(std::wstring(c.name));
        EXPECT_EQ(c.expected, value) << testing::PrintToString(std::wstring(c.name));
    }
}

TEST_F(XmlArchiveTest, AttributeIntegersWithDefaults) {
    CXMLArchiveItem main = m_archive.SelectFirst(L"Setup/Main");
    struct Case {
        CXMLArchiveItem item;
        const wchar_t* name;
        bool found;
        int expected;
    };
    const Case cases[] = {
        {main, L"Hex", true, 26},
        {main, L"Empty", true, 0},
        {main, L"Bad", true, 0},
        {main, L"Missing", false, 77},
        {CXMLArchiveItem(), L"Hex", false, 77},
        {main, L"", false, -3},  // an empty name leaves the value alone
    };
    for (const Case& c : cases) {
        int value = -3;
        EXPECT_EQ(c.found, c.item.GetAttributeInt(c.name, value, 77)) << testing::PrintToString(std::wstring(c.name));
        EXPECT_EQ(c.expected, value) << testing::PrintToString(std::wstring(c.name));
    }
}

TEST(XmlArchiveLoad, FailsForMissingAndMalformedFiles) {
    ComScope com;
    testsupport::TempFolder folder;
    setuptest::WriteBytes(folder.File(L"text.xml"), "this is not XML");
    setuptest::WriteBytes(folder.File(L"open.xml"), "<?xml version=\"1.0\"?><Setup><Main>");
    setuptest::WriteBytes(folder.File(L"utf8.xml"), "<?xml version=\"1.0\" encoding=\"utf-8\"?><Setup><Main id=\"x\"/></Setup>");
    struct Case {
        std::wstring path;
        bool loads;
    };
    const Case cases[] = {
        {folder.File(L"missing.xml"), false},
        {folder.Path(), false},  // a folder
        {L"", false},
        {folder.File(L"text.xml"), false},
        {folder.File(L"open.xml"), false},
        {folder.File(L"utf8.xml"), true},
    };
    for (const Case& c : cases) {
        CXMLArchive archive;
        HRESULT hr = archive.Load(c.path);
        EXPECT_EQ(c.loads, SUCCEEDED(hr)) << testing::PrintToString(c.path);
        EXPECT_EQ(c.loads, archive.IsLoaded());
        EXPECT_EQ(c.loads, archive.SelectNodes(L"Setup/Main").GetCount() == 1);
    }
}

}  // namespace
