// The uninstaller's log: one time-stamped line per WriteLog call, appended to a text file in the
// locale's code page (CR LF line ends), the file opened and closed for every write.
#pragma once
#include "app/Locks.h"
#include <string>
#include <vector>

constexpr wchar_t kLogFileName[] = L"tesk_uninst.log";

class CSmartLogger {
public:
    static constexpr unsigned long long kMaxKeptSize = 1073741824ULL;  // larger files are deleted
    static constexpr size_t kMaxMessage = 511;                         // longer messages are dropped
    static constexpr size_t kFlushThreshold = 100;                     // pending lines before a flush

    CSmartLogger() = default;
    virtual ~CSmartLogger() = default;  // pending lines are discarded, not written
    CSmartLogger(const CSmartLogger&) = delete;
    CSmartLogger& operator=(const CSmartLogger&) = delete;

    // The process-wide logger behind WriteLog; it lives until the process ends.
    static CSmartLogger& Global();

    void SetLogFile(const std::wstring& path);
    size_t AddLine(const std::wstring& text);
    int Flush();
    void Clear();
    // Formats like swprintf; drops the message when it is longer than 511 characters.
    void WriteV(const wchar_t* format, va_list args);

private:
    _BaseModule::CCriticalSection m_lock;
    std::vector<std::wstring> m_pendingLines;
    std::wstring m_strPath;
    bool m_bBannerDue = true;
};

// Writes one line to the process-wide log.
void WriteLog(const wchar_t* format, ...);

// "%04d-%02d-%02d %02d:%02d:%02d " of the given local time.
std::wstring FormatLogTimeStamp(const SYSTEMTIME& t);
