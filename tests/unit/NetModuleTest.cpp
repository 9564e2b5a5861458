// The network module QuonNetUL.dll: its pure form encoding, its loading behind the publisher
// check, and its requests against the loopback server, failure modes included.
#include "Multipart.h"
#include "NetTestSupport.h"
#include "app/Utf8.h"
#include "report/UpLoadMgr.h"
#include <gtest/gtest.h>
#include <algorithm>

using namespace testsupport;

namespace {

struct MultipartCase {
    std::vector<quonnet::FormField> fields;
    std::string expected;
};

TEST(MultipartBody, PartsInOrderWithSafeNames) {
    const MultipartCase cases[] = {
        {{}, "--B--\r\n"},
        {{{"data", "abc"}}, "--B\r\nContent-Disposition: form-data; name=\"data\"\r\n\r\nabc\r\n--B--\r\n"},
        {{{"a", ""}, {"b", "1\r\n2"}},
         "--B\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n\r\n"
         "--B\r\nContent-Disposition: form-data; name=\"b\"\r\n\r\n1\r\n2\r\n--B--\r\n"},
        {{{"x\"y\r\n", "v"}}, "--B\r\nContent-Disposition: form-data; name=\"x%22y%0D%0A\"\r\n\r\nv\r\n--B--\r\n"},
    };
    for (const MultipartCase& c : cases) EXPECT_EQ(quonnet::BuildMultipartBody(c.fields, "B"), c.expected);
}

TEST(MultipartBody, BoundaryAvoidsFieldContent) {
    const std::string first = quonnet::ChooseBoundary({}, 42);
    const std::string second = quonnet::ChooseBoundary({{"f", "xx" + first + "yy"}}, 42);
    EXPECT_NE(second, first);
    EXPECT_EQ(second.find(first), std::string::npos);
}

TEST(MultipartBody, WideTextBecomesUtf8) {
    EXPECT_EQ(voro::Utf8FromWide(L"\u5378\u8f7d a"), "\xe5\x8d\xb8\xe8\xbd\xbd a");
    EXPECT_EQ(voro::Utf8FromWide(static_cast<const wchar_t*>(nullptr)), "");
}

TEST(NetModuleLoading, OnlyTheSignedModuleGivesAFactory) {
    const struct {
        const char* flavour;
        bool loads;
    } cases[] = {{"signed", true}, {"unsigned", false}, {"foreign", false}, {"missing", false}};
    for (const auto& c : cases) {
        HttpModule record;
        EXPECT_EQ(LoadHttpModuleInto(NetModulePath(c.flavour).c_str(), record), c.loads) << c.flavour;
        EXPECT_EQ(record.factory != nullptr, c.loads) << c.flavour;
        EXPECT_EQ(record.module != nullptr, c.loads) << c.flavour;
    }
}

TEST(NetModuleLoading, SecondInitGivesAnIndependentFactory) {
    HttpModule first, second;
    ASSERT_TRUE(LoadHttpModuleInto(NetModulePath("signed").c_str(), first));
    ASSERT_TRUE(LoadHttpModuleInto(NetModulePath("signed").c_str(), second));
    EXPECT_NE(first.factory, second.factory);
    second.uninit(second.factory);
    IHttpTask* task = first.factory->CreateTask();
    ASSERT_NE(task, nullptr);
    EXPECT_EQ(task->Release(), 1);
}

TEST(NetModuleLoading, UploadManagerLoadsOnceBehindTheCheck) {
    CUpLoadMgr manager;
    EXPECT_EQ(manager.Init(nullptr), 0);
    EXPECT_EQ(manager.Init(NetModulePath("unsigned").c_str()), 0);
    EXPECT_EQ(manager.Init(NetModulePath("missing").c_str()), 0);
    EXPECT_FALSE(manager.IsLoaded());
    EXPECT_EQ(manager.Init(NetModulePath("signed").c_str()), 1);
    EXPECT_TRUE(manager.IsLoaded());
    EXPECT_NE(manager.Module().factory, nullptr);
    EXPECT_EQ(manager.Init(nullptr), 1) << "already loaded";
}

class NetModuleRequest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(SignedFactory(), nullptr); }
    HttpTaskHolder NewTask(IHttpTaskCallback* callback) {
        HttpTaskHolder task = HoldHttpTask(SignedFactory()->CreateTask());
        task->SetOption("ungzip", 0);
        task->SetOption("gzip", 0);
        task->SetCallback(callback);
        return task;
    }
};

