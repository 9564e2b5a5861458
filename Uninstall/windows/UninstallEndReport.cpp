#include "windows/UninstallEndReport.h"
#include "app/Handles.h"
#include "app/InstallFacts.h"
#include "app/Registry.h"
#include "app/Utf8.h"
#include "report/Statistic.h"
#include <cstdint>
#include <cstdio>
#include <cwchar>

namespace {

constexpr wchar_t kKeptUserKey[] = L"Software\\VoroWallPaperEver";  // the uninstall leaves it in place
constexpr size_t kEncodedLimit = 2600;

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DayNumber(int year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

bool Unreserved(unsigned char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    switch (c) {
        case '!': case '\'': case '(': case ')': case '*': case '-': case '.': case '/': case ':': case '_':
        case '~': case '%':
            return true;
        default:
            return false;
    }
}

}  // namespace

namespace voro::endreport {

std::wstring FormatLocalTime(const SYSTEMTIME& t) {
    wchar_t text[64];
    swprintf(text, 64, L"%04d-%02d-%02d %02d:%02d:%02d", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    return text;
}

bool ParseLocalTime(const std::wstring& text, SYSTEMTIME& time) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (swscanf(text.c_str(), L"%d-%d-%d %d:%d:%d", &year, &month, &day, &hour, &minute, &second) != 6) return false;
    time = SYSTEMTIME{};
    time.wYear = static_cast<WORD>(year);
    time.wMonth = static_cast<WORD>(month);
    time.wDay = static_cast<WORD>(day);
    time.wHour = static_cast<WORD>(hour);
    time.wMinute = static_cast<WORD>(minute);
    time.wSecond = static_cast<WORD>(second);
    return true;
}

int DaysSinceInstall(const std::wstring& installDate, const SYSTEMTIME& now) {
    SYSTEMTIME installed;
    if (!ParseLocalTime(installDate, installed)) return 0;
    const int64_t days = DayNumber(now.wYear, now.wMonth, now.wDay) -
                         DayNumber(installed.wYear, installed.wMonth, installed.wDay);
    return static_cast<int>(days);
}

std::wstring EncodeForUrl(const std::wstring& text) {
    const std::string utf8 = voro::Utf8FromWide(text);
    std::wstring out;
    for (unsigned char c : utf8) {
        if (Unreserved(c)) {
            if (out.size() + 1 > kEncodedLimit) break;
            out += static_cast<wchar_t>(c);
        } else {
            if (out.size() + 3 > kEncodedLimit) break;
            wchar_t escaped[4];
            swprintf(escaped, 4, L"%%%02x", c);
            out += escaped;
        }
    }
    return out;
}

std::wstring UninstallEndExtra(int days, const std::wstring& encodedInstallDate) {
    return L"&ex1=" + std::to_wstring(days) + L"&ex2=" + encodedInstallDate;
}

std::wstring ReadInstallDate() {
    std::wstring date;
    if (!voro::reg::ReadString(HKEY_LOCAL_MACHINE, kProductAppPathsKey, L"InstallDate", date)) date.clear();
    return date;
}

bool WriteUninstallDate(const SYSTEMTIME& now) {
    const std::wstring text = FormatLocalTime(now);
    voro::UniqueHKey key;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, kKeptUserKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr) !=
        ERROR_SUCCESS) {
        key.reset();
        return false;
    }
    return ::RegSetValueExW(key.get(), L"unistdate", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>(text.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
}

void ReportUninstallEnd(const std::wstring& installDate) {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    WriteUninstallDate(now);
    const std::wstring extra = UninstallEndExtra(DaysSinceInstall(installDate, now), EncodeForUrl(installDate));
    CStatistic::Instance()->Dot(L"uninstall_2", extra.c_str(), 0);
}

}  // namespace voro::endreport
