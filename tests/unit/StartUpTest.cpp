// The start-up's decisions: the caller check, the /CHK token, the relaunch parameters, the temp
// copy folder names, the parent process, the message box stand-in, the test host override and
// the end-of-uninstall report texts. Nothing here changes machine state.
#include "EngineTestSupport.h"
#include "app/CommandParser.h"
#include "app/StartUp.h"
#include "report/ServerHosts.h"
#include "report/StringCipher.h"
#include "windows/MessageBox.h"
#include "windows/UninstallEndReport.h"
#include <gtest/gtest.h>
#include <fstream>
#include <vector>

using namespace voro::startup;

namespace {

constexpr wchar_t kMid[] = L"0123456789abcdef0123456789abcdef";

class FakeEnvironment : public ICallerEnvironment {
public:
    std::wstring pid = L"ruriziza";
    bool library = true;
    std::wstring parent = L"C:\\Windows\\explorer.exe";
    bool parentSigned = true;
    std::wstring mid = kMid;
    int parentQueries = 0;

    std::wstring ProductPid() override { return pid; }
    bool LauncherLibraryPresent() override { return library; }
    std::wstring ParentProcessPath() override { return ++parentQueries, parent; }
    bool IsSignedByPublisher(const std::wstring& path) override { return parentSigned && path == parent; }
    std::wstring MachineId() override { return mid; }
};

std::wstring Token(const std::wstring& plain, const std::wstring& key) {
    std::wstring token;
    EncryptText(plain, key, token);
    return token;
}

bool Check(const std::wstring& commandLine, FakeEnvironment& environment) {
    CCommandParser parser;
    parser.Init(commandLine);
    return CheckCaller(parser, environment);
}

struct CallerCase {
    const char* name;
    std::wstring commandLine;
    void (*prepare)(FakeEnvironment&);
    bool accepted;
};

void Nothing(FakeEnvironment&) {}

TEST(CheckCaller, Table) {
    const std::wstring valid = L"/CHK=" + Token(L"quietly", kMid);
    const CallerCase cases[] = {
        {"no switches", L"", [](FakeEnvironment& e) { e.pid.clear(); e.library = false; e.parent.clear(); }, true},
        {"keep without /S", L"/K", [](FakeEnvironment& e) { e.pid = L"other"; }, true},
        {"copy without /S needs no token", L"/READYUNINSTALL", [](FakeEnvironment& e) { e.mid.clear(); }, true},
        {"silent launcher", L"/S", Nothing, true},
        {"pid trimmed, any case", L"/s", [](FakeEnvironment& e) { e.pid = L"  RuRiZiZa \t"; }, true},
        {"other pid", L"/S", [](FakeEnvironment& e) { e.pid = L"rurizizb"; }, false},
        {"no pid", L"/S", [](FakeEnvironment& e) { e.pid.clear(); }, false},
        {"launcher without its library", L"/S", [](FakeEnvironment& e) { e.library = false; }, false},
        {"launcher without a parent", L"/S", [](FakeEnvironment& e) { e.parent.clear(); }, false},
        {"launcher with an unsigned parent", L"/S", [](FakeEnvironment& e) { e.parentSigned = false; }, false},
        {"copy with a valid token", L"/S /READYUNINSTALL " + valid,
         [](FakeEnvironment& e) { e.library = false; e.parent.clear(); }, true},
        {"copy token marker in upper case", L"/S /READYUNINSTALL /CHK=" + Token(L"QUIETLY", kMid), Nothing, true},
        {"copy without a token", L"/S /READYUNINSTALL", Nothing, false},
        {"copy with an empty token", L"/S /READYUNINSTALL /CHK=", Nothing, false},
        {"copy token under another mid", L"/S /READYUNINSTALL /CHK=" + Token(L"quietly", L"another mid"), Nothing,
         false},
        {"copy token of another text", L"/S /READYUNINSTALL /CHK=" + Token(L"loudly", kMid), Nothing, false},
        {"copy token not Base64", L"/S /READYUNINSTALL /CHK=%%%", Nothing, false},
        {"copy without a mid", L"/S /READYUNINSTALL " + valid, [](FakeEnvironment& e) { e.mid.clear(); }, false},
        {"copy with a valid token, other pid", L"/S /READYUNINSTALL " + valid,
         [](FakeEnvironment& e) { e.pid = L"other"; }, false},
    };
    for (const CallerCase& c : cases) {
        FakeEnvironment environment;
        c.prepare(environment);
        EXPECT_EQ(Check(c.commandLine, environment), c.accepted) << c.name;
    }
}

TEST(CheckCaller, RefusedParentIsLoggedWithItsPath) {
    enginetest::CapturedLog log;
    FakeEnvironment environment;
    environment.parentSigned = false;
    environment.parent = L"C:\\Tools\\runner.exe";
    EXPECT_FALSE(Check(L"/S", environment));
    EXPECT_TRUE(log.Has("parent process = C:\\Tools\\runner.exe")) << log.Text();
}

TEST(CheckCaller, TheTempCopyNeverAsksForItsParent) {
    FakeEnvironment environment;
    EXPECT_TRUE(Check(L"/S /READYUNINSTALL /CHK=" + Token(L"quietly", kMid), environment));
    EXPECT_EQ(environment.parentQueries, 0);
}

TEST(CallerToken, MadeAndAcceptedUnderTheSameMid) {
    const std::wstring token = MakeCallerToken(kMid);
    ASSERT_FALSE(token.empty());
    EXPECT_TRUE(IsCallerTokenValid(token, kMid));
    EXPECT_FALSE(IsCallerTokenValid(token, L"fedcba9876543210fedcba9876543210"));
    EXPECT_EQ(DecryptText(token, kMid), L"quietly");
    EXPECT_TRUE(MakeCallerToken(L"").empty());
    EXPECT_FALSE(IsCallerTokenValid(L"", kMid));
}

TEST(RelaunchParameters, Table) {
    struct Case {
        std::wstring received;
        bool silent;
        std::wstring token, expected;
    } cases[] = {
        {L"", false, L"", L"  /READYUNINSTALL"},
        {L"/K", false, L"ignored", L"/K  /READYUNINSTALL"},
        {L"/K key=\"a b\" /X", false, L"", L"/K key=\"a b\" /X  /READYUNINSTALL"},
        {L"/S", true, L"abc=", L"/S  /READYUNINSTALL  /CHK=abc="},
        {L"/S /K", true, L"", L"/S /K  /READYUNINSTALL  /CHK="},
    };
    for (const Case& c : cases) EXPECT_EQ(BuildRelaunchParameters(c.received, c.silent, c.token), c.expected);
}

TEST(RelaunchParameters, TheCopySeesEveryReceivedSwitchAndAcceptsItsToken) {
    const std::wstring received = L"/S /K /lang=zh \"/note=two words\" /X";
    const std::wstring parameters = BuildRelaunchParameters(received, true, MakeCallerToken(kMid));
    CCommandParser copy;
    copy.Init(parameters);
    for (const wchar_t* key : {L"/S", L"/K", L"/LANG", L"/NOTE", L"/X", L"/READYUNINSTALL", L"/CHK"})
        EXPECT_TRUE(copy.HasKey(key)) << enginetest::Narrow(key);
    std::wstring value;
    ASSERT_TRUE(copy.GetValue(L"/note", value));
    EXPECT_EQ(value, L"two words");
    FakeEnvironment environment;
    EXPECT_TRUE(CheckCaller(copy, environment));
}

TEST(TempCopyFolder, NameFormat) {
    const GUID guid = {0x0123abcd, 0x89ab, 0xcdef, {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef}};
    EXPECT_EQ(TempCopyFolderName(guid), L"{0123ABCD-89AB-cdef-0123-456789ABCDEF}.tmp");
    EXPECT_TRUE(IsTempCopyFolderName(TempCopyFolderName(guid)));
    struct Case {
        const wchar_t* name;
        bool ok;
    } cases[] = {
        {L"{0123ABCD-89AB-cdef-0123-456789ABCDEF}.TMP", true},
        {L"{0123abcd-89ab-cdef-0123-456789abcdef}.tmp", true},
        {L"{0123ABCD-89AB-cdef-0123-456789ABCDEF}", false},
        {L"{0123ABCD-89AB-cdef-0123-456789ABCDEF}.txt", false},
        {L"{0123ABCD-89AB-cdef-0123-456789ABCDEG}.tmp", false},
        {L"{0123ABCD089AB-cdef-0123-456789ABCDEF}.tmp", false},
        {L"0123ABCD-89AB-cdef-0123-456789ABCDEF.tmp", false},
        {L"VoroWallPaper", false},
        {L"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsTempCopyFolderName(c.name), c.ok) << enginetest::Narrow(c.name);
}

TEST(TempCopyFolder, OnlyAGuidFolderDirectlyInTheTempDirectoryCounts) {
    const std::wstring temp = L"C:\\users\\me\\Temp\\";
    const std::wstring name = L"{0123ABCD-89AB-cdef-0123-456789ABCDEF}.tmp";
    EXPECT_TRUE(IsTempCopyFolder(temp + name, temp));
    EXPECT_TRUE(IsTempCopyFolder(L"c:\\USERS\\me\\temp\\" + name + L"\\", L"C:\\users\\me\\Temp"));
    EXPECT_FALSE(IsTempCopyFolder(temp + L"sub\\" + name, temp));
    EXPECT_FALSE(IsTempCopyFolder(L"C:\\Program Files (x86)\\VoroWallPaper", temp));
    EXPECT_FALSE(IsTempCopyFolder(L"C:\\Program Files (x86)\\" + name, temp));
    EXPECT_FALSE(IsTempCopyFolder(temp, temp));
    EXPECT_FALSE(IsTempCopyFolder(temp + name, L""));
}

TEST(TempCopyFolder, FirstFreeNameOfAtMostTenAttempts) {
    const std::wstring temp = L"C:\\Temp\\";
    std::vector<std::wstring> asked;
    int made = 0;
    auto guids = [&](GUID& guid) {
        guid = GUID{static_cast<unsigned long>(++made), 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
        return true;
    };
    // The first three names exist.
    auto exists = [&](const std::wstring& path) {
        asked.push_back(path);
        return asked.size() <= 3;
    };
    std::wstring folder;
    ASSERT_TRUE(ChooseTempCopyFolder(temp, guids, exists, folder));
    EXPECT_EQ(folder, L"C:\\Temp\\{00000004-0000-0000-0000-000000000000}.tmp");
    EXPECT_EQ(made, 4);

    made = 0;
    asked.clear();
    EXPECT_FALSE(ChooseTempCopyFolder(temp, guids, [](const std::wstring&) { return true; }, folder));
    EXPECT_EQ(made, kTempCopyAttempts);
    EXPECT_FALSE(ChooseTempCopyFolder(temp, [](GUID&) { return false; }, exists, folder));
}

TEST(UninstallFromReport, ParentNameAndExtraText) {
    struct Case {
        const wchar_t* path;
        const wchar_t* name;
    } cases[] = {
        {L"C:\\Windows\\explorer.exe", L"explorer"},
        {L"C:\\Program Files\\my.tool.exe", L"my.tool"},
        {L"C:\\dir.with.dots\\noextension", L""},
        {L"runner.EXE", L"runner"},
        {L"", L""},
    };
    for (const Case& c : cases) EXPECT_EQ(ParentNameForReport(c.path), c.name) << enginetest::Narrow(c.path);
    EXPECT_EQ(UninstallFromExtra(L"explorer", L"6.1"), L"&ex1=explorer&ex2=6.1");
    EXPECT_EQ(UninstallFromExtra(L"", L""), L"&ex1=&ex2=");
}

TEST(UninstallFromReport, WindowsVersionIsMajorDotMinor) {
    const std::wstring text = WindowsVersionText();
    ASSERT_FALSE(text.empty());
    unsigned major = 0, minor = 0;
    EXPECT_EQ(swscanf(text.c_str(), L"%u.%u", &major, &minor), 2);
    EXPECT_EQ(text, std::to_wstring(major) + L"." + std::to_wstring(minor));
}

// Writes what it sees as its parent into the file named by the argument.
TEST_CHILD_ROLE(ReportParent) {
    std::ofstream out(enginetest::Narrow(argument), std::ios::binary);
    out << enginetest::Narrow(GetParentProcessPath());
    return 0;
}

TEST(ParentProcess, TheChildSeesThisProgram) {
    testsupport::TempFolder folder;
    const std::wstring file = folder.File(L"parent.txt");
    ASSERT_EQ(testsupport::RunChild("ReportParent", file), 0);
    wchar_t self[MAX_PATH] = {};
    ASSERT_GT(::GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    EXPECT_EQ(_stricmp(testsupport::ReadBytes(file).c_str(), enginetest::Narrow(LongPathOf(self)).c_str()), 0)
        << testsupport::ReadBytes(file);
}

TEST(MessageBoxStandIn, QuietAnswersMinusOneAndLogsTheText) {
    enginetest::CapturedLog log;
    CMessageBox::SetQuiet(true);
    for (UINT type : {0u, 1u, 2u, 4u, 0x14u}) EXPECT_EQ(CMessageBox::ShowMessage(nullptr, L"quiet text", type), -1);
    CMessageBox::SetQuiet(false);
    EXPECT_TRUE(log.Has("message box (type 4, quiet): quiet text")) << log.Text();
}

TEST(MessageBoxStandIn, LoudAnswersTheSafeButton) {
    enginetest::CapturedLog log;
    CMessageBox::SetQuiet(false);
    struct Case {
        UINT type;
        int answer;
    } cases[] = {{0, IDOK}, {1, IDCANCEL}, {4, IDNO}, {0x24, IDNO}, {2, IDCLOSE}, {3, IDCLOSE}};
    for (const Case& c : cases) EXPECT_EQ(CMessageBox::ShowMessage(nullptr, L"loud text", c.type), c.answer) << c.type;
    EXPECT_TRUE(log.Has("message box (type 4, answer 7): loud text")) << log.Text();
}

TEST(ServerHostsOverride, Table) {
    ServerHosts hosts = DefaultServerHosts();
    ASSERT_TRUE(ParseServerHostsOverride(L"http://127.0.0.1:8080/", hosts));
    EXPECT_EQ(hosts.statistics, L"127.0.0.1:8080");
    EXPECT_EQ(hosts.webService, L"127.0.0.1:8080");
    EXPECT_EQ(hosts.download, L"127.0.0.1:8080");
    EXPECT_EQ(hosts.accountCentre, L"127.0.0.1:8080");

    hosts = DefaultServerHosts();
    ASSERT_TRUE(ParseServerHostsOverride(L" Statistics=localhost:81 ; webservice=http://127.0.0.1:82,", hosts));
    EXPECT_EQ(hosts.statistics, L"localhost:81");
    EXPECT_EQ(hosts.webService, L"127.0.0.1:82");
    EXPECT_EQ(hosts.download, DefaultServerHosts().download);

    for (const wchar_t* bad : {L"", L"   ", L"http://", L"nosuch=localhost:1", L"statistics=", L"statistics=a b",
                               L"statistics=localhost:1;junk", L"host/path"}) {
        ServerHosts untouched = DefaultServerHosts();
        EXPECT_FALSE(ParseServerHostsOverride(bad, untouched)) << enginetest::Narrow(bad);
        EXPECT_EQ(untouched.statistics, DefaultServerHosts().statistics);
    }
}

TEST(UninstallEndReport, DaysCountCalendarDays) {
    SYSTEMTIME now = {};
    ASSERT_TRUE(voro::endreport::ParseLocalTime(L"2020-02-01 00:00:01", now));
    EXPECT_EQ(voro::endreport::DaysSinceInstall(L"2020-01-31 23:59:59", now), 1);
    EXPECT_EQ(voro::endreport::DaysSinceInstall(L"2020-02-01 23:59:59", now), 0);
    EXPECT_EQ(voro::endreport::DaysSinceInstall(L"2019-02-01 12:00:00", now), 365);
    EXPECT_EQ(voro::endreport::DaysSinceInstall(L"2020-01-31", now), 0);  // not all six fields
    EXPECT_EQ(voro::endreport::DaysSinceInstall(L"", now), 0);
    EXPECT_EQ(voro::endreport::FormatLocalTime(now), L"2020-02-01 00:00:01");
}

TEST(UninstallEndReport, InstallDateEncodedForTheUrl) {
    using voro::endreport::EncodeForUrl;
    EXPECT_EQ(EncodeForUrl(L"2020-01-31 23:59:59"), L"2020-01-31%2023:59:59");
    EXPECT_EQ(EncodeForUrl(L"a&b=c?d#e+f"), L"a%26b%3dc%3fd%23e%2bf");
    EXPECT_EQ(EncodeForUrl(L"!'()*-._~:/%"), L"!'()*-._~:/%");
    EXPECT_EQ(EncodeForUrl(L"\u58c1"), L"%e5%a3%81");  // a Chinese character in UTF-8
    EXPECT_EQ(EncodeForUrl(std::wstring(1000, L' ')).size(), 2598u);  // cut at 2600 characters
    EXPECT_EQ(voro::endreport::UninstallEndExtra(3, L"x%20y"), L"&ex1=3&ex2=x%20y");
}

}  // namespace
