#include "HttpTask.h"
#include "app/Utf8.h"
#include <new>
#include <utility>

#ifndef WINHTTP_OPTION_DECOMPRESSION
#define WINHTTP_OPTION_DECOMPRESSION 118
#endif
#ifndef WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT
#define WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT 7
#endif
#ifndef WINHTTP_DECOMPRESSION_FLAG_ALL
#define WINHTTP_DECOMPRESSION_FLAG_ALL 0x00000003
#endif

namespace quonnet {

namespace {

std::atomic<int32_t> g_nextSerial{1};

class UniqueInternet {
public:
    explicit UniqueInternet(HINTERNET h = nullptr) : m_h(h) {}
    ~UniqueInternet() {
        if (m_h) ::WinHttpCloseHandle(m_h);
    }
    UniqueInternet(const UniqueInternet&) = delete;
    UniqueInternet& operator=(const UniqueInternet&) = delete;
    HINTERNET get() const { return m_h; }

private:
    HINTERNET m_h;
};

DWORD Clamp(int32_t value, DWORD fallback, DWORD cap) {
    if (value <= 0) return fallback;
    return static_cast<DWORD>(value) > cap ? cap : static_cast<DWORD>(value);
}

bool HasLineBreak(const char* text) {
    for (; *text; ++text)
        if (*text == '\r' || *text == '\n') return true;
    return false;
}

// Scheme, host, port and path of an http or https URL; false for anything else.
struct UrlParts {
    bool secure = false;
    std::wstring host;
    INTERNET_PORT port = 0;
    std::wstring pathAndQuery;
};

bool CrackUrl(const std::wstring& url, UrlParts& parts) {
    URL_COMPONENTS components = {};
    components.dwStructSize = sizeof(components);
    components.dwSchemeLength = static_cast<DWORD>(-1);
    components.dwHostNameLength = static_cast<DWORD>(-1);
    components.dwUrlPathLength = static_cast<DWORD>(-1);
    components.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!::WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &components)) return false;
    if (components.nScheme != INTERNET_SCHEME_HTTP && components.nScheme != INTERNET_SCHEME_HTTPS) return false;
    if (!components.lpszHostName || components.dwHostNameLength == 0) return false;
    parts.secure = components.nScheme == INTERNET_SCHEME_HTTPS;
    parts.host.assign(components.lpszHostName, components.dwHostNameLength);
    parts.port = components.nPort;
    if (components.lpszUrlPath) parts.pathAndQuery.assign(components.lpszUrlPath, components.dwUrlPathLength);
    if (components.lpszExtraInfo) parts.pathAndQuery.append(components.lpszExtraInfo, components.dwExtraInfoLength);
    if (parts.pathAndQuery.empty()) parts.pathAndQuery = L"/";
    return true;
}

}  // namespace

CHttpTask::CHttpTask() : m_serial(g_nextSerial.fetch_add(1)) {}

CHttpTask::~CHttpTask() = default;

int32_t CHttpTask::SetCallback(IHttpTaskCallback* callback) {
    _BaseModule::CAutoLocker lock(&m_lock);
    if (m_bReleased) return 0;
    m_pCallback = callback;
    return 1;
}

int32_t CHttpTask::Request(int32_t method, const wchar_t* url) {
    if (!url || (method != kHttpGet && method != kHttpPostForm)) return 0;
    UrlParts parts;
    try {
        if (!CrackUrl(url, parts)) return 0;
        _BaseModule::CAutoLocker lock(&m_lock);
        if (m_bStarted || m_bReleased) return 0;
        m_strUrl = url;
        m_nMethod = method;
        // The thread keeps the task and the module alive until it has ended.
        HMODULE self = nullptr;
        if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                  reinterpret_cast<LPCWSTR>(&CHttpTask::ThreadMain), &self))
            return 0;
        AddRef();
        HANDLE thread = ::CreateThread(nullptr, 0, &CHttpTask::ThreadMain, this, 0, nullptr);
        if (!thread) {
            m_refs.fetch_sub(1);  // the caller's reference remains
            ::FreeLibrary(self);
            return 0;
        }
        ::CloseHandle(thread);
        m_bStarted = true;
        return 1;
    } catch (...) {
        return 0;
    }
}

