// Helpers of the setup package tests: COM on the test thread, the temp directory redirected into a
// test folder, UTF-16 XML fixture files, the archive library beside the test program.
#pragma once
#include "TestSupport.h"
#include "config/ArchiveLibrary.h"
#include <windows.h>
#include <objbase.h>
#include <string>
#include <vector>

namespace setuptest {

class ComScope {
public:
    ComScope() { ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~ComScope() { ::CoUninitialize(); }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
};

// Points TMP and TEMP at a fresh folder for the lifetime of the object.
class TempDirRedirect {
public:
    TempDirRedirect() : m_oldTmp(Get(L"TMP")), m_oldTemp(Get(L"TEMP")) {
        ::SetEnvironmentVariableW(L"TMP", m_folder.Path().c_str());
        ::SetEnvironmentVariableW(L"TEMP", m_folder.Path().c_str());
    }
    ~TempDirRedirect() {
        ::SetEnvironmentVariableW(L"TMP", m_oldTmp.empty() ? nullptr : m_oldTmp.c_str());
        ::SetEnvironmentVariableW(L"TEMP", m_oldTemp.empty() ? nullptr : m_oldTemp.c_str());
    }
    TempDirRedirect(const TempDirRedirect&) = delete;
    TempDirRedirect& operator=(const TempDirRedirect&) = delete;
    const std::wstring& Path() const { return m_folder.Path(); }

private:
    static std::wstring Get(const wchar_t* name) {
        wchar_t value[1024] = {};
        DWORD length = ::GetEnvironmentVariableW(name, value, 1024);
        return length > 0 && length < 1024 ? std::wstring(value, length) : std::wstring();
    }
    testsupport::TempFolder m_folder;
    std::wstring m_oldTmp;
    std::wstring m_oldTemp;
};

struct DirEntry {
    std::wstring name;
    bool folder;
};

inline std::vector<DirEntry> ListFolder(const std::wstring& folder) {
    std::vector<DirEntry> entries;
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return entries;
    do {
        std::wstring name = data.cFileName;
        if (name != L"." && name != L"..")
            entries.push_back({name, (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    return entries;
}

// UTF-16 LE with a byte-order mark and the declaration the package files carry.
inline void WriteUtf16Xml(const std::wstring& path, const std::wstring& body) {
    std::wstring text = L"\xFEFF<?xml version=\"1.0\" encoding=\"utf-16\"?>\r\n" + body;
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ::WriteFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
    ::CloseHandle(file);
}

inline void WriteBytes(const std::wstring& path, const std::string& bytes) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    ::CloseHandle(file);
}

inline std::wstring ExeFolder() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L'\\'));
}

// The 7z.dll the build copies beside the test program.
inline bool LoadArchiveLibraryBesideExe() {
    return LoadArchiveLibrary((ExeFolder() + L"\\7z.dll").c_str());
}

}  // namespace setuptest
