// OEM configuration: a partner build may redirect the product's web hosts through enciphered
// values in the machine registry. Filled once by its owner, read-only afterwards.
#pragma once
#include "app/Registry.h"
#include <map>
#include <string>
#include <vector>

class COemConfig {
public:
    // Key text of the cipher that protects the names and data of the OEM values.
    static constexpr const wchar_t* kCipherKey = L"3D1E5C0A-9B24-4F68-A7C3-E2B06D4915FA";

    // Reads the switch and, when it is on, every OEM value of the product code's keys.
    // Unknown product codes leave the configuration empty.
    void Init(const std::wstring& productCode);

    // The url with its host replaced by the configured value of `key`; the url unchanged when
    // the configuration is off or holds no such key.
    std::wstring GetHostOverride(const std::wstring& key, const std::wstring& url) const;
    // Replaces every occurrence of the url's host (port excluded) by `host`.
    static std::wstring ReplaceHost(const std::wstring& url, const std::wstring& host);

    bool IsOn() const { return m_bOn; }
    // The deciphered value of a name; empty when absent.
    std::wstring Value(const std::wstring& name) const;

    // Takes the values as enumerated from the OEM key: only string data of bounded size that is
    // terminated, whose name and data both decipher to non-empty texts.
    void Load(bool on, const std::vector<voro::reg::Value>& values);

private:
    std::wstring m_strProductCode;
    std::wstring m_strKeyPath;
    bool m_bOn = false;
    std::map<std::wstring, std::wstring> m_values;
};