int32_t CHttpTask::GetState() { return m_state.load(); }

int32_t CHttpTask::Release() {
    {
        _BaseModule::CAutoLocker lock(&m_lock);
        if (m_bReleased) return 0;
        m_bReleased = true;
        m_pCallback = nullptr;
        // A blocking call in progress: closing its handle cancels it where WinHTTP can.
        if (m_bInCall && m_hRequest) {
            ::WinHttpCloseHandle(m_hRequest);
            m_hRequest = nullptr;
            m_bRequestClosedByRelease = true;
        }
    }
    DropRef();
    return 1;
}

int32_t CHttpTask::GetHttpStatus() { return m_httpStatus.load(); }

template <typename Item>
int32_t CHttpTask::AppendBeforeStart(std::vector<Item>& items, Item item) {
    _BaseModule::CAutoLocker lock(&m_lock);
    if (m_bStarted || m_bReleased) return 0;
    items.push_back(std::move(item));
    return 1;
}

int32_t CHttpTask::AddHeader(const char* line) {
    if (!line || !*line || HasLineBreak(line)) return 0;
    try {
        std::wstring header = voro::WideFromUtf8(line);
        if (header.find(L':') == std::wstring::npos) return 0;
        return AppendBeforeStart(m_headers, std::move(header));
    } catch (...) {
        return 0;
    }
}

int32_t CHttpTask::AddField(const char* name, const char* value) {
    if (!name || !*name) return 0;
    try {
        return AppendBeforeStart(m_fields, FormField{name, value ? value : ""});
    } catch (...) {
        return 0;
    }
}

int32_t CHttpTask::AddFieldW(const wchar_t* name, const wchar_t* value) {
    if (!name || !*name) return 0;
    try {
        return AppendBeforeStart(m_fields, FormField{voro::Utf8FromWide(name), voro::Utf8FromWide(value)});
    } catch (...) {
        return 0;
    }
}

int32_t CHttpTask::GetResponseLength() { return m_received.load(); }

int32_t CHttpTask::SetTimeouts(int32_t connectMs, int32_t sendMs, int32_t receiveMs) {
    _BaseModule::CAutoLocker lock(&m_lock);
    if (m_bStarted || m_bReleased) return 0;
    m_connectMs = Clamp(connectMs, m_connectMs, TaskLimits::kMaxStepMs);
    m_sendMs = Clamp(sendMs, m_sendMs, TaskLimits::kMaxStepMs);
    m_receiveMs = Clamp(receiveMs, m_receiveMs, TaskLimits::kMaxStepMs);
    return 1;
}

int32_t CHttpTask::GetError() { return m_error.load(); }

int32_t CHttpTask::SetOption(const char* name, int32_t value) {
    if (!name) return 0;
    _BaseModule::CAutoLocker lock(&m_lock);
    if (m_bStarted || m_bReleased) return 0;
    const std::string option = name;
    if (option == "ungzip") {  // let WinHTTP inflate compressed answers
        m_ungzip = value != 0;
        return 1;
    }
    if (option == "gzip") return value == 0;  // compressed requests are not supported
    if (option == "max_body") {
        m_maxBody = Clamp(value, m_maxBody, TaskLimits::kMaxBodyCap);
        return 1;
    }
    if (option == "total_timeout") {
        m_totalMs = Clamp(value, m_totalMs, TaskLimits::kMaxTotalMs);
        return 1;
    }
    return 0;
}

int32_t CHttpTask::GetOption(const char* name) {
    if (!name) return 0;
    _BaseModule::CAutoLocker lock(&m_lock);
    const std::string option = name;
    if (option == "ungzip") return m_ungzip;
    if (option == "max_body") return static_cast<int32_t>(m_maxBody);
    if (option == "total_timeout") return static_cast<int32_t>(m_totalMs);
    return 0;
}

