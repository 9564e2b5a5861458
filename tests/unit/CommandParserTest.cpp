#include "app/CommandParser.h"
#include <gtest/gtest.h>
#include <utility>
#include <vector>

namespace {

struct ParseCase {
    const wchar_t* commandLine;
    size_t keyCount;
    std::vector<std::pair<const wchar_t*, const wchar_t*>> values;  // key as queried -> value
    std::vector<const wchar_t*> absent;
};

class ParseTable : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTable, KeysAndValues) {
    const ParseCase& c = GetParam();
    CCommandParser parser;
    ASSERT_EQ(parser.Init(c.commandLine), 1);
    EXPECT_EQ(parser.KeyCount(), c.keyCount);
    for (const auto& [key, expected] : c.values) {
        std::wstring value = L"untouched";
        ASSERT_TRUE(parser.GetValue(key, value)) << key;
        EXPECT_EQ(value, expected) << key;
        EXPECT_TRUE(parser.HasKey(key));
    }
    for (const wchar_t* key : c.absent) {
        std::wstring value = L"untouched";
        EXPECT_FALSE(parser.HasKey(key)) << key;
        EXPECT_FALSE(parser.GetValue(key, value));
        EXPECT_EQ(value, L"untouched");
    }
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, ParseTable,
    ::testing::Values(
        // Switches are case-insensitive, values keep their case.
        ParseCase{L"x.exe /readyuninstall /K", 3, {{L"/READYUNINSTALL", L""}, {L"/ReadyUninstall", L""}, {L"/k", L""}}, {L"/S"}},
        // Only the first '=' splits.
        ParseCase{L"x.exe /CHK=abc=def", 2, {{L"/chk", L"abc=def"}}, {}},
        // A key with '=' and nothing after it is present with an empty value.
        ParseCase{L"x.exe /CHK=", 2, {{L"/CHK", L""}}, {}},
        // One quoted argument: white space around key and value is removed.
        ParseCase{L"x.exe \"key = value\"", 2, {{L"KEY", L"value"}, {L"key", L"value"}}, {}},
        // A switch given twice is stored once; the last value of a key wins.
        ParseCase{L"x.exe /S /S /X=1 /X=2", 3, {{L"/S", L""}, {L"/x", L"2"}}, {}},
        ParseCase{L"x.exe /Name=AbC", 2, {{L"/NAME", L"AbC"}}, {}},
        // Quote characters left in a value by the splitter: one leading, one trailing removed.
        ParseCase{L"x.exe /A=\\\"abc\\\" /B=\\\" /C=\\\"\\\"x\\\"\\\"", 4,
                  {{L"/A", L"abc"}, {L"/B", L""}, {L"/C", L"\"x\""}}, {}},
        // The splitter's own quoting and white space trimming of a switch.
        ParseCase{L"\"C:\\Program Files\\Voro\\Uninstall.exe\" \"  /K  \" /P=\"a b\"", 3,
                  {{L"C:\\PROGRAM FILES\\VORO\\UNINSTALL.EXE", L""}, {L"/K", L""}, {L"/p", L"a b"}}, {}}));

TEST(CommandParser, EmptyCommandLineYieldsOnlyTheProgramPath) {
    CCommandParser parser;
    parser.Init(L"");
    EXPECT_EQ(parser.KeyCount(), 1u);
    for (const wchar_t* key : {kSwitchReadyUninstall, kSwitchKeep, kSwitchSilent, kKeyCallerToken})
        EXPECT_FALSE(parser.HasKey(key)) << key;
    EXPECT_FALSE(parser.IsSilent());
}

TEST(CommandParser, InitAgainReplacesEverything) {
    CCommandParser parser;
    parser.Init(L"x.exe /S /CHK=abc");
    EXPECT_TRUE(parser.IsSilent());
    parser.Init(L"x.exe /K");
    EXPECT_FALSE(parser.IsSilent());
    EXPECT_FALSE(parser.HasKey(L"/CHK"));
    EXPECT_EQ(parser.CommandLine(), L"x.exe /K");
}

TEST(CommandParser, InstanceIsOneObject) {
    EXPECT_EQ(CCommandParser::Instance(), CCommandParser::Instance());
}

}  // namespace
