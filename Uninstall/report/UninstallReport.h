// The uninstall report: the product's identifiers, enciphered, posted to the web service at the
// end of a removal, with a blocking wait of at most 30 seconds for the answer.
#pragma once
#include <string>

constexpr char kReportCipherKey[] = "4e7a1d05-8b3f-4c62-a0d9-7f31b6c8e257";
constexpr wchar_t kReportPath[] = L"/pc/udda/dogsun";
constexpr wchar_t kReportField[] = L"data";
constexpr unsigned long kReportTimeoutMs = 30000;

struct ReportFields {
    std::wstring type, pid, mid, mid2, appver, modver;
};

// Result without an answer: 1 for the maker's own channel codes and pids beginning with
// "system" (both ignoring case), 0 otherwise.
int ReportDefaultResult(const std::wstring& pid);
// The channel codes that count as the maker's own.
bool IsOwnChannel(const std::wstring& pid);
// {"type","pid","mid","mid2","appver","modver","appname":"voro"} printed unformatted, UTF-8.
std::string BuildReportJson(const ReportFields& fields);
// 1 when the deciphered answer holds mid2 at a position after the first; 0 otherwise, also
// when the answer does not decipher.
int ReportResultFromAnswer(const std::string& answer, const std::string& mid2Utf8);

// Posts the report and returns the result described above (the default without an answer).
int ReportUninstallInfo(const std::wstring& type, const std::wstring& pid, const std::wstring& appver);
