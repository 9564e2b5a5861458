#include "report/ServerHosts.h"
#include "app/Locks.h"
#include <cwchar>
#include <cwctype>

namespace {

_BaseModule::CCriticalSection& HostsLock() {
    static _BaseModule::CCriticalSection* lock = new _BaseModule::CCriticalSection();
    return *lock;
}

ServerHosts& CurrentHosts() {
    static ServerHosts* hosts = new ServerHosts(DefaultServerHosts());
    return *hosts;
}

std::wstring TrimBlanks(const std::wstring& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && std::iswspace(text[begin])) ++begin;
    while (end > begin && std::iswspace(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

// A host as the callers expect it: no scheme, no trailing slash; empty when nothing is left.
std::wstring CleanHost(const std::wstring& text) {
    std::wstring host = TrimBlanks(text);
    if (host.size() >= 7 && _wcsnicmp(host.c_str(), L"http://", 7) == 0) host.erase(0, 7);
    while (!host.empty() && host.back() == L'/') host.pop_back();
    if (host.find_first_of(L"/ \t") != std::wstring::npos) return std::wstring();
    return host;
}

std::wstring* HostByName(ServerHosts& hosts, const std::wstring& name) {
    if (_wcsicmp(name.c_str(), L"statistics") == 0) return &hosts.statistics;
    if (_wcsicmp(name.c_str(), L"webService") == 0) return &hosts.webService;
    if (_wcsicmp(name.c_str(), L"download") == 0) return &hosts.download;
    if (_wcsicmp(name.c_str(), L"accountCentre") == 0) return &hosts.accountCentre;
    return nullptr;
}

}  // namespace

bool ParseServerHostsOverride(const std::wstring& text, ServerHosts& hosts) {
    const std::wstring trimmed = TrimBlanks(text);
    if (trimmed.empty()) return false;
    ServerHosts result = hosts;
    if (trimmed.find(L'=') == std::wstring::npos) {
        const std::wstring host = CleanHost(trimmed);
        if (host.empty()) return false;
        result.statistics = result.webService = result.download = result.accountCentre = host;
    } else {
        size_t begin = 0;
        while (begin <= trimmed.size()) {
            size_t end = trimmed.find_first_of(L";,", begin);
            if (end == std::wstring::npos) end = trimmed.size();
            const std::wstring pair = TrimBlanks(trimmed.substr(begin, end - begin));
            begin = end + 1;
            if (pair.empty()) continue;
            const size_t equals = pair.find(L'=');
            if (equals == std::wstring::npos) return false;
            std::wstring* slot = HostByName(result, TrimBlanks(pair.substr(0, equals)));
            const std::wstring host = CleanHost(pair.substr(equals + 1));
            if (!slot || host.empty()) return false;
            *slot = host;
        }
    }
    hosts = result;
    return true;
}

ServerHosts DefaultServerHosts() {
    ServerHosts hosts;
    hosts.statistics = L"dot.vorowallpaper.com";
    hosts.webService = L"api.vorowallpaper.com";
    hosts.download = L"dl.vorowallpaper.com";
    hosts.accountCentre = L"i.vorowallpaper.com";
    return hosts;
}

ServerHosts GetServerHosts() {
    _BaseModule::CAutoLocker lock(&HostsLock());
    return CurrentHosts();
}

void SetServerHosts(const ServerHosts& hosts) {
    _BaseModule::CAutoLocker lock(&HostsLock());
    CurrentHosts() = hosts;
}

std::wstring HttpBase(const std::wstring& host) { return L"http://" + host; }
