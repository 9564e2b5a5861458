#include "LoopbackServer.h"
#include <winsock2.h>
#include <cJSON.h>
#include <fstream>
#include <sstream>

#ifndef VORO_SOURCE_DIR
#error VORO_SOURCE_DIR names the source tree
#endif

namespace testsupport {

namespace {

constexpr wchar_t kPython[] = L"Z:\\usr\\bin\\python3";

void WriteText(const std::wstring& path, const std::string& text) {
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    ::WriteFile(h, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::CloseHandle(h);
}

std::vector<std::pair<std::string, std::string>> Pairs(const cJSON* array) {
    std::vector<std::pair<std::string, std::string>> pairs;
    const cJSON* item = nullptr;
    cJSON_ArrayForEach(item, array) {
        const cJSON* name = cJSON_GetArrayItem(item, 0);
        const cJSON* value = cJSON_GetArrayItem(item, 1);
        if (cJSON_IsString(name) && cJSON_IsString(value)) pairs.emplace_back(name->valuestring, value->valuestring);
    }
    return pairs;
}

std::string StringOf(const cJSON* object, const char* name) {
    const cJSON* item = cJSON_GetObjectItemCaseSensitive(object, name);
    return cJSON_IsString(item) ? item->valuestring : "";
}

}  // namespace

std::wstring Widen(const std::string& text) {
    if (text.empty()) return std::wstring();
    int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size);
    return out;
}

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return std::string();
    int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

std::string UnixPath(const std::wstring& windowsPath) {
    using Fn = char*(CDECL*)(const wchar_t*);
    auto fn = reinterpret_cast<Fn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!fn) return std::string();
    char* path = fn(windowsPath.c_str());
    if (!path) return std::string();
    std::string result = path;
    ::HeapFree(::GetProcessHeap(), 0, path);
    return result;
}

std::wstring WindowsPathOfUnix(const std::string& unixPath) {
    std::wstring path = L"Z:" + Widen(unixPath);
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

std::string RecordedRequest::Field(const std::string& name) const {
    for (const auto& field : fields)
        if (field.first == name) return field.second;
    return std::string();
}

LoopbackServer::LoopbackServer(const std::string& rulesJson, int lifetimeSeconds) {
    const std::wstring portFile = m_folder.File(L"port");
    WriteText(m_folder.File(L"rules.json"), rulesJson);
    const std::string script = std::string(VORO_SOURCE_DIR) + "/tests/server/loopback_server.py";
    std::wstring command = std::wstring(kPython) + L" " + Widen(script) + L" --port-file \"" +
                           Widen(UnixPath(portFile)) + L"\" --log \"" + Widen(UnixPath(m_folder.File(L"log.jsonl"))) +
                           L"\" --rules \"" + Widen(UnixPath(m_folder.File(L"rules.json"))) + L"\" --lifetime " +
                           std::to_wstring(lifetimeSeconds);
    std::vector<wchar_t> buffer(command.begin(), command.end());
    buffer.push_back(0);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return;
    // Wine cannot wait for a Unix process; the port file tells when the server listens.
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    for (int i = 0; i < 300 && m_port == 0; ++i) {
        std::string text = ReadBytes(portFile);
        if (!text.empty()) m_port = atoi(text.c_str());
        if (m_port == 0) ::Sleep(50);
    }
}

LoopbackServer::~LoopbackServer() {
    if (!m_port) return;
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return;
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s != INVALID_SOCKET) {
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<u_short>(m_port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
            const char request[] = "GET /__quit HTTP/1.0\r\n\r\n";
            ::send(s, request, sizeof(request) - 1, 0);
            char answer[256];
            ::recv(s, answer, sizeof(answer), 0);
        }
        ::closesocket(s);
    }
    ::WSACleanup();
}

std::wstring LoopbackServer::Host() const { return L"127.0.0.1:" + std::to_wstring(m_port); }

std::vector<RecordedRequest> LoopbackServer::Requests() const {
    std::vector<RecordedRequest> requests;
    std::istringstream lines(ReadBytes(m_folder.File(L"log.jsonl")));
    std::string line;
    while (std::getline(lines, line)) {
        cJSON* entry = cJSON_Parse(line.c_str());
        if (!entry) continue;  // a line still being written
        RecordedRequest request;
        request.method = StringOf(entry, "method");
        request.path = StringOf(entry, "path");
        request.query = StringOf(entry, "query");
        request.args = Pairs(cJSON_GetObjectItemCaseSensitive(entry, "args"));
        request.fields = Pairs(cJSON_GetObjectItemCaseSensitive(entry, "fields"));
        requests.push_back(request);
        cJSON_Delete(entry);
    }
    return requests;
}

bool LoopbackServer::WaitForRequests(size_t count, DWORD timeoutMs) const {
    const ULONGLONG start = ::GetTickCount64();
    while (Requests().size() < count) {
        if (::GetTickCount64() - start > timeoutMs) return false;
        ::Sleep(50);
    }
    return true;
}

}  // namespace testsupport
