// The loopback test server (tests/server/loopback_server.py) seen from a test under Wine: started
// as a Unix process through Wine, reached on 127.0.0.1, its request log read back as records.
#pragma once
#include <windows.h>
#include "TestSupport.h"
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

struct RecordedRequest {
    std::string method, path, query;
    std::vector<std::pair<std::string, std::string>> args;    // percent-decoded query pairs
    std::vector<std::pair<std::string, std::string>> fields;  // form fields
    std::string Field(const std::string& name) const;
};

// A query argument of a request; "<none>" when it has none of that name.
inline std::string Arg(const RecordedRequest& request, const std::string& name) {
    for (const auto& pair : request.args)
        if (pair.first == name) return pair.second;
    return "<none>";
}

class LoopbackServer {
public:
    // rulesJson: the server's rules object, e.g. {"*":{"mode":"slow","delay":2}}.
    explicit LoopbackServer(const std::string& rulesJson = "{}", int lifetimeSeconds = 120);
    ~LoopbackServer();  // asks the server to end
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    bool Started() const { return m_port != 0; }
    int Port() const { return m_port; }
    std::wstring Host() const;  // "127.0.0.1:port"
    std::vector<RecordedRequest> Requests() const;
    // Waits (bounded) until at least `count` requests were recorded.
    bool WaitForRequests(size_t count, DWORD timeoutMs = 20000) const;

private:
    TempFolder m_folder;
    int m_port = 0;
};

// Unix path of a Windows path (Wine's kernel32 export); empty when unavailable.
std::string UnixPath(const std::wstring& windowsPath);
// Windows path (drive Z:) of a Unix path.
std::wstring WindowsPathOfUnix(const std::string& unixPath);
std::wstring Widen(const std::string& text);  // UTF-8 to UTF-16
std::string Narrow(const std::wstring& text);  // UTF-16 to UTF-8

}  // namespace testsupport
