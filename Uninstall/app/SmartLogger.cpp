#include "app/SmartLogger.h"
#include "app/Handles.h"
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <cstdarg>
#include <cstdio>

namespace {

std::wstring CurrentTimeStamp() {
    SYSTEMTIME t;
    ::GetLocalTime(&t);
    return FormatLogTimeStamp(t);
}

bool FolderExists(const std::wstring& path) {
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

std::wstring FormatLogTimeStamp(const SYSTEMTIME& t) {
    wchar_t buffer[32];
    _snwprintf(buffer, 32, L"%04d-%02d-%02d %02d:%02d:%02d ", t.wYear, t.wMonth, t.wDay, t.wHour,
               t.wMinute, t.wSecond);
    buffer[31] = 0;
    return buffer;
}

CSmartLogger& CSmartLogger::Global() {
    // Never destroyed: detached threads may still log while the process exits.
    static CSmartLogger* instance = new CSmartLogger();
    return *instance;
}

void CSmartLogger::SetLogFile(const std::wstring& path) {
    _BaseModule::CAutoLocker lock(&m_lock);
    m_file.reset();
    m_strPath = path;
    voro::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    LARGE_INTEGER size;
    if (::GetFileSizeEx(file.get(), &size) && static_cast<unsigned long long>(size.QuadPart) > kMaxKeptSize) {
        file.reset();
        ::DeleteFileW(path.c_str());
    }
}

size_t CSmartLogger::AddLine(const std::wstring& text) {
    _BaseModule::CAutoLocker lock(&m_lock);
    std::wstring line = CurrentTimeStamp() + text;
    if (!text.empty() && text.back() != L'\n') line += L'\n';
    m_pendingLines.push_back(std::move(line));
    size_t pending = m_pendingLines.size();
    if (pending > kFlushThreshold) Flush();
    return pending;
}

bool CSmartLogger::OpenFile() {
    if (m_strPath.size() >= MAX_PATH) return false;
    wchar_t folder[MAX_PATH];
    wcscpy(folder, m_strPath.c_str());
    ::PathRemoveFileSpecW(folder);
    if (folder[0] && !FolderExists(folder)) ::SHCreateDirectoryExW(nullptr, folder, nullptr);
    if (folder[0] && !FolderExists(folder)) return false;
    // Text mode: wide text goes out in the locale's code page, "\n" as CR LF.
    m_file.reset(_wfopen(m_strPath.c_str(), L"a"));
    return m_file != nullptr;
}

int CSmartLogger::Flush() {
    _BaseModule::CAutoLocker lock(&m_lock);
    if (m_strPath.empty()) return 0;
    int written = 0;
    if (m_file || OpenFile()) {
        FILE* f = m_file.get();
        if (m_bBannerDue) {
            std::wstring banner =
                L"\r\n================== Start Log:" + CurrentTimeStamp() + L" ==================\n";
            fputws(banner.c_str(), f);
        }
        for (const std::wstring& line : m_pendingLines) fputws(line.c_str(), f);
        if (fflush(f) == 0 && !ferror(f)) {
            written = 1;
            m_bBannerDue = false;
        } else {
            m_file.reset();  // opened again by the next write
        }
    }
    m_pendingLines.clear();
    return written;
}

void CSmartLogger::Clear() {
    _BaseModule::CAutoLocker lock(&m_lock);
    m_pendingLines.clear();
}

void CSmartLogger::WriteV(const wchar_t* format, va_list args) {
    wchar_t buffer[kMaxMessage + 1];
    // The Microsoft convention: %s takes a wide string in a wide format.
    int n = _vsnwprintf(buffer, kMaxMessage + 1, format, args);
    if (n < 0 || static_cast<size_t>(n) > kMaxMessage) return;
    buffer[n] = 0;
    // One lock hold for the three steps: a Clear after the lock was released in between would
    // discard a line that another thread had just added.
    _BaseModule::CAutoLocker lock(&m_lock);
    AddLine(buffer);
    if (Flush() == 1) Clear();
}

void WriteLog(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    CSmartLogger::Global().WriteV(format, args);
    va_end(args);
}
