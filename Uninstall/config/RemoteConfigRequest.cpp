#include "config/RemoteConfigRequest.h"
#include "app/InstallFacts.h"
#include "app/Utf8.h"
#include <windows.h>
#include <cJSON.h>
#include <cerrno>
#include <climits>
#include <cwchar>
#include <memory>

namespace {

constexpr wchar_t kMainExecutable[] = L"vorowp.exe";

struct JsonDeleter {
    void operator()(cJSON* item) const { cJSON_Delete(item); }
};
using JsonPtr = std::unique_ptr<cJSON, JsonDeleter>;

// The parsed answer when it is JSON whose errno is the number 0; null otherwise.
JsonPtr ParseSuccessfulAnswer(const char* body) {
    if (!body) return nullptr;
    JsonPtr root(cJSON_Parse(body));
    if (!root || !cJSON_IsObject(root.get())) return nullptr;
    const cJSON* error = cJSON_GetObjectItem(root.get(), "errno");  // names match without case
    if (!cJSON_IsNumber(error) || error->valuedouble != 0) return nullptr;
    return root;
}

// A string member's text; null when the member is absent or not a string.
const char* StringMember(const cJSON* object, const char* name) {
    const cJSON* item = cJSON_GetObjectItem(object, name);
    return cJSON_IsString(item) ? item->valuestring : nullptr;
}

std::wstring ExecutablePath() {
    wchar_t path[MAX_PATH] = {};
    DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return (length == 0 || length >= MAX_PATH) ? std::wstring() : std::wstring(path, length);
}

}  // namespace

std::wstring BuildRemoteConfigUrl(const std::wstring& host, const wchar_t* path, const RemoteQueryValues& values) {
    return L"http://" + host + path + L"?appver=" + values.appver + L"&modver=" + values.modver + L"&pid=" +
           values.pid;
}

RemoteQueryValues CollectRemoteQueryValues(const std::wstring& installDir) {
    RemoteQueryValues values;
    std::wstring folder = installDir.empty() ? GetInstallFolder() : installDir;
    if (!folder.empty()) {
        if (folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
        GetFileVersionText(folder + kMainExecutable, values.appver);
    }
    std::wstring self = ExecutablePath();
    if (!self.empty()) GetFileVersionText(self, values.modver);
    values.pid = GetInstallationPid();
    return values;
}

int ParseLeadingInt(const std::wstring& text) {
    errno = 0;
    long value = wcstol(text.c_str(), nullptr, 10);
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

bool ParseUninstallOptions(const char* body, std::vector<int>& kinds) {
    JsonPtr root = ParseSuccessfulAnswer(body);
    if (!root) return false;
    std::wstring data = voro::WideFromUtf8(StringMember(root.get(), "data"));
    if (data.empty()) return false;
    std::vector<int> parsed;
    size_t from = 0;
    for (;;) {
        size_t comma = data.find(L',', from);
        parsed.push_back(ParseLeadingInt(data.substr(from, comma == std::wstring::npos ? std::wstring::npos : comma - from)));
        if (comma == std::wstring::npos) break;
        from = comma + 1;
    }
    kinds = std::move(parsed);
    return true;
}

bool ParseQuestionnaireUrl(const char* body, std::wstring& url) {
    JsonPtr root = ParseSuccessfulAnswer(body);
    if (!root) return false;
    const cJSON* data = cJSON_GetObjectItem(root.get(), "data");
    if (!cJSON_IsObject(data)) return false;
    const cJSON* questionnaire = cJSON_GetObjectItem(data, "uninstall_questionnaire");
    if (!cJSON_IsObject(questionnaire)) return false;
    const char* status = StringMember(questionnaire, "status");
    if (ParseLeadingInt(voro::WideFromUtf8(status ? status : "0")) == 0) return false;
    url = voro::WideFromUtf8(StringMember(questionnaire, "url"));
    return true;
}
