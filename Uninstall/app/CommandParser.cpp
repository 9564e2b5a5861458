#include "app/CommandParser.h"
#include "app/Handles.h"
#include <windows.h>
#include <shellapi.h>
#include <cwctype>

namespace {

std::wstring Trim(const std::wstring& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::iswspace(s[b])) ++b;
    while (e > b && std::iswspace(s[e - 1])) --e;
    return s.substr(b, e - b);
}

std::wstring Upper(std::wstring s) {
    for (wchar_t& c : s) c = static_cast<wchar_t>(std::towupper(c));
    return s;
}

}  // namespace

int CCommandParser::Init(const std::wstring& commandLine) {
    m_strCommandLine = commandLine;
    Parse();
    return 1;
}

bool CCommandParser::Parse() {
    m_mapArgs.clear();
    int count = 0;
    LPWSTR* argv = ::CommandLineToArgvW(m_strCommandLine.c_str(), &count);
    if (!argv) return false;
    voro::UniqueLocal owner(reinterpret_cast<HLOCAL>(argv));
    for (int i = 0; i < count; ++i) {
        std::wstring arg = argv[i];
        std::wstring key = arg, value;
        size_t eq = arg.find(L'=');
        if (eq != std::wstring::npos) {
            key = arg.substr(0, eq);
            value = arg.substr(eq + 1);
        }
        key = Trim(key);
        value = Trim(value);
        if (!value.empty() && value.front() == L'"') value.erase(0, 1);
        if (!value.empty() && value.back() == L'"') value.pop_back();
        m_mapArgs[Upper(key)] = value;
    }
    return true;
}

bool CCommandParser::HasKey(const std::wstring& key) const {
    return m_mapArgs.count(Upper(key)) != 0;
}

bool CCommandParser::GetValue(const std::wstring& key, std::wstring& value) const {
    auto it = m_mapArgs.find(Upper(key));
    if (it == m_mapArgs.end()) return false;
    value = it->second;
    return true;
}