DWORD WINAPI CHttpTask::ThreadMain(void* parameter) {
    auto* task = static_cast<CHttpTask*>(parameter);
    task->Run();
    task->DropRef();
    HMODULE self = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&CHttpTask::ThreadMain), &self);
    ::FreeLibraryAndExitThread(self, 0);
}

bool CHttpTask::Abandoned() {
    _BaseModule::CAutoLocker lock(&m_lock);
    return m_bReleased;
}

bool CHttpTask::EnterCall() {
    _BaseModule::CAutoLocker lock(&m_lock);
    if (m_bReleased || !m_hRequest) return false;
    m_bInCall = true;
    return true;
}

bool CHttpTask::LeaveCall() {
    _BaseModule::CAutoLocker lock(&m_lock);
    m_bInCall = false;
    return !m_bReleased && m_hRequest;
}

void CHttpTask::Report(int32_t state, const std::string* body) {
    m_state.store(state);
    _BaseModule::CAutoLocker lock(&m_lock);
    if (m_bReleased || !m_pCallback) return;
    HttpTaskStatus status = {};
    status.size = sizeof(status);
    status.state = state;
    status.httpStatus = static_cast<uint32_t>(m_httpStatus.load());
    status.bodyLength = body ? static_cast<uint32_t>(body->size()) : 0;
    status.body = body ? body->c_str() : nullptr;
    status.error = static_cast<uint32_t>(m_error.load());
    try {
        m_pCallback->OnTaskEvent(this, &status);
    } catch (...) {
    }
}

void CHttpTask::Run() {
    Report(kHttpTaskStarted, nullptr);
    std::string body;
    bool ok = false;
    try {
        ok = Perform(body);
    } catch (...) {
        ok = false;
    }
    {
        _BaseModule::CAutoLocker lock(&m_lock);
        if (m_hRequest) ::WinHttpCloseHandle(m_hRequest);
        m_hRequest = nullptr;
    }
    if (!ok && m_error.load() == 0) m_error.store(ERROR_WINHTTP_INTERNAL_ERROR);
    Report(ok ? kHttpTaskSucceeded : kHttpTaskFailed, ok ? &body : nullptr);
}

