// Shared parts of the two remote configuration clients: the request URL and the answer parsers
// (pure functions over the answer text).
#pragma once
#include <string>
#include <vector>

constexpr wchar_t kUninstallOptionsPath[] = L"/live/intf/getUninstallOptions";
constexpr wchar_t kQuestionnaireConfigPath[] = L"/live/intf/GetConfig";

struct RemoteQueryValues {
    std::wstring appver;  // vorowp.exe in the install folder
    std::wstring modver;  // the running uninstaller
    std::wstring pid;     // the product channel, trimmed
};

// "http://" + host + path + "?appver=%s&modver=%s&pid=%s", the values inserted unescaped.
std::wstring BuildRemoteConfigUrl(const std::wstring& host, const wchar_t* path, const RemoteQueryValues& values);
// Reads the three values; installDir empty means the install folder the installer recorded.
RemoteQueryValues CollectRemoteQueryValues(const std::wstring& installDir);

// atoi's reading (blanks, sign, digits up to the first other character; 0 without digits)
// with values beyond the int range clamped instead of undefined.
int ParseLeadingInt(const std::wstring& text);

// The options answer: true, with `kinds` replaced, when errno is 0 and "data" is a non-empty
// string; its comma-separated pieces become the kinds in order (an empty piece reads as 0).
// Otherwise false and `kinds` untouched.
bool ParseUninstallOptions(const char* body, std::vector<int>& kinds);
// The questionnaire answer: true, with `url` set, when errno is 0 and the string
// data.uninstall_questionnaire.status reads as non-zero; url is then that object's string "url"
// (empty when absent). Otherwise false and `url` untouched.
bool ParseQuestionnaireUrl(const char* body, std::wstring& url);
