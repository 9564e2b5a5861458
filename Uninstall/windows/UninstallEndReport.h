// What the end of an uninstall records and reports, shared by the progress window and the
// windowless silent flow: the uninstall date, the days since the install and the "uninstall_2"
// event with the install date encoded for a URL.
#pragma once
#include <windows.h>
#include <string>

namespace voro::endreport {

// "%04d-%02d-%02d %02d:%02d:%02d"
std::wstring FormatLocalTime(const SYSTEMTIME& time);
// True when the text gives all six fields of that format.
bool ParseLocalTime(const std::wstring& text, SYSTEMTIME& time);
// Whole calendar days from the install date's day to today's; 0 when the date does not parse.
int DaysSinceInstall(const std::wstring& installDate, const SYSTEMTIME& now);
// UTF-8 bytes, letters, digits and ! ' ( ) * - . / : _ ~ % kept, every other byte "%xx" (lower
// case); at most 2600 characters.
std::wstring EncodeForUrl(const std::wstring& text);
// "&ex1=%d&ex2=%s"
std::wstring UninstallEndExtra(int days, const std::wstring& encodedInstallDate);

// "InstallDate" of the App Paths record; empty when missing.
std::wstring ReadInstallDate();
// "unistdate" under HKCU\Software\VoroWallPaperEver (REG_SZ without terminator).
bool WriteUninstallDate(const SYSTEMTIME& now);
// Writes the uninstall date and reports "uninstall_2" for the install date read at the start.
void ReportUninstallEnd(const std::wstring& installDate);

}  // namespace voro::endreport
