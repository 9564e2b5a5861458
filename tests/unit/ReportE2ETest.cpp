// Every request of the dots, the remote configuration and the uninstall report, through the
// real module and the system download functions, against the loopback server in a fresh prefix.
#include "NetTestSupport.h"
#include "app/OemConfig.h"
#include "app/Registry.h"
#include "config/UninstallConfig.h"
#include "config/UninstallFeedbackConfig.h"
#include "report/ServerHosts.h"
#include "report/HttpTaskAdapterPost.h"
#include "report/Statistic.h"
#include "report/StringCipher.h"
#include "report/TvnMID2.h"
#include "report/UninstallReport.h"
#include <gtest/gtest.h>

using namespace testsupport;

namespace {

constexpr wchar_t kUserKey[] = L"Software\\VoroWallPaper";

void PointHostsAt(const std::wstring& host) {
    ServerHosts hosts = DefaultServerHosts();
    hosts.statistics = hosts.webService = host;
    SetServerHosts(hosts);
}

// Dots go to "localhost": Wine's URL cache takes a file extension from the last dot anywhere in
// the URL, and one like "1:port/dot?..." is no valid file name, so http://127.0.0.1:port/dot?...
// without a later dot fails there before any request is sent.
std::wstring DotHost(const LoopbackServer& server) { return L"localhost:" + std::to_wstring(server.Port()); }

// Fixed identifiers, so that the query can be compared as a whole.
class FixedIdStatistic : public CStatistic {
public:
    int GetMid(wchar_t* out, size_t n) override { return wcsncpy(out, L"0123abcd", n), 1; }
    int GetMid2(wchar_t* out, size_t n) override { return wcsncpy(out, L"M2+/=x", n), 1; }
};

TEST(DotsOnTheWire, DetachedDotCarriesTheQueryInOrder) {
    LoopbackServer server;
    ASSERT_TRUE(server.Started());
    PointHostsAt(DotHost(server));
    ASSERT_TRUE(voro::reg::WriteString(HKEY_CURRENT_USER, kUserKey, L"pid", L"tesk_01"));
    FixedIdStatistic statistic;
    statistic.SetType(L"tesk");
    EXPECT_EQ(statistic.Dot(L"uninstall_1", nullptr, 0), 1);
    ASSERT_TRUE(server.WaitForRequests(1, 30000));
    const RecordedRequest request = server.Requests()[0];
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.path, "/dot");
    EXPECT_EQ(request.query,
              "ptype=voropaper&pid=tesk_01&type=tesk&action=uninstall_1&appver=&mid=0123abcd&mid2=M2+/=x");
}

TEST(DotsOnTheWire, SynchronousDotArrivesBeforeTheCallReturns) {
    LoopbackServer server;
    ASSERT_TRUE(server.Started());
    PointHostsAt(DotHost(server));
    FixedIdStatistic statistic;
    statistic.SetType(L"tesk");
    EXPECT_EQ(statistic.Dot(L"uninstall_from", L"&ex1=explorer&ex2=6.1", 1), 1);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].query,
              "ptype=voropaper&pid=&type=tesk&action=uninstall_from&appver=&mid=0123abcd&mid2=M2+/=x&ex1=explorer&ex2=6.1");
}

TEST(DotsOnTheWire, OemStatisHostReplacesTheHostEverywhereAndKeepsThePort) {
    LoopbackServer server;
    ASSERT_TRUE(server.Started());
    const wchar_t kSwitchKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Divizodaz.exe";
    const std::wstring valuesKey = std::wstring(kSwitchKey) + L"\\oemconfig";
    ASSERT_TRUE(voro::reg::WriteString(HKEY_LOCAL_MACHINE, kSwitchKey, L"oem_f", L"1"));
    std::wstring name, data;
    ASSERT_TRUE(EncryptText(L"statis", COemConfig::kCipherKey, name));
    ASSERT_TRUE(EncryptText(L"127.0.0.1", COemConfig::kCipherKey, data));
    ASSERT_TRUE(voro::reg::WriteString(HKEY_LOCAL_MACHINE, valuesKey, name, data));
    PointHostsAt(L"dots.oem-test.invalid:" + std::to_wstring(server.Port()));
    FixedIdStatistic statistic;
    statistic.SetType(L"tesk");
    EXPECT_EQ(statistic.Dot(L"uninstall_1", L"&ex1=dots.oem-test.invalid", 1), 1);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NE(requests[0].query.find("&ex1=127.0.0.1"), std::string::npos) << requests[0].query;
    EXPECT_EQ(requests[0].query.find("oem-test"), std::string::npos) << requests[0].query;
}

