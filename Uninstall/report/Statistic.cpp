#include "report/Statistic.h"
#include "app/Registry.h"
#include "report/ServerHosts.h"
#include "report/TvnMID2.h"
#include <wininet.h>
#include <urlmon.h>
#include <objbase.h>
#include <cwchar>
#include <memory>
#include <new>
#include <vector>

namespace {

constexpr wchar_t kProductUserKey[] = L"Software\\VoroWallPaper";
constexpr wchar_t kMainExecutable[] = L"vorowp.exe";
constexpr ULONG kAdapterBufferBytes = 648;
constexpr DWORD kMaxVersionBlock = 16383;

void ReplaceAll(std::wstring& text, const std::wstring& what, const std::wstring& with) {
    for (size_t at = text.find(what); at != std::wstring::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
}

std::wstring ExecutableFolder() {
    wchar_t path[MAX_PATH] = {};
    DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::wstring();
    std::wstring folder(path, length);
    size_t slash = folder.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : folder.substr(0, slash);
}

}  // namespace

std::wstring BuildDotUrl(const std::wstring& host, const DotIdentity& identity, const std::wstring& action,
                         const wchar_t* extra) {
    std::wstring url = L"http://" + host + kDotUrlTemplate;
    ReplaceAll(url, L"{type}", identity.type);
    ReplaceAll(url, L"{action}", action);
    ReplaceAll(url, L"{ver}", identity.ver);
    ReplaceAll(url, L"{mid}", identity.mid);
    ReplaceAll(url, L"{mid2}", identity.mid2);
    ReplaceAll(url, L"{pid}", identity.pid);
    if (extra) url += extra;
    return url;
}

bool AnyAdapterHasGateway(const IP_ADAPTER_INFO* adapters) {
    for (const IP_ADAPTER_INFO* adapter = adapters; adapter; adapter = adapter->Next)
        if (adapter->GatewayList.IpAddress.String[0] != '\0') return true;
    return false;
}

CStatistic::CStatistic() { m_oem.Init(L"tesk"); }

int CStatistic::SendUrl(const wchar_t* url, int sync) {
    if (!url) return 0;
    std::wstring target = m_oem.GetHostOverride(L"statis", url);
    return Download(target.c_str(), sync == 0);
}

int CStatistic::GetFileVersion(const wchar_t* path, wchar_t* out, size_t outLength) {
    if (!path || !out || outLength == 0) return 0;
    out[0] = L'\0';
    DWORD handle = 0;
    DWORD size = ::GetFileVersionInfoSizeW(path, &handle);
    if (size == 0 || size > kMaxVersionBlock) return 0;
    std::vector<BYTE> block(kMaxVersionBlock + 1);
    if (!::GetFileVersionInfoW(path, 0, static_cast<DWORD>(block.size()), block.data())) return 0;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoSize = 0;
    if (!::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &infoSize) || !info ||
        infoSize < sizeof(VS_FIXEDFILEINFO))
        return 0;
    wchar_t text[64];
    swprintf(text, 64, L"%d.%d.%d.%d", static_cast<int>(HIWORD(info->dwFileVersionMS)),
             static_cast<int>(LOWORD(info->dwFileVersionMS)), static_cast<int>(HIWORD(info->dwFileVersionLS)),
             static_cast<int>(LOWORD(info->dwFileVersionLS)));
    size_t length = wcslen(text);
    if (length > outLength - 1) length = outLength - 1;
    wmemcpy(out, text, length);
    out[length] = L'\0';
    return 1;
}

bool CStatistic::IsNetworkAvailable() {
    DWORD flags = 0;
    if (::InternetGetConnectedState(&flags, 0) &&
        (flags & (INTERNET_CONNECTION_MODEM | INTERNET_CONNECTION_LAN | INTERNET_CONNECTION_PROXY)))
        return true;
    return HasGateway();
}

