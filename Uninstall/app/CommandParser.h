// The process's command line: switch presence and key=value lookups, keys case-insensitive.
#pragma once
#include "app/Singleton.h"
#include <map>
#include <string>

class CCommandParser : public CSingletonT<CCommandParser> {
public:
    CCommandParser() = default;
    ~CCommandParser() override = default;

    int Init(const std::wstring& commandLine);
    bool Parse();
    bool HasKey(const std::wstring& key) const;
    bool GetValue(const std::wstring& key, std::wstring& value) const;
    bool IsSilent() const { return HasKey(L"/S"); }
    const std::wstring& CommandLine() const { return m_strCommandLine; }
    size_t KeyCount() const { return m_mapArgs.size(); }

private:
    std::wstring m_strCommandLine;
    std::map<std::wstring, std::wstring> m_mapArgs;  // upper-cased key -> value
};

// Switches and keys the uninstaller reads.
constexpr wchar_t kSwitchReadyUninstall[] = L"/READYUNINSTALL";
constexpr wchar_t kSwitchKeep[] = L"/K";
constexpr wchar_t kSwitchSilent[] = L"/S";
constexpr wchar_t kKeyCallerToken[] = L"/CHK";