// Reports no network and lets the test wait for the dot thread's end.
class OfflineStatistic : public FixedIdStatistic {
public:
    bool IsNetworkAvailable() override {
        ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &thread, SYNCHRONIZE,
                          FALSE, 0);
        ::SetEvent(asked.get());
        return false;
    }
    voro::UniqueKernelHandle asked{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    HANDLE thread = nullptr;
};

TEST(DotsOnTheWire, WithoutNetworkADetachedDotIsDropped) {
    LoopbackServer server;
    ASSERT_TRUE(server.Started());
    PointHostsAt(DotHost(server));
    OfflineStatistic statistic;
    statistic.SetType(L"tesk");
    EXPECT_EQ(statistic.Dot(L"uninstall_1", nullptr, 0), 1);
    ASSERT_EQ(::WaitForSingleObject(statistic.asked.get(), 30000), WAIT_OBJECT_0);
    ASSERT_EQ(::WaitForSingleObject(statistic.thread, 30000), WAIT_OBJECT_0);
    ::CloseHandle(statistic.thread);
    EXPECT_TRUE(server.Requests().empty());
}

// ---- remote configuration ------------------------------------------------------------------

std::string OptionsRules(const char* rule) {
    return std::string(R"({"/live/intf/getUninstallOptions":)") + rule + "}";
}

TEST(RemoteConfigOnTheWire, OptionsRequestAndAnswer) {
    LoopbackServer server(OptionsRules(R"({"body":"{\"errno\":0,\"data\":\"1,,4\"}"})"));
    ASSERT_TRUE(server.Started());
    ASSERT_TRUE(UseSignedModule());
    PointHostsAt(server.Host());
    ASSERT_TRUE(voro::reg::WriteString(HKEY_CURRENT_USER, kUserKey, L"pid", L" chan_9 \t"));
    UninstallFeedbackConfig config;
    config.StartFetch();
    ASSERT_TRUE(server.WaitForRequests(1));
    std::vector<int> kinds;
    // The answer may still be on its way after two seconds on a loaded machine: ask until it came.
    int received = 0;
    for (int i = 0; i < 10 && !received; ++i) received = config.GetFeedback(kinds);
    EXPECT_EQ(received, 1);
    EXPECT_EQ(kinds, (std::vector<int>{1, 0, 4}));
    const RecordedRequest request = server.Requests()[0];
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.path, "/live/intf/getUninstallOptions");
    EXPECT_EQ(request.query, "appver=&modver=&pid=chan_9");
}

TEST(RemoteConfigOnTheWire, BrokenServersLeaveTheDefaults) {
    const char* rules[] = {
        R"({"mode":"silent"})", R"({"mode":"garbage"})", R"({"mode":"huge"})",
        R"({"mode":"close","body":"{\"errno\":0,\"data\":\"3\"}"})",
        R"({"mode":"status","status":503,"body":"{\"errno\":0,\"data\":\"3\"}"})",
        R"({"body":"{\"errno\":5,\"data\":\"3\"}"})",
    };
    ASSERT_TRUE(UseSignedModule());
    for (const char* rule : rules) {
        LoopbackServer server(OptionsRules(rule));
        ASSERT_TRUE(server.Started());
        PointHostsAt(server.Host());
        UninstallFeedbackConfig config;
        config.StartFetch();
        ASSERT_TRUE(server.WaitForRequests(1)) << rule;
        std::vector<int> kinds;
        EXPECT_EQ(config.GetFeedback(kinds), 0) << rule;
        EXPECT_EQ(kinds, (std::vector<int>{1, 2, 3, 4})) << rule;
        config.Stop();
    }
}

TEST(RemoteConfigOnTheWire, QuestionnaireRequestAndAnswer) {
    LoopbackServer server(
        R"({"/live/intf/GetConfig":{"body":"{\"errno\":0,\"data\":{\"uninstall_questionnaire\":{\"status\":\"1\",\"url\":\"http://q.test/s?id=1\"}}}"}})");
    ASSERT_TRUE(server.Started());
    ASSERT_TRUE(UseSignedModule());
    PointHostsAt(server.Host());
    CUninstallConfig config;
    config.GetConfig();
    ASSERT_TRUE(server.WaitForRequests(1));
    EXPECT_TRUE(PumpUntil([&] { return !config.GetQuestionnaireUrl().empty(); }, 30000));
    EXPECT_EQ(config.GetQuestionnaireUrl(), L"http://q.test/s?id=1");
    const RecordedRequest request = server.Requests()[0];
    EXPECT_EQ(request.path, "/live/intf/GetConfig");
    EXPECT_EQ(request.query, "appver=&modver=&pid=");
}

