// One HTTP request of the network module, run synchronously over WinHTTP on a thread of its own.
//
// Lifetime: the caller holds one reference (dropped by Release), the request's thread another.
// Every callback is delivered under the task's lock after checking that the caller has neither
// released the task nor cleared its callback; Release and SetCallback take the same lock, so once
// they return no further event can reach the old callback. A request that is abandoned while a
// WinHTTP call blocks has its request handle closed, which ends the call early where WinHTTP
// supports that and otherwise within the time-outs; the thread then frees the task.
#pragma once
#include "report/HttpModule.h"
#include "app/Locks.h"
#include "Multipart.h"
#include <winhttp.h>
#include <atomic>
#include <string>
#include <vector>

namespace quonnet {

struct TaskLimits {
    static constexpr DWORD kResolveMs = 10000;
    static constexpr DWORD kConnectMs = 10000;
    static constexpr DWORD kSendMs = 15000;
    static constexpr DWORD kReceiveMs = 15000;
    static constexpr DWORD kMaxStepMs = 60000;       // cap of any single time-out
    static constexpr DWORD kTotalMs = 60000;         // whole request, checked between reads
    static constexpr DWORD kMaxTotalMs = 300000;
    static constexpr DWORD kMaxBody = 8u << 20;      // larger answers fail
    static constexpr DWORD kMaxBodyCap = 64u << 20;
};

class CHttpTask final : public IHttpTask {
public:
    CHttpTask();

    int32_t SetCallback(IHttpTaskCallback* callback) override;
    int32_t Request(int32_t method, const wchar_t* url) override;
    int32_t GetState() override;
    int32_t Release() override;
    int32_t GetHttpStatus() override;
    int32_t AddHeader(const char* line) override;
    int32_t AddField(const char* name, const char* value) override;
    int32_t AddFieldW(const wchar_t* name, const wchar_t* value) override;
    int32_t GetResponseLength() override;
    int32_t SetTimeouts(int32_t connectMs, int32_t sendMs, int32_t receiveMs) override;
    int32_t GetError() override;
    int32_t Reserved11() override { return 0; }
    int32_t SetOption(const char* name, int32_t value) override;
    int32_t GetOption(const char* name) override;
    int32_t Reserved14() override { return 0; }
    int32_t Reserved15() override { return 0; }
    int32_t GetValue() override { return m_serial; }

private:
    // Appends a header or form field while the task has not started; 1 when it was added.
    template <typename Item>
    int32_t AppendBeforeStart(std::vector<Item>& items, Item item);
    ~CHttpTask();
    CHttpTask(const CHttpTask&) = delete;
    CHttpTask& operator=(const CHttpTask&) = delete;

    void AddRef() { m_refs.fetch_add(1); }
    void DropRef() {
        if (m_refs.fetch_sub(1) == 1) delete this;
    }

    static DWORD WINAPI ThreadMain(void* parameter);
    void Run();
    bool Perform(std::string& body);
    // Brackets a blocking WinHTTP call on the request handle: false when the task was abandoned.
    bool EnterCall();
    bool LeaveCall();
    void Report(int32_t state, const std::string* body);
    bool Abandoned();

    _BaseModule::CCriticalSection m_lock;
    std::atomic<long> m_refs{1};
    const int32_t m_serial;
    IHttpTaskCallback* m_pCallback = nullptr;
    bool m_bReleased = false;
    bool m_bStarted = false;
    bool m_bInCall = false;
    bool m_bRequestClosedByRelease = false;
    int32_t m_nMethod = kHttpGet;
    std::wstring m_strUrl;
    std::vector<FormField> m_fields;
    std::vector<std::wstring> m_headers;
    DWORD m_connectMs = TaskLimits::kConnectMs;
    DWORD m_sendMs = TaskLimits::kSendMs;
    DWORD m_receiveMs = TaskLimits::kReceiveMs;
    DWORD m_totalMs = TaskLimits::kTotalMs;
    DWORD m_maxBody = TaskLimits::kMaxBody;
    int32_t m_ungzip = 0;
    std::atomic<int32_t> m_state{-1};
    std::atomic<int32_t> m_httpStatus{0};
    std::atomic<int32_t> m_received{0};
    std::atomic<int32_t> m_error{0};
    HINTERNET m_hRequest = nullptr;  // owned by the request thread unless Release closed it
};

class CHttpTaskFactory final : public IHttpTaskFactory {
public:
    IHttpTask* CreateTask() override;
};

}  // namespace quonnet
