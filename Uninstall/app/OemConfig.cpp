#include "app/OemConfig.h"
#include "report/StringCipher.h"

namespace {

constexpr wchar_t kTeskSwitchKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Divizodaz.exe";
constexpr wchar_t kTeskValuesKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Divizodaz.exe\\oemconfig";
constexpr wchar_t kSwitchValue[] = L"oem_f";
constexpr size_t kMaxNameChars = 4096;
constexpr size_t kMaxDataBytes = 8192;

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() && ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                                          static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

bool IsTerminatedString(const voro::reg::Value& value) {
    if (value.type != REG_SZ && value.type != REG_EXPAND_SZ) return false;
    const size_t size = value.data.size();
    if (size > kMaxDataBytes) return false;
    if (size == 0) return true;
    return size >= sizeof(wchar_t) && value.data[size - 1] == 0 && value.data[size - 2] == 0;
}

}  // namespace

void COemConfig::Init(const std::wstring& productCode) {
    m_strProductCode = productCode;
    m_strKeyPath.clear();
    m_bOn = false;
    m_values.clear();
    if (!EqualsNoCase(productCode, L"tesk")) return;
    m_strKeyPath = kTeskValuesKey;
    std::wstring flag;
    bool on = voro::reg::ReadString(HKEY_LOCAL_MACHINE, kTeskSwitchKey, kSwitchValue, flag) && flag == L"1";
    Load(on, on ? voro::reg::EnumValues(HKEY_LOCAL_MACHINE, m_strKeyPath) : std::vector<voro::reg::Value>());
}

void COemConfig::Load(bool on, const std::vector<voro::reg::Value>& values) {
    m_bOn = on;
    m_values.clear();
    if (!on) return;
    for (const voro::reg::Value& value : values) {
        if (value.name.size() > kMaxNameChars || !IsTerminatedString(value)) continue;
        std::wstring name = DecryptText(value.name, kCipherKey);
        std::wstring data = DecryptText(voro::reg::ValueText(value), kCipherKey);
        if (name.empty() || data.empty()) continue;
        m_values[name] = data;
    }
}

std::wstring COemConfig::Value(const std::wstring& name) const {
    auto it = m_values.find(name);
    return it == m_values.end() ? std::wstring() : it->second;
}

std::wstring COemConfig::GetHostOverride(const std::wstring& key, const std::wstring& url) const {
    if (!m_bOn) return url;
    auto it = m_values.find(key);
    return it == m_values.end() ? url : ReplaceHost(url, it->second);
}

std::wstring COemConfig::ReplaceHost(const std::wstring& url, const std::wstring& host) {
    size_t scheme = url.find(L"://");
    if (scheme == std::wstring::npos) return url;
    size_t begin = scheme + 3;
    size_t end = url.find(L'/', begin);
    std::wstring oldHost = url.substr(begin, end == std::wstring::npos ? std::wstring::npos : end - begin);
    size_t colon = oldHost.find(L':', 1);
    if (colon != std::wstring::npos) oldHost.resize(colon);
    if (oldHost.empty()) return url;
    std::wstring result;
    size_t from = 0;
    for (size_t at = url.find(oldHost); at != std::wstring::npos; at = url.find(oldHost, from)) {
        result.append(url, from, at - from);
        result += host;
        from = at + oldHost.size();
    }
    result.append(url, from, std::wstring::npos);
    return result;
}