TEST_F(NetModuleRequest, GetSendsTheQueryAsGivenAndEndsOnce) {
    LoopbackServer server(R"({"*":{"body":"{\"errno\":0,\"data\":\"1,3\"}"}})");
    ASSERT_TRUE(server.Started());
    RecordingCallback callback;
    HttpTaskHolder task = NewTask(&callback);
    const std::wstring url = L"http://" + server.Host() + L"/live/intf/getUninstallOptions?appver=1.2&modver=&pid=a_b";
    ASSERT_EQ(task->Request(kHttpGet, url.c_str()), 1);
    ASSERT_TRUE(callback.WaitFinished());
    std::vector<int32_t> states = callback.States();
    ASSERT_FALSE(states.empty());
    EXPECT_EQ(states.back(), kHttpTaskSucceeded);
    for (size_t i = 0; i + 1 < states.size(); ++i) EXPECT_LE(states[i], kHttpTaskReceiving);
    EXPECT_EQ(callback.Body(), "{\"errno\":0,\"data\":\"1,3\"}");
    EXPECT_EQ(task->GetState(), kHttpTaskSucceeded);
    EXPECT_EQ(task->GetHttpStatus(), 200);
    ASSERT_EQ(server.Requests().size(), 1u);
    const RecordedRequest request = server.Requests()[0];
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.path, "/live/intf/getUninstallOptions");
    EXPECT_EQ(request.query, "appver=1.2&modver=&pid=a_b");
    EXPECT_EQ(task->Request(kHttpGet, url.c_str()), 0) << "one request a task";
}

TEST_F(NetModuleRequest, PostSendsWideFieldsAsUtf8AndNarrowOnesAsGiven) {
    LoopbackServer server;
    ASSERT_TRUE(server.Started());
    RecordingCallback callback;
    HttpTaskHolder task = NewTask(&callback);
    task->AddFieldW(L"reason", L"\u5e7f\u544a\u592a\u591a");
    task->AddField("data", "QUJD+/=");
    task->AddFieldW(L"empty", L"");
    const std::wstring url = L"http://" + server.Host() + L"/live/uninstall/addUninstallReason?";
    ASSERT_EQ(task->Request(kHttpPostForm, url.c_str()), 1);
    ASSERT_TRUE(callback.WaitFinished());
    ASSERT_EQ(server.Requests().size(), 1u);
    const RecordedRequest request = server.Requests()[0];
    EXPECT_EQ(request.method, "POST");
    ASSERT_EQ(request.fields.size(), 3u);
    EXPECT_EQ(request.fields[0], std::make_pair(std::string("reason"), std::string("\xe5\xb9\xbf\xe5\x91\x8a\xe5\xa4\xaa\xe5\xa4\x9a")));
    EXPECT_EQ(request.fields[1], std::make_pair(std::string("data"), std::string("QUJD+/=")));
    EXPECT_EQ(request.fields[2], std::make_pair(std::string("empty"), std::string()));
}

TEST_F(NetModuleRequest, RefusesWhatItCannotSend) {
    RecordingCallback callback;
    HttpTaskHolder task = NewTask(&callback);
    EXPECT_EQ(task->Request(1, L"http://127.0.0.1:1/"), 0);
    EXPECT_EQ(task->Request(kHttpGet, L"ftp://127.0.0.1/x"), 0);
    EXPECT_EQ(task->Request(kHttpGet, nullptr), 0);
    EXPECT_EQ(task->SetOption("gzip", 1), 0);
    EXPECT_EQ(task->SetOption("no such option", 1), 0);
}