bool CHttpTask::Perform(std::string& body) {
    auto fail = [this](DWORD error) {
        if (m_error.load() == 0) m_error.store(static_cast<int32_t>(error ? error : ERROR_WINHTTP_INTERNAL_ERROR));
        return false;
    };
    const ULONGLONG start = ::GetTickCount64();
    std::wstring url;
    std::vector<FormField> fields;
    std::vector<std::wstring> headers;
    DWORD connectMs, sendMs, receiveMs, totalMs, maxBody;
    bool post, ungzip;
    {
        _BaseModule::CAutoLocker lock(&m_lock);
        url = m_strUrl;
        fields = m_fields;
        headers = m_headers;
        connectMs = m_connectMs;
        sendMs = m_sendMs;
        receiveMs = m_receiveMs;
        totalMs = m_totalMs;
        maxBody = m_maxBody;
        post = m_nMethod == kHttpPostForm;
        ungzip = m_ungzip != 0;
    }
    UrlParts parts;
    if (!CrackUrl(url, parts)) return fail(ERROR_WINHTTP_INVALID_URL);

    UniqueInternet session(::WinHttpOpen(L"QuonNetUL/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                         WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session.get()) return fail(::GetLastError());
    ::WinHttpSetTimeouts(session.get(), static_cast<int>(TaskLimits::kResolveMs), static_cast<int>(connectMs),
                         static_cast<int>(sendMs), static_cast<int>(receiveMs));
    UniqueInternet connection(::WinHttpConnect(session.get(), parts.host.c_str(), parts.port, 0));
    if (!connection.get()) return fail(::GetLastError());
    HINTERNET request = ::WinHttpOpenRequest(connection.get(), post ? L"POST" : L"GET", parts.pathAndQuery.c_str(),
                                             nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                             parts.secure ? WINHTTP_FLAG_SECURE : 0);
    if (!request) return fail(::GetLastError());
    {
        _BaseModule::CAutoLocker lock(&m_lock);
        m_hRequest = request;
        if (m_bReleased) return false;  // Run closes the handle
    }
    ::WinHttpSetTimeouts(request, static_cast<int>(TaskLimits::kResolveMs), static_cast<int>(connectMs),
                         static_cast<int>(sendMs), static_cast<int>(receiveMs));
    // Waiting for the answer's headers has a time-out of its own (90 s unless set).
    DWORD responseMs = receiveMs;
    ::WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseMs, sizeof(responseMs));
    if (ungzip) {
        DWORD flags = WINHTTP_DECOMPRESSION_FLAG_ALL;
        ::WinHttpSetOption(request, WINHTTP_OPTION_DECOMPRESSION, &flags, sizeof(flags));  // not everywhere
    }
    std::string payload;
    if (post) {
        const std::string boundary = ChooseBoundary(fields, (static_cast<unsigned long long>(m_serial) << 32) ^ start);
        payload = BuildMultipartBody(fields, boundary);
        headers.push_back(MultipartContentType(boundary));
    }
    for (const std::wstring& header : headers)
        ::WinHttpAddRequestHeaders(request, header.c_str(), static_cast<DWORD>(-1),
                                   WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);

    if (!EnterCall()) return false;
    BOOL sent = ::WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                                     payload.empty() ? WINHTTP_NO_REQUEST_DATA : &payload[0],
                                     static_cast<DWORD>(payload.size()), static_cast<DWORD>(payload.size()), 0);
    DWORD error = ::GetLastError();
    if (!LeaveCall()) return false;
    if (!sent) return fail(error);

    if (!EnterCall()) return false;
    BOOL received = ::WinHttpReceiveResponse(request, nullptr);
    error = ::GetLastError();
    if (!LeaveCall()) return false;
    if (!received) return fail(error);

    DWORD statusCode = 0, size = sizeof(statusCode);
    if (!::WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &statusCode, &size, WINHTTP_NO_HEADER_INDEX))
        return fail(::GetLastError());
    m_httpStatus.store(static_cast<int32_t>(statusCode));
    DWORD contentLength = 0;
    size = sizeof(contentLength);
    const bool lengthKnown =
        ::WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH | WINHTTP_QUERY_FLAG_NUMBER,
                              WINHTTP_HEADER_NAME_BY_INDEX, &contentLength, &size, WINHTTP_NO_HEADER_INDEX) != FALSE;
    if (lengthKnown && contentLength > maxBody) return fail(ERROR_NOT_ENOUGH_MEMORY);
    Report(kHttpTaskReceiving, nullptr);

    char buffer[16384];
    for (;;) {
        if (::GetTickCount64() - start > totalMs) return fail(ERROR_WINHTTP_TIMEOUT);
        DWORD got = 0;
        if (!EnterCall()) return false;
        BOOL read = ::WinHttpReadData(request, buffer, sizeof(buffer), &got);
        error = ::GetLastError();
        if (!LeaveCall()) return false;
        if (!read) return fail(error);
        if (got == 0) break;
        if (body.size() + got > maxBody) return fail(ERROR_NOT_ENOUGH_MEMORY);
        body.append(buffer, got);
        m_received.store(static_cast<int32_t>(body.size()));
    }
    // A connection closed before the announced length is a broken answer, not a short one.
    if (lengthKnown && body.size() != contentLength) return fail(ERROR_WINHTTP_CONNECTION_ERROR);
    if (statusCode < 200 || statusCode > 299) return fail(ERROR_WINHTTP_INVALID_SERVER_RESPONSE);
    return true;
}

IHttpTask* CHttpTaskFactory::CreateTask() { return new (std::nothrow) CHttpTask(); }

}  // namespace quonnet
