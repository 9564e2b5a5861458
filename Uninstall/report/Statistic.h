// Statistics dots: one HTTP GET per counted step of the uninstall flow, sent to the statistics
// server through the system's URL download functions, by default on a detached thread of its
// own. The answer is ignored. Also the front for the machine identifiers.
#pragma once
#include <windows.h>
#include <iphlpapi.h>
#include "app/OemConfig.h"
#include "app/Singleton.h"
#include <string>

// The dot URL's path and query; the placeholders are replaced in the order type, action, ver,
// mid, mid2, pid, each value inserted unescaped.
constexpr wchar_t kDotUrlTemplate[] =
    L"/dot?ptype=voropaper&pid={pid}&type={type}&action={action}&appver={ver}&mid={mid}&mid2={mid2}";

struct DotIdentity {
    std::wstring ver, mid, type, pid, mid2;
};
// "http://" + host + the template with its placeholders replaced, then extra appended unchanged.
std::wstring BuildDotUrl(const std::wstring& host, const DotIdentity& identity, const std::wstring& action,
                         const wchar_t* extra);
// True when an adapter of the list has a non-empty first gateway address string.
bool AnyAdapterHasGateway(const IP_ADAPTER_INFO* adapters);

class CStatistic : public CSingletonT<CStatistic> {
public:
    static constexpr size_t kDotUrlChars = 2048;  // longer URLs are cut
    static constexpr size_t kTextChars = 260;

    CStatistic();

    // 0: applies the OEM "statis" host, then Download(url, asynchronous = !sync).
    virtual int SendUrl(const wchar_t* url, int sync);
    // 1: "%d.%d.%d.%d" of the fixed file version; 1 on success.
    virtual int GetFileVersion(const wchar_t* path, wchar_t* out, size_t outLength);
    // 2: connected according to InternetGetConnectedState, otherwise HasGateway().
    virtual bool IsNetworkAvailable();
    // 3: some adapter has a gateway.
    virtual bool HasGateway();
    // 4: detached (1 once handed to a thread, even if the thread failed) or fetched at once
    // (1 when the download succeeded).
    virtual int Download(const wchar_t* url, bool asynchronous);
    // 5, 6: machine identifiers; 1 when they succeeded.
    virtual int GetMid(wchar_t* out, size_t outLength);
    virtual int GetMid2(wchar_t* out, size_t outLength);

    // Sends one dot; 1 when the request was handed over or fetched, 0 otherwise.
    int Dot(const wchar_t* action, const wchar_t* extra, int sync);
    void SetType(const wchar_t* type);
    void SetVersionFromFile(const wchar_t* path);
    // Fills every empty identity field (mid, mid2, ver, pid) from its source.
    void FillIdentity();
    DotIdentity Identity() const { return m_identity; }

protected:
    // The fetch in the calling thread, shared by the synchronous path and the dot threads.
    void Fetch(const wchar_t* url);

private:
    struct DotJob {
        CStatistic* owner = nullptr;
        wchar_t url[kDotUrlChars + 1] = {};  // one more for the terminator
    };
    static DWORD WINAPI DotThread(void* parameter);

    DotIdentity m_identity;
    COemConfig m_oem;
};