// Every broken answer ends with exactly one failure event and no body.
TEST_F(NetModuleRequest, BrokenAnswersFail) {
    const struct {
        const char* rules;
        int32_t final;
    } cases[] = {
        {R"({"*":{"mode":"status","status":500,"body":"{\"errno\":0}"}})", kHttpTaskFailed},
        {R"({"*":{"mode":"status","status":404}})", kHttpTaskFailed},
        {R"({"*":{"mode":"huge"}})", kHttpTaskFailed},
        {R"({"*":{"mode":"close","body":"{\"errno\":0,\"data\":\"3\"}"}})", kHttpTaskFailed},
        {R"({"*":{"mode":"silent"}})", kHttpTaskFailed},
        {R"({"*":{"mode":"garbage"}})", kHttpTaskSucceeded},  // a 200 answer: its bytes are the caller's problem
    };
    for (const auto& c : cases) {
        LoopbackServer server(c.rules);
        ASSERT_TRUE(server.Started());
        RecordingCallback callback;
        HttpTaskHolder task = NewTask(&callback);
        task->SetTimeouts(2000, 2000, 2000);
        const std::wstring url = L"http://" + server.Host() + L"/x";
        ASSERT_EQ(task->Request(kHttpGet, url.c_str()), 1) << c.rules;
        ASSERT_TRUE(callback.WaitFinished(60000)) << c.rules;
        std::vector<int32_t> states = callback.States();
        EXPECT_EQ(states.back(), c.final) << c.rules;
        EXPECT_EQ(std::count_if(states.begin(), states.end(), [](int32_t s) { return s >= kHttpTaskSucceeded; }), 1)
            << c.rules;
        if (c.final == kHttpTaskFailed) {
            EXPECT_TRUE(callback.NullBody()) << c.rules;
        }
    }
}

TEST_F(NetModuleRequest, NothingListeningFails) {
    RecordingCallback callback;
    HttpTaskHolder task = NewTask(&callback);
    task->SetTimeouts(2000, 2000, 2000);
    ASSERT_EQ(task->Request(kHttpGet, L"http://127.0.0.1:9/none"), 1);  // discard port: nothing listens
    ASSERT_TRUE(callback.WaitFinished(60000));
    EXPECT_EQ(callback.States().back(), kHttpTaskFailed);
}

// Release while the request waits for an answer: no event reaches the callback afterwards, also
// when the answer (slow) or the time-out (silent) comes later.
TEST_F(NetModuleRequest, ReleaseWhileRunningSilencesTheCallback) {
    const char* rules[] = {R"({"*":{"mode":"slow","delay":1}})", R"({"*":{"mode":"silent"}})"};
    for (const char* rule : rules) {
        LoopbackServer server(rule);
        ASSERT_TRUE(server.Started());
        auto callback = std::make_unique<RecordingCallback>();
        IHttpTask* task = SignedFactory()->CreateTask();
        task->SetCallback(callback.get());
        task->SetTimeouts(1000, 1000, 1000);
        const std::wstring url = L"http://" + server.Host() + L"/slow";
        ASSERT_EQ(task->Request(kHttpGet, url.c_str()), 1);
        ASSERT_TRUE(server.WaitForRequests(1));
        EXPECT_EQ(task->Release(), 1);
        callback->Silence();
        // Past both the slow answer and the module's receive time-out.
        ::Sleep(2500);
        EXPECT_EQ(callback->Late(), 0) << rule;
    }
}

// The usual caller pattern: the callback drops its task from inside the final event.
class ReleasingCallback : public IHttpTaskCallback {
public:
    int32_t OnTaskEvent(IHttpTask* task, const HttpTaskStatus* status) override {
        if (status->state < kHttpTaskSucceeded) return 0;
        if (task == holder.get()) holder.reset();
        ::SetEvent(done);
        return 0;
    }
    HttpTaskHolder holder;
    HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
};

TEST_F(NetModuleRequest, ReleaseFromInsideTheFinalEvent) {
    LoopbackServer server;
    ASSERT_TRUE(server.Started());
    ReleasingCallback callback;
    callback.holder = NewTask(&callback);
    const std::wstring url = L"http://" + server.Host() + L"/x";
    ASSERT_EQ(callback.holder->Request(kHttpGet, url.c_str()), 1);
    ASSERT_EQ(::WaitForSingleObject(callback.done, 30000), WAIT_OBJECT_0);
    EXPECT_EQ(callback.holder, nullptr);
    ::CloseHandle(callback.done);
}

}  // namespace
