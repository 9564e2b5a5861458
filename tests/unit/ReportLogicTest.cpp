// Callers of the network module and the statistics dots without any network: URL building,
// answer parsing, the report's rules, and the callers' handling of a scripted fake module.
#include "NetTestSupport.h"
#include "config/RemoteConfigRequest.h"
#include "config/UninstallConfig.h"
#include "config/UninstallFeedbackConfig.h"
#include "report/HttpTaskAdapterPost.h"
#include "report/ServerHosts.h"
#include "report/Statistic.h"
#include "report/StringCipher.h"
#include "report/UninstallReport.h"
#include <gtest/gtest.h>
#include <thread>

using namespace testsupport;

namespace {

// ---- dots ----------------------------------------------------------------------------------

TEST(DotUrl, PlaceholdersReplacedInOrderWithValuesUnescaped) {
    const struct {
        DotIdentity identity;
        const wchar_t* action;
        const wchar_t* extra;
        const wchar_t* expected;
    } cases[] = {
        {{L"1.2.3.4", L"M1", L"tesk", L"p 1&x", L"M2"}, L"uninstall_1", nullptr,
         L"http://h:81/dot?ptype=voropaper&pid=p 1&x&type=tesk&action=uninstall_1&appver=1.2.3.4&mid=M1&mid2=M2"},
        {{L"", L"", L"tesk", L"", L""}, L"a", L"&ex1=b&ex2=6.1",
         L"http://h:81/dot?ptype=voropaper&pid=&type=tesk&action=a&appver=&mid=&mid2=&ex1=b&ex2=6.1"},
        // Replacement order: a type that looks like a later placeholder is replaced again.
        {{L"V", L"", L"{ver}", L"", L""}, L"a", nullptr,
         L"http://h:81/dot?ptype=voropaper&pid=&type=V&action=a&appver=V&mid=&mid2="},
    };
    for (const auto& c : cases) EXPECT_EQ(BuildDotUrl(L"h:81", c.identity, c.action, c.extra), c.expected);
}

TEST(DotUrl, GatewayPresenceIsANonEmptyFirstAddress) {
    const struct {
        std::vector<const char*> gateways;
        bool expected;
    } cases[] = {
        {{}, false}, {{""}, false}, {{"", ""}, false}, {{"0.0.0.0"}, true}, {{"", "x"}, true}, {{"192.168.1.1", ""}, true},
    };
    for (const auto& c : cases) {
        std::vector<IP_ADAPTER_INFO> adapters(c.gateways.size());
        for (size_t i = 0; i < adapters.size(); ++i) {
            memset(&adapters[i], 0, sizeof(IP_ADAPTER_INFO));
            strcpy(adapters[i].GatewayList.IpAddress.String, c.gateways[i]);
            adapters[i].Next = i + 1 < adapters.size() ? &adapters[i + 1] : nullptr;
        }
        EXPECT_EQ(AnyAdapterHasGateway(adapters.empty() ? nullptr : adapters.data()), c.expected);
    }
}

class NoSendStatistic : public CStatistic {
public:
    int Download(const wchar_t* url, bool asynchronous) override {
        urls.push_back(url);
        this->asynchronous = asynchronous;
        return 1;
    }
    int GetMid(wchar_t* out, size_t n) override { return wcsncpy(out, L"M", n), 1; }
    int GetMid2(wchar_t* out, size_t n) override { return wcsncpy(out, L"M2", n), 1; }
    std::vector<std::wstring> urls;
    bool asynchronous = false;
};

TEST(Dot, NothingIsSentWithoutActionOrType) {
    NoSendStatistic statistic;
    EXPECT_EQ(statistic.Dot(L"uninstall_1", nullptr, 0), 0) << "no type yet";
    statistic.SetType(L"tesk");
    EXPECT_EQ(statistic.Dot(nullptr, nullptr, 0), 0);
    EXPECT_EQ(statistic.Dot(L"", nullptr, 0), 0);
    EXPECT_TRUE(statistic.urls.empty());
    EXPECT_EQ(statistic.Dot(L"uninstall_1", nullptr, 1), 1);
    ASSERT_EQ(statistic.urls.size(), 1u);
    EXPECT_FALSE(statistic.asynchronous);
}

TEST(Dot, FileVersionOfAFileWithoutOneFails) {
    NoSendStatistic statistic;
    wchar_t text[32] = L"unchanged";
    EXPECT_EQ(statistic.GetFileVersion(L"C:\\no\\such\\file.exe", text, 32), 0);
    EXPECT_EQ(statistic.GetFileVersion(L"C:\\windows\\system32\\kernel32.dll", text, 0), 0);
}

TEST(Dot, FileVersionIsCutToTheBuffer) {
    NoSendStatistic statistic;
    wchar_t full[64] = {}, cut[4] = {};
    ASSERT_EQ(statistic.GetFileVersion(L"C:\\windows\\system32\\kernel32.dll", full, 64), 1);
    EXPECT_EQ(std::count(full, full + wcslen(full), L'.'), 3) << full;
    ASSERT_EQ(statistic.GetFileVersion(L"C:\\windows\\system32\\kernel32.dll", cut, 4), 1);
    EXPECT_EQ(std::wstring(cut), std::wstring(full).substr(0, 3));
}

// ---- remote configuration answers ----------------------------------------------------------

TEST(OptionsAnswer, Table) {
    const std::vector<int> defaults = {1, 2, 3, 4};
    const struct {
        const char* body;
        bool received;
        std::vector<int> kinds;
    } cases[] = {
        {R"({"errno":0,"data":"3"})", true, {3}},
        {R"({"errno":0,"data":"1,,4"})", true, {1, 0, 4}},
        {R"({"errno":0,"data":"2,"})", true, {2, 0}},
        {R"({"ERRNO":0,"Data":" 7x,-2"})", true, {7, -2}},
        {R"({"errno":0,"data":"99999999999"})", true, {2147483647}},
        {R"({"errno":0})", false, defaults},
        {R"({"errno":0,"data":3})", false, defaults},
        {R"({"errno":0,"data":["3"]})", false, defaults},
        {R"({"errno":0,"data":""})", false, defaults},
        {R"({"errno":1,"data":"3"})", false, defaults},
        {R"({"errno":"0","data":"3"})", false, defaults},
        {R"({"data":"3"})", false, defaults},
        {R"(["errno",0])", false, defaults},
        {"not json", false, defaults},
        {nullptr, false, defaults},
    };
    for (const auto& c : cases) {
        std::vector<int> kinds = defaults;
        EXPECT_EQ(ParseUninstallOptions(c.body, kinds), c.received) << (c.body ? c.body : "null");
        EXPECT_EQ(kinds, c.kinds) << (c.body ? c.body : "null");
    }
}

TEST(QuestionnaireAnswer, Table) {
    const struct {
        const char* body;
        bool stored;
        const wchar_t* url;
    } cases[] = {
        {R"({"errno":0,"data":{"uninstall_questionnaire":{"status":"1","url":"http://q/\u95ee"}}})", true, L"http://q/\u95ee"},
        {R"({"errno":0,"data":{"Uninstall_Questionnaire":{"STATUS":"2"}}})", true, L""},
        {R"({"errno":0,"data":{"uninstall_questionnaire":{"status":"0","url":"http://q"}}})", false, L"old"},
        {R"({"errno":0,"data":{"uninstall_questionnaire":{"status":1,"url":"http://q"}}})", false, L"old"},
        {R"({"errno":0,"data":{"uninstall_questionnaire":{"url":"http://q"}}})", false, L"old"},
        {R"({"errno":0,"data":{}})", false, L"old"},
        {R"({"errno":0,"data":"x"})", false, L"old"},
        {R"({"errno":2,"data":{"uninstall_questionnaire":{"status":"1","url":"http://q"}}})", false, L"old"},
        {"{", false, L"old"},
    };
    for (const auto& c : cases) {
        std::wstring url = L"old";
        EXPECT_EQ(ParseQuestionnaireUrl(c.body, url), c.stored) << c.body;
        EXPECT_EQ(url, c.url) << c.body;
    }
}

TEST(RemoteConfigUrl, ValuesInsertedUnescaped) {
    EXPECT_EQ(BuildRemoteConfigUrl(L"h", kUninstallOptionsPath, {L"1.0.0.2", L"", L"a b"}),
              L"http://h/live/intf/getUninstallOptions?appver=1.0.0.2&modver=&pid=a b");
    EXPECT_EQ(BuildRemoteConfigUrl(L"h:8", kQuestionnaireConfigPath, {L"1", L"2", L"3"}),
              L"http://h:8/live/intf/GetConfig?appver=1&modver=2&pid=3");
}

// ---- remote configuration clients against the fake module ----------------------------------

TEST(FeedbackConfig, WithoutModuleNothingStartsAndTheDefaultsStay) {
    ScopedFactory none(nullptr);
    UninstallFeedbackConfig config;
    config.StartFetch();
    std::vector<int> kinds;
    EXPECT_EQ(config.GetFeedback(kinds), 0);
    EXPECT_EQ(kinds, (std::vector<int>{1, 2, 3, 4}));
}

TEST(FeedbackConfig, RequestsOnceAndTakesOnlyItsOwnFinalAnswer) {
    FakeFactory factory;
    ScopedFactory scoped(&factory);
    ServerHosts hosts = GetServerHosts();
    hosts.webService = L"svc.test:8080";
    SetServerHosts(hosts);
    UninstallFeedbackConfig config;
    config.StartFetch();
    FakeTask& task = factory.task;
    EXPECT_EQ(task.options, (std::vector<std::string>{"ungzip=0", "gzip=0"}));
    EXPECT_EQ(task.method, kHttpGet);
    EXPECT_EQ(task.url.rfind(L"http://svc.test:8080/live/intf/getUninstallOptions?appver=", 0), 0u) << task.url;
    ASSERT_EQ(task.callbacks.size(), 1u);
    EXPECT_EQ(task.callbacks[0], static_cast<IHttpTaskCallback*>(&config));

    FakeTask other;
    task.Deliver(kHttpTaskReceiving, R"({"errno":0,"data":"9"})");
    task.Deliver(kHttpTaskSucceeded, R"({"errno":0,"data":"8"})", &other);
    EXPECT_FALSE(task.released);
    task.Deliver(kHttpTaskSucceeded, R"({"errno":0,"data":"3"})");
    EXPECT_TRUE(task.released);
    std::vector<int> kinds;
    EXPECT_EQ(config.GetFeedback(kinds), 1);
    EXPECT_EQ(kinds, std::vector<int>{3});
    SetServerHosts(DefaultServerHosts());
}

TEST(FeedbackConfig, FailedAnswerEndsTheWaitWithDefaults) {
    FakeFactory factory;
    ScopedFactory scoped(&factory);
    UninstallFeedbackConfig config;
    config.StartFetch();
    factory.task.Deliver(kHttpTaskFailed, R"({"errno":0,"data":"3"})");
    EXPECT_TRUE(factory.task.released);
    std::vector<int> kinds;
    EXPECT_EQ(config.GetFeedback(kinds), 0);
    EXPECT_EQ(kinds, (std::vector<int>{1, 2, 3, 4}));
}

TEST(FeedbackConfig, StopReleasesAPendingTask) {
    FakeFactory factory;
    ScopedFactory scoped(&factory);
    UninstallFeedbackConfig config;
    config.StartFetch();
    EXPECT_FALSE(factory.task.released);
    config.Stop();
    EXPECT_TRUE(factory.task.released);
}

TEST(QuestionnaireConfig, StoresTheAddressOfItsOwnAnswer) {
    FakeFactory factory;
    ScopedFactory scoped(&factory);
    CUninstallConfig config;
    config.GetConfig();
    EXPECT_NE(factory.task.url.find(L"/live/intf/GetConfig?appver="), std::wstring::npos);
    EXPECT_EQ(factory.task.options, (std::vector<std::string>{"ungzip=0", "gzip=0"}));
    factory.task.Deliver(kHttpTaskSucceeded,
                         R"({"errno":0,"data":{"uninstall_questionnaire":{"status":"1","url":"http://q/1"}}})");
    EXPECT_EQ(config.GetQuestionnaireUrl(), L"http://q/1");
    EXPECT_TRUE(factory.task.released);
}

TEST(QuestionnaireConfig, WithoutModuleTheAddressStaysEmpty) {
    ScopedFactory none(nullptr);
    CUninstallConfig config;
    config.GetConfig();
    EXPECT_EQ(config.GetQuestionnaireUrl(), L"");
}

// ---- blocking post -------------------------------------------------------------------------

// Delivers the final event from another thread once the request was made.
std::thread AnswerLater(FakeTask& task, int32_t state, const char* body) {
    return std::thread([&task, state, body] {
        for (int i = 0; i < 2000 && !task.requested; ++i) ::Sleep(5);
        task.Deliver(kHttpTaskReceiving, nullptr);
        task.Deliver(state, body);
    });
}

TEST(PostFormSync, SuccessReturnsTheBody) {
    FakeFactory factory;
    ScopedFactory scoped(&factory);
    std::thread answer = AnswerLater(factory.task, kHttpTaskSucceeded, "answer");
    std::string out;
    EXPECT_TRUE(PostFormSync(L"http://h/p", L"data", L"v\u00e9", out, 20000));
    answer.join();
    EXPECT_EQ(out, "answer");
    EXPECT_EQ(factory.task.method, kHttpPostForm);
    EXPECT_EQ(factory.task.url, L"http://h/p");
    ASSERT_EQ(factory.task.fields.size(), 1u);
    EXPECT_EQ(factory.task.fields[0], std::make_pair(std::wstring(L"data"), std::wstring(L"v\u00e9")));
    EXPECT_EQ(factory.task.options, (std::vector<std::string>{"ungzip=0", "gzip=0"}));
    EXPECT_TRUE(factory.task.released);
    EXPECT_EQ(factory.task.callbackAtRelease, nullptr) << "unregistered before the release";
}

TEST(PostFormSync, FailuresReturnFalse) {
    {
        FakeFactory factory;
        ScopedFactory scoped(&factory);
        std::string out = "kept";
        EXPECT_FALSE(PostFormSync(L"http://h/p", L"data", L"v", out, 0));
        EXPECT_EQ(factory.created, 0) << "no task for a zero time-out";
        EXPECT_EQ(out, "kept");
    }
    {
        ScopedFactory none(nullptr);
        std::string out;
        EXPECT_FALSE(PostFormSync(L"http://h/p", L"data", L"v", out, 1000));
    }
    {
        FakeFactory factory;
        factory.failCreate = true;
        ScopedFactory scoped(&factory);
        std::string out;
        EXPECT_FALSE(PostFormSync(L"http://h/p", L"data", L"v", out, 1000));
    }
    {
        FakeFactory factory;
        factory.task.requestResult = 0;
        ScopedFactory scoped(&factory);
        std::string out;
        EXPECT_FALSE(PostFormSync(L"http://h/p", L"data", L"v", out, 1000));
        EXPECT_TRUE(factory.task.released);
    }
    {
        FakeFactory factory;
        ScopedFactory scoped(&factory);
        std::thread answer = AnswerLater(factory.task, kHttpTaskFailed, "body of a failure");
        std::string out = "kept";
        EXPECT_FALSE(PostFormSync(L"http://h/p", L"data", L"v", out, 20000));
        answer.join();
        EXPECT_EQ(out, "kept");
    }
}

TEST(PostFormSync, ExtraHandleEndsTheWait) {
    FakeFactory factory;
    ScopedFactory scoped(&factory);
    voro::UniqueKernelHandle cancel(::CreateEventW(nullptr, TRUE, TRUE, nullptr));
    std::string out;
    EXPECT_FALSE(PostFormSync(L"http://h/p", L"data", L"v", out, 60000, cancel.get()));
    EXPECT_TRUE(factory.task.requested);
    EXPECT_TRUE(factory.task.released);
}

TEST(PostFormSync, AnswerAfterTheTimeOutFindsNoCallback) {
    FakeFactory factory;
    ScopedFactory scoped(&factory);
    std::string out;
    EXPECT_FALSE(PostFormSync(L"http://h/p", L"data", L"v", out, 50));
    EXPECT_EQ(factory.task.callbackAtRelease, nullptr);
    factory.task.Deliver(kHttpTaskSucceeded, "late");  // reaches nobody
    EXPECT_EQ(out, "");
}

// ---- report rules --------------------------------------------------------------------------

TEST(ReportRules, DefaultResult) {
    const struct {
        const wchar_t* pid;
        int expected;
    } cases[] = {
        {L"system", 1}, {L"SYSTEM_01", 1}, {L"SyStEmX", 1}, {L"syste", 0}, {L"xsystem", 0}, {L"", 0},
        {L"ordinary", 0}, {L"voro_home", 1}, {L"VORO_OFFICIAL", 1}, {L"voro_home2", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(ReportDefaultResult(c.pid), c.expected) << c.pid;
}

TEST(ReportRules, JsonMembersInOrderUnformatted) {
    ReportFields fields{L"set", L"p\u00e9", L"M", L"M2", L"1.0", L"2.0"};
    EXPECT_EQ(BuildReportJson(fields),
              "{\"type\":\"set\",\"pid\":\"p\xc3\xa9\",\"mid\":\"M\",\"mid2\":\"M2\",\"appver\":\"1.0\","
              "\"modver\":\"2.0\",\"appname\":\"voro\"}");
}

TEST(ReportRules, AnswerResult) {
    auto cipher = [](const std::string& plain) {
        std::string out;
        EncryptBytes(plain, kReportCipherKey, out);
        return out;
    };
    const struct {
        std::string answer;
        int expected;
    } cases[] = {
        {cipher("MID2xyz"), 0}, {cipher("ok:MID2"), 1}, {cipher("nothing"), 0}, {"not base64 !!", 0}, {"", 0},
        {cipher(std::string("x\0MID2", 6)), 0},  // the text ends at the first zero byte
    };
    for (const auto& c : cases) EXPECT_EQ(ReportResultFromAnswer(c.answer, "MID2"), c.expected) << c.answer;
    EXPECT_EQ(ReportResultFromAnswer(cipher("abc"), ""), 0);
}

}  // namespace