// ---- uninstall report ----------------------------------------------------------------------

std::string ReportRules(const std::string& answerPlain) {
    std::string cipher;
    EncryptBytes(answerPlain, kReportCipherKey, cipher);
    return R"({"/pc/udda/dogsun":{"body":")" + cipher + R"("}})";
}

TEST(ReportOnTheWire, ServerDecryptsTheMembersInOrder) {
    const std::string mid2 = Narrow(GetMid2());
    ASSERT_FALSE(mid2.empty());
    LoopbackServer server(ReportRules("ok," + mid2));
    ASSERT_TRUE(server.Started());
    ASSERT_TRUE(UseSignedModule());
    PointHostsAt(server.Host());
    EXPECT_EQ(ReportUninstallInfo(L"set", L"ordinary", L"3.1.0.8"), 1);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].path, "/pc/udda/dogsun");
    ASSERT_EQ(requests[0].fields.size(), 1u);
    std::string plain;
    ASSERT_TRUE(DecryptBytes(requests[0].Field("data"), kReportCipherKey, plain));
    plain.resize(strnlen(plain.c_str(), plain.size()));
    EXPECT_EQ(plain, "{\"type\":\"set\",\"pid\":\"ordinary\",\"mid\":\"" + Narrow(GetMid()) + "\",\"mid2\":\"" + mid2 +
                         "\",\"appver\":\"3.1.0.8\",\"modver\":\"\",\"appname\":\"voro\"}");
}

TEST(ReportOnTheWire, Mid2AtTheStartOfTheAnswerGivesZero) {
    LoopbackServer server(ReportRules(Narrow(GetMid2()) + ",ok"));
    ASSERT_TRUE(server.Started());
    ASSERT_TRUE(UseSignedModule());
    PointHostsAt(server.Host());
    EXPECT_EQ(ReportUninstallInfo(L"set", L"system_pid", L"1"), 0);
}

TEST(ReportOnTheWire, WithoutAnswerTheDefaultStays) {
    const struct {
        const char* rules;
        const wchar_t* pid;
        int expected;
    } cases[] = {
        {R"({"*":{"mode":"status","status":500}})", L"SYSTEM7", 1},
        {R"({"*":{"mode":"status","status":500}})", L"ordinary", 0},
        {R"({"*":{"mode":"close","body":"abcdefgh"}})", L"voro_home", 1},
        {R"({"*":{"mode":"garbage"}})", L"system", 0},  // an answer that does not decrypt
    };
    ASSERT_TRUE(UseSignedModule());
    for (const auto& c : cases) {
        LoopbackServer server(c.rules);
        ASSERT_TRUE(server.Started());
        PointHostsAt(server.Host());
        EXPECT_EQ(ReportUninstallInfo(L"set", c.pid, L"1"), c.expected) << c.rules;
        EXPECT_EQ(server.Requests().size(), 1u);
    }
}

TEST(ReportOnTheWire, WithoutModuleTheDefaultIsReturnedAndNothingSent) {
    LoopbackServer server;
    ASSERT_TRUE(server.Started());
    PointHostsAt(server.Host());
    ScopedFactory none(nullptr);
    EXPECT_EQ(ReportUninstallInfo(L"set", L"SyStem_x", L"1"), 1);
    EXPECT_EQ(ReportUninstallInfo(L"set", L"ordinary", L"1"), 0);
    EXPECT_TRUE(server.Requests().empty());
}

TEST(ModuleGate, ARejectedModuleLeavesEveryCallerSilent) {
    LoopbackServer server;
    ASSERT_TRUE(server.Started());
    PointHostsAt(server.Host());
    // The start-up load from a folder whose module is signed by a foreign publisher.
    std::wstring folder = NetModulePath("foreign");
    folder.resize(folder.find_last_of(L'\\'));
    EXPECT_FALSE(LoadHttpModule(folder));
    EXPECT_EQ(GetHttpTaskFactory(), nullptr);
    UninstallFeedbackConfig options;
    options.StartFetch();
    std::vector<int> kinds;
    EXPECT_EQ(options.GetFeedback(kinds), 0);
    CUninstallConfig questionnaire;
    questionnaire.GetConfig();
    std::string out;
    EXPECT_FALSE(PostFormSync(L"http://127.0.0.1:1/x", L"data", L"v", out, 1000));
    EXPECT_EQ(ReportUninstallInfo(L"set", L"ordinary", L"1"), 0);
    EXPECT_TRUE(server.Requests().empty());
}

}  // namespace
