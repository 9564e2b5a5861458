// Shared pieces of the network tests: the module copies of the build, a recording callback and a
// scripted fake module for the callers' logic.
#pragma once
#include "LoopbackServer.h"
#include "app/Locks.h"
#include "report/HttpModule.h"
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

namespace testsupport {

// Path of the module copy: "signed", "unsigned" or "foreign".
inline std::wstring NetModulePath(const char* flavour) {
    return WindowsPathOfUnix(std::string(VORO_BINARY_DIR) + "/tests/netmodule/" + flavour + "/QuonNetUL.dll");
}

// The signed module, loaded once per test process into its own record.
inline IHttpTaskFactory* SignedFactory() {
    static HttpModule record;
    static bool loaded = LoadHttpModuleInto(NetModulePath("signed").c_str(), record);
    return loaded ? record.factory : nullptr;
}

// Makes the process-wide record use the signed module for the callers under test.
inline bool UseSignedModule() {
    GetHttpModule().factory = SignedFactory();
    return GetHttpModule().factory != nullptr;
}

// Records every event; `finished` is set on the final one.
class RecordingCallback : public IHttpTaskCallback {
public:
    RecordingCallback() : m_finished(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    virtual ~RecordingCallback() { ::CloseHandle(m_finished); }
    int32_t OnTaskEvent(IHttpTask*, const HttpTaskStatus* status) override {
        _BaseModule::CAutoLocker lock(&m_lock);
        m_states.push_back(status->state);
        if (m_bSilenced) m_nLate++;
        if (status->state >= kHttpTaskSucceeded) {
            m_body = status->body ? std::string(status->body, status->bodyLength) : std::string();
            m_bNullBody = status->body == nullptr;
            ::SetEvent(m_finished);
        }
        return 0;
    }
    bool WaitFinished(DWORD ms = 30000) { return ::WaitForSingleObject(m_finished, ms) == WAIT_OBJECT_0; }
    // From now on every event counts as late.
    void Silence() {
        _BaseModule::CAutoLocker lock(&m_lock);
        m_bSilenced = true;
    }
    std::vector<int32_t> States() {
        _BaseModule::CAutoLocker lock(&m_lock);
        return m_states;
    }
    std::string Body() {
        _BaseModule::CAutoLocker lock(&m_lock);
        return m_body;
    }
    bool NullBody() {
        _BaseModule::CAutoLocker lock(&m_lock);
        return m_bNullBody;
    }
    int Late() {
        _BaseModule::CAutoLocker lock(&m_lock);
        return m_nLate;
    }

private:
    _BaseModule::CCriticalSection m_lock;
    HANDLE m_finished;
    std::vector<int32_t> m_states;
    std::string m_body;
    bool m_bNullBody = false;
    bool m_bSilenced = false;
    int m_nLate = 0;
};

// A scripted module: tasks remember what they were asked and deliver events when the test says.
class FakeTask : public IHttpTask {
public:
    int32_t SetCallback(IHttpTaskCallback* callback) override {
        _BaseModule::CAutoLocker lock(&m_lock);
        callbacks.push_back(callback);
        m_pCallback = callback;
        return 1;
    }
    int32_t Request(int32_t method, const wchar_t* url) override {
        this->method = method;
        this->url = url ? url : L"";
        requested = true;
        return requestResult;
    }
    int32_t GetState() override { return 0; }
    int32_t Release() override {
        released = true;
        callbackAtRelease = m_pCallback;
        return 1;
    }
    int32_t GetHttpStatus() override { return 0; }
    int32_t AddHeader(const char*) override { return 0; }
    int32_t AddField(const char* name, const char* value) override {
        fields.emplace_back(Widen(name), Widen(value));
        return 1;
    }
    int32_t AddFieldW(const wchar_t* name, const wchar_t* value) override {
        fields.emplace_back(name, value);
        return 1;
    }
    int32_t GetResponseLength() override { return 0; }
    int32_t SetTimeouts(int32_t, int32_t, int32_t) override { return 0; }
    int32_t GetError() override { return 0; }
    int32_t Reserved11() override { return 0; }
    int32_t SetOption(const char* name, int32_t value) override {
        options.push_back(std::string(name) + "=" + std::to_string(value));
        return 1;
    }
    int32_t GetOption(const char*) override { return 0; }
    int32_t Reserved14() override { return 0; }
    int32_t Reserved15() override { return 0; }
    int32_t GetValue() override { return 7; }

    // Delivers one event to the current callback (as the module would, under its lock).
    void Deliver(int32_t state, const char* body, IHttpTask* as = nullptr) {
        _BaseModule::CAutoLocker lock(&m_lock);
        if (!m_pCallback) return;
        HttpTaskStatus status = {};
        status.size = sizeof(status);
        status.state = state;
        status.body = body;
        status.bodyLength = body ? static_cast<uint32_t>(strlen(body)) : 0;
        m_pCallback->OnTaskEvent(as ? as : this, &status);
    }

    int32_t requestResult = 1;
    bool requested = false;
    std::atomic<bool> released{false};
    int32_t method = -1;
    std::wstring url;
    std::vector<std::pair<std::wstring, std::wstring>> fields;
    std::vector<std::string> options;
    std::vector<IHttpTaskCallback*> callbacks;
    IHttpTaskCallback* callbackAtRelease = reinterpret_cast<IHttpTaskCallback*>(1);

private:
    _BaseModule::CCriticalSection m_lock;
    IHttpTaskCallback* m_pCallback = nullptr;
};

class FakeFactory : public IHttpTaskFactory {
public:
    IHttpTask* CreateTask() override {
        ++created;
        return failCreate ? nullptr : &task;
    }
    FakeTask task;
    int created = 0;
    bool failCreate = false;
};

// Installs a factory in the process-wide record for the scope of a test.
class ScopedFactory {
public:
    explicit ScopedFactory(IHttpTaskFactory* factory) : m_old(GetHttpModule().factory) {
        GetHttpModule().factory = factory;
    }
    ~ScopedFactory() { GetHttpModule().factory = m_old; }

private:
    IHttpTaskFactory* m_old;
};

}  // namespace testsupport
