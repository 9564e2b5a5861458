// Small helpers shared by the unit tests: temp files, reading bytes, running this test program
// again as a child process.
#pragma once
#include <windows.h>
#include <string>

namespace testsupport {

// A fresh, empty folder under the temp directory, removed by the destructor.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::wstring& Path() const { return m_path; }
    std::wstring File(const std::wstring& name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};

std::string ReadBytes(const std::wstring& path);
bool FileExists(const std::wstring& path);

// Child roles: a test program can run itself again as a child process that plays a role
// (another instance, a second writer) instead of running the tests.
using ChildMain = int (*)(const std::wstring& argument);
bool RegisterChild(const char* name, ChildMain main);
#define TEST_CHILD_ROLE(name)                                                            \
    static int name##_child([[maybe_unused]] const std::wstring& argument);             \
    static const bool name##_registered = ::testsupport::RegisterChild(#name, name##_child); \
    static int name##_child([[maybe_unused]] const std::wstring& argument)

// Runs this test executable again in the named child role with one argument and returns its
// exit code, or -1 when it could not be started or did not end within the time-out.
int RunChild(const char* role, const std::wstring& argument, DWORD timeoutMs = 60000);

// Pumps the calling thread's messages for up to timeoutMs or until done() holds.
template <typename Done>
bool PumpUntil(Done done, DWORD timeoutMs) {
    DWORD start = ::GetTickCount();
    while (!done()) {
        if (::GetTickCount() - start > timeoutMs) return false;
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

// Whether the service manager knows a service of that name.
inline bool ServiceExists(const wchar_t* name) {
    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? ::OpenServiceW(manager, name, SERVICE_QUERY_STATUS) : nullptr;
    if (service) ::CloseServiceHandle(service);
    if (manager) ::CloseServiceHandle(manager);
    return service != nullptr;
}

// A text in code page 936, as the program's log holds it.
inline std::string Gbk(const std::wstring& text) {
    const int n = ::WideCharToMultiByte(936, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) ::WideCharToMultiByte(936, 0, text.c_str(), static_cast<int>(text.size()), &out[0], n, nullptr, nullptr);
    return out;
}

}  // namespace testsupport
