#include "TestSupport.h"
#include <shellapi.h>
#include <objbase.h>
#include <fstream>
#include <iterator>
#include <vector>
#include <map>
#include <cstring>
#include <gtest/gtest.h>

namespace testsupport {
std::map<std::string, ChildMain>& Children();

TempFolder::TempFolder() {
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    GUID guid;
    ::CoCreateGuid(&guid);
    wchar_t name[64];
    ::StringFromGUID2(guid, name, 64);
    m_path = std::wstring(temp) + L"vorotest" + name;
    ::CreateDirectoryW(m_path.c_str(), nullptr);
}

TempFolder::~TempFolder() {
    std::wstring from = m_path + L'\0';  // double-null terminated
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NO_UI;
    ::SHFileOperationW(&op);
}

std::string ReadBytes(const std::wstring& path) {
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return {};
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    while (::ReadFile(h, buffer, sizeof(buffer), &got, nullptr) && got > 0) bytes.append(buffer, got);
    ::CloseHandle(h);
    return bytes;
}

bool FileExists(const std::wstring& path) {
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::map<std::string, ChildMain>& Children() {
    static std::map<std::string, ChildMain> children;
    return children;
}

bool RegisterChild(const char* name, ChildMain main) {
    Children()[name] = main;
    return true;
}

int RunChild(const char* role, const std::wstring& argument, DWORD timeoutMs) {
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring roleW(role, role + strlen(role));
    std::wstring commandLine = L"\"" + std::wstring(self) + L"\" --child " + roleW + L" \"" + argument + L"\"";
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(0);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(self, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return -1;
    ::CloseHandle(pi.hThread);
    DWORD code = static_cast<DWORD>(-1);
    if (::WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0)
        ::GetExitCodeProcess(pi.hProcess, &code);
    else
        ::TerminateProcess(pi.hProcess, 1);
    ::CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}

}  // namespace testsupport

// Test entry: "--child ROLE ARG" plays a child role, anything else runs the tests.
int main(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "--child") {
        auto& children = testsupport::Children();
        auto it = children.find(argv[2]);
        if (it == children.end()) return 99;
        int wargc = 0;
        LPWSTR* wargv = ::CommandLineToArgvW(::GetCommandLineW(), &wargc);
        std::wstring argument = (wargv && wargc >= 4) ? wargv[3] : L"";
        if (wargv) ::LocalFree(wargv);
        return it->second(argument);
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
