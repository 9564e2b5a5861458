#include "report/ServerHosts.h"
#include "app/Locks.h"

namespace {

_BaseModule::CCriticalSection& HostsLock() {
    static _BaseModule::CCriticalSection* lock = new _BaseModule::CCriticalSection();
    return *lock;
}

ServerHosts& CurrentHosts() {
    static ServerHosts* hosts = new ServerHosts(DefaultServerHosts());
    return *hosts;
}

}  // namespace

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
