// The uninstaller's log: one time-stamped line per WriteLog call, appended to a text file in the
// locale's code page (CR LF line ends). The file is opened by the first write and kept open; every
// write is flushed to the file before WriteLog returns, so the log survives a crash and can be
// read while the uninstaller runs. (Opening and closing the file for every line cost more than
// deleting a file does: the removal writes one line per deleted file.)
#pragma once
#include "app/Locks.h"
#include <cstdio>
#include <memory>
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

    // Closes the file of a previous path.
    void SetLogFile(const std::wstring& path);
    size_t AddLine(const std::wstring& text);
    // Writes the pending lines and flushes the file; 1 when they reached it.
    int Flush();
    void Clear();
    // Formats like swprintf; drops the message when it is longer than 511 characters.
    void WriteV(const wchar_t* format, va_list args);

private:
    struct FileCloser {
        void operator()(FILE* file) const { fclose(file); }
    };
    // Opens the file for appending in text mode, creating its folder when missing.
    bool OpenFile();

    _BaseModule::CCriticalSection m_lock;
    std::vector<std::wstring> m_pendingLines;
    std::wstring m_strPath;
    bool m_bBannerDue = true;
    std::unique_ptr<FILE, FileCloser> m_file;  // open from the first write until the path changes
};

// Writes one line to the process-wide log.
void WriteLog(const wchar_t* format, ...);

// "%04d-%02d-%02d %02d:%02d:%02d " of the given local time.
std::wstring FormatLogTimeStamp(const SYSTEMTIME& t);