bool CStatistic::HasGateway() {
    ULONG size = kAdapterBufferBytes;
    std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[size]);
    if (!buffer) return false;
    DWORD result = ::GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.get()), &size);
    if (result == ERROR_BUFFER_OVERFLOW) {
        buffer.reset(new (std::nothrow) BYTE[size]);
        if (!buffer) return false;
        result = ::GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.get()), &size);
    }
    if (result != NO_ERROR) return false;
    return AnyAdapterHasGateway(reinterpret_cast<const IP_ADAPTER_INFO*>(buffer.get()));
}

int CStatistic::Download(const wchar_t* url, bool asynchronous) {
    if (!url) return 0;
    if (!asynchronous) {
        wchar_t cached[MAX_PATH] = {};
        HRESULT hr = ::URLDownloadToCacheFileW(nullptr, url, cached, MAX_PATH, 0, nullptr);
        if (FAILED(hr)) return 0;
        ::DeleteFileW(cached);
        return 1;
    }
    DotJob* job = new (std::nothrow) DotJob();
    if (!job) return 1;
    job->owner = this;
    wcsncpy(job->url, url, kDotUrlChars);
    HANDLE thread = ::CreateThread(nullptr, 0, &CStatistic::DotThread, job, 0, nullptr);
    if (thread)
        ::CloseHandle(thread);
    else
        delete job;  // nothing will run it
    return 1;
}

void CStatistic::Fetch(const wchar_t* url) {
    wchar_t cached[MAX_PATH] = {};
    if (SUCCEEDED(::URLDownloadToCacheFileW(nullptr, url, cached, MAX_PATH, 0, nullptr))) ::DeleteFileW(cached);
}

DWORD WINAPI CStatistic::DotThread(void* parameter) {
    std::unique_ptr<DotJob> job(static_cast<DotJob*>(parameter));
    // urlmon is built on COM: the thread needs its own apartment.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    try {
        if (job->owner && job->url[0] && job->owner->IsNetworkAvailable()) job->owner->Fetch(job->url);
    } catch (...) {
    }
    if (SUCCEEDED(com)) ::CoUninitialize();
    return 0;
}

int CStatistic::GetMid(wchar_t* out, size_t outLength) { return ::GetMid(out, outLength) ? 1 : 0; }

int CStatistic::GetMid2(wchar_t* out, size_t outLength) { return SUCCEEDED(::GetMid2(out, outLength)) ? 1 : 0; }

void CStatistic::FillIdentity() {
    wchar_t text[kTextChars];
    if (m_identity.mid.empty()) {
        text[0] = L'\0';
        if (GetMid(text, kTextChars)) m_identity.mid = text;
    }
    if (m_identity.mid2.empty()) {
        text[0] = L'\0';
        if (GetMid2(text, kTextChars)) m_identity.mid2 = text;
    }
    if (m_identity.ver.empty()) {
        std::wstring folder = ExecutableFolder();
        if (!folder.empty()) {
            std::wstring path = folder + L"\\" + kMainExecutable;
            text[0] = L'\0';
            if (GetFileVersion(path.c_str(), text, kTextChars)) m_identity.ver = text;
        }
    }
    if (m_identity.pid.empty()) {
        std::wstring pid;
        if (voro::reg::ReadString(HKEY_CURRENT_USER, kProductUserKey, L"pid", pid)) m_identity.pid = pid;
    }
}

int CStatistic::Dot(const wchar_t* action, const wchar_t* extra, int sync) {
    if (!action || !*action || m_identity.type.empty()) return 0;
    FillIdentity();
    std::wstring url = BuildDotUrl(GetServerHosts().statistics, m_identity, action, extra);
    return SendUrl(url.c_str(), sync);
}

void CStatistic::SetType(const wchar_t* type) { m_identity.type = type ? type : L""; }

void CStatistic::SetVersionFromFile(const wchar_t* path) {
    wchar_t text[kTextChars] = {};
    GetFileVersion(path, text, kTextChars);
    m_identity.ver = text;
}
