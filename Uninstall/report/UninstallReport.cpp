#include "report/UninstallReport.h"
#include "app/Utf8.h"
#include "app/InstallFacts.h"
#include "report/HttpTaskAdapterPost.h"
#include "report/ServerHosts.h"
#include "report/StringCipher.h"
#include "report/TvnMID2.h"
#include <cJSON.h>
#include <windows.h>
#include <cstring>
#include <memory>

namespace {

// Channels of the maker's own products.
constexpr const wchar_t* kOwnChannels[] = {L"voro_official", L"voro_home", L"voro_update", L"voro_store",
                                           L"voro_client"};
constexpr wchar_t kSystemPrefix[] = L"system";

bool EqualsNoCase(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength) {
    return ::CompareStringOrdinal(a, static_cast<int>(aLength), b, static_cast<int>(bLength), TRUE) == CSTR_EQUAL;
}

std::wstring RunningExecutable() {
    wchar_t path[MAX_PATH] = {};
    DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return (length == 0 || length >= MAX_PATH) ? std::wstring() : std::wstring(path, length);
}

struct JsonDeleter {
    void operator()(cJSON* item) const { cJSON_Delete(item); }
};

}  // namespace

bool IsOwnChannel(const std::wstring& pid) {
    for (const wchar_t* channel : kOwnChannels)
        if (EqualsNoCase(pid.c_str(), pid.size(), channel, wcslen(channel))) return true;
    return false;
}

int ReportDefaultResult(const std::wstring& pid) {
    const size_t prefix = wcslen(kSystemPrefix);
    if (IsOwnChannel(pid)) return 1;
    return pid.size() >= prefix && EqualsNoCase(pid.c_str(), prefix, kSystemPrefix, prefix) ? 1 : 0;
}

std::string BuildReportJson(const ReportFields& fields) {
    std::unique_ptr<cJSON, JsonDeleter> root(cJSON_CreateObject());
    if (!root) return std::string();
    const std::pair<const char*, std::string> members[] = {
        {"type", voro::Utf8FromWide(fields.type)},     {"pid", voro::Utf8FromWide(fields.pid)},       {"mid", voro::Utf8FromWide(fields.mid)},
        {"mid2", voro::Utf8FromWide(fields.mid2)},     {"appver", voro::Utf8FromWide(fields.appver)}, {"modver", voro::Utf8FromWide(fields.modver)},
        {"appname", "voro"},
    };
    for (const auto& member : members) {
        cJSON* value = cJSON_CreateString(member.second.c_str());
        if (!value) return std::string();
        cJSON_AddItemToObject(root.get(), member.first, value);
    }
    char* printed = cJSON_PrintUnformatted(root.get());
    if (!printed) return std::string();
    std::string text = printed;
    cJSON_free(printed);
    return text;
}

int ReportResultFromAnswer(const std::string& answer, const std::string& mid2Utf8) {
    std::string plain;
    if (!DecryptBytes(answer, kReportCipherKey, plain)) return 0;
    plain.resize(strnlen(plain.c_str(), plain.size()));  // the text ends at the first zero byte
    if (mid2Utf8.empty()) return 0;
    size_t at = plain.find(mid2Utf8);
    return at != std::string::npos && at > 0 ? 1 : 0;
}

int ReportUninstallInfo(const std::wstring& type, const std::wstring& pid, const std::wstring& appver) {
    const int fallback = ReportDefaultResult(pid);
    ReportFields fields;
    fields.type = type;
    fields.pid = pid;
    fields.mid = GetMid();
    fields.mid2 = GetMid2();
    fields.appver = appver;
    std::wstring self = RunningExecutable();
    if (!self.empty()) GetFileVersionText(self, fields.modver);
    std::string json = BuildReportJson(fields);
    std::string cipher;
    if (json.empty() || !EncryptBytes(json, kReportCipherKey, cipher)) return fallback;

    const std::wstring url = HttpBase(GetServerHosts().webService) + kReportPath;
    const std::wstring value(cipher.begin(), cipher.end());  // Base64 is ASCII
    std::string answer;
    if (!PostFormSync(url.c_str(), kReportField, value.c_str(), answer, kReportTimeoutMs)) return fallback;
    return ReportResultFromAnswer(answer, voro::Utf8FromWide(fields.mid2));
}
