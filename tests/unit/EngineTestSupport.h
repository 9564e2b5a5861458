// Helpers of the engine tests: the log captured into a file, small files and folders, pending
// reboot operations.
#pragma once
#include "app/Registry.h"
#include "app/SmartLogger.h"

#include "TestSupport.h"

#include <windows.h>
#include <string>
#include <vector>

namespace enginetest {

// Points the process-wide log at a file of its own for the life of the object.
class CapturedLog {
public:
    CapturedLog() { CSmartLogger::Global().SetLogFile(m_folder.File(L"log.txt")); }
    ~CapturedLog() { CSmartLogger::Global().SetLogFile(L""); }
    std::string Text() const { return testsupport::ReadBytes(m_folder.File(L"log.txt")); }
    bool Has(const std::string& part) const { return Text().find(part) != std::string::npos; }

private:
    testsupport::TempFolder m_folder;
};

inline bool WriteSmallFile(const std::wstring& path, const char* text = "x") {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD done = 0;
    const BOOL ok = ::WriteFile(file, text, static_cast<DWORD>(strlen(text)), &done, nullptr);
    ::CloseHandle(file);
    return ok != FALSE;
}

inline bool MakeFolder(const std::wstring& path) { return ::CreateDirectoryW(path.c_str(), nullptr) != FALSE; }

inline bool Exists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += static_cast<char>(c < 0x80 ? c : '?');
    return out;
}

constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

// The sources of the reboot-time operations, in registration order ("\??\" removed).
inline std::vector<std::wstring> PendingRenameSources() {
    std::vector<std::wstring> sources;
    for (const voro::reg::Value& value :
         voro::reg::EnumValues(HKEY_LOCAL_MACHINE, kSessionManager, voro::reg::View::Wow64)) {
        if (_wcsicmp(value.name.c_str(), L"PendingFileRenameOperations") != 0 || value.type != REG_MULTI_SZ) continue;
        const wchar_t* p = reinterpret_cast<const wchar_t*>(value.data.data());
        const wchar_t* end = p + value.data.size() / sizeof(wchar_t);
        while (p < end && *p) {  // pairs of source and destination; an empty destination deletes
            std::wstring item = p;
            p += item.size() + 1;
            if (p < end) p += wcslen(p) + 1;
            sources.push_back(item.compare(0, 4, L"\\??\\") == 0 ? item.substr(4) : item);
        }
    }
    return sources;
}

inline bool IsPendingAtReboot(const std::wstring& path) {
    for (const std::wstring& source : PendingRenameSources())
        if (_wcsicmp(source.c_str(), path.c_str()) == 0) return true;
    return false;
}

}  // namespace enginetest
