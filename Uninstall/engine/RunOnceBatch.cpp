#include "engine/RunOnceBatch.h"

#include "app/Registry.h"
#include "app/SmartLogger.h"

#include <shlwapi.h>

#include <cstdarg>
#include <cstdio>

namespace voro {

std::string ToAnsi(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int size = ::WideCharToMultiByte(CP_THREAD_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr,
                                           0, nullptr, nullptr);
    std::string out(size > 0 ? size : 0, '\0');
    if (size > 0)
        ::WideCharToMultiByte(CP_THREAD_ACP, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size,
                              nullptr, nullptr);
    return out;
}

std::wstring FromAnsi(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int size = ::MultiByteToWideChar(CP_THREAD_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(size > 0 ? size : 0, L'\0');
    if (size > 0)
        ::MultiByteToWideChar(CP_THREAD_ACP, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size);
    return out;
}

bool RunOnceBatchFile::Create() {
    char temp[MAX_PATH] = {};
    const DWORD length = ::GetTempPathA(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH) return false;
    char name[MAX_PATH] = {};
    if (!::GetTempFileNameA(temp, "tvn", 0, name)) return false;
    ::DeleteFileA(name);
    ::PathRenameExtensionA(name, ".bat");
    ::DeleteFileA(name);
    m_file.reset(::CreateFileA(name, GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!m_file) return false;
    m_path = name;
    return true;
}

bool RunOnceBatchFile::AddLine(const char* format, ...) {
    if (!m_file && !Create()) return false;
    char line[520] = {};
    va_list args;
    va_start(args, format);
    const int written = vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    if (written < 0) return false;
    const DWORD bytes = static_cast<DWORD>(strlen(line));  // longer output is cut at 519 bytes
    DWORD done = 0;
    return ::WriteFile(m_file.get(), line, bytes, &done, nullptr) && done == bytes;
}

}  // namespace voro

namespace {

bool ScheduleAtReboot(const std::wstring& path) {
    return ::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

// Moves one pending item to temp and schedules it; the batch takes it when scheduling fails.
void DisposeOf(const std::wstring& entry, voro::RunOnceBatchFile& batch, const char* batchCommand,
               const wchar_t* failedFormat) {
    std::wstring moved;
    if (!MoveToTemp(entry.c_str(), moved)) {
        WriteLog(failedFormat, entry.c_str());
        DeleteOrSchedule(entry.c_str());
        return;
    }
    WriteLog(L"cut %s to %s success", entry.c_str(), moved.c_str());
    if (ScheduleAtReboot(moved)) {
        WriteLog(L"write %s to pending success", moved.c_str());
        return;
    }
    batch.AddLine(batchCommand, voro::ToAnsi(moved).c_str());
    WriteLog(L"write to runonce bat: %s", moved.c_str());
}

bool RegisterRunOnce(const std::string& batchPath) {
    const char* name = ::PathFindFileNameA(batchPath.c_str());
    if (name == nullptr || *name == '\0') return false;
    HKEY raw = nullptr;
    if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, voro::ToAnsi(voro::kRunOnceKey).c_str(), 0, nullptr, 0,
                          KEY_SET_VALUE | voro::reg::ViewFlag(voro::reg::View::Wow32), nullptr, &raw,
                          nullptr) != ERROR_SUCCESS)
        return false;
    voro::UniqueHKey key(raw);
    return ::RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(batchPath.c_str()),
                            static_cast<DWORD>(batchPath.size())) == ERROR_SUCCESS;
}

}  // namespace

bool WriteRunOnceBatch(voro::PendingList& pending, const wchar_t* installFolder) {
    if (installFolder == nullptr) return false;
    voro::RunOnceBatchFile batch;

    voro::PendingList folders;
    for (const std::wstring& entry : pending) {
        const DWORD attributes = ::GetFileAttributesW(entry.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            folders.push_back(entry);
            continue;
        }
        DisposeOf(entry, batch, "del /q \"%s\" \r\n", L"cut %s to temp failed, delete by pending");
    }
    pending.clear();

    for (const std::wstring& folder : folders) {
        if (TryRemove(folder.c_str())) continue;
        DisposeOf(folder, batch, "rd /s /q \"%s\" \r\n", L"cut %s to temp failed,delete by pending");
    }

    wchar_t hidden[16];
    swprintf(hidden, 16, L"%c:\\.temp", installFolder[0] ? installFolder[0] : L'C');
    if (ScheduleAtReboot(hidden)) {
        WriteLog(L"write %s to pending success", hidden);
    } else {
        batch.AddLine("rd /q \"%s\" \r\n", voro::ToAnsi(hidden).c_str());
        WriteLog(L"write to runonce bat: %s", hidden);
    }

    if (batch.Exists()) {
        batch.AddLine("del /q \"%s\" \r\n", batch.Path().c_str());
        WriteLog(L"write to runonce bat: %s", voro::FromAnsi(batch.Path()).c_str());
        if (RegisterRunOnce(batch.Path()))
            WriteLog(L"write runonce bat to registry");
        else
            WriteLog(L"write runonce bat to registry failed, error=%d", static_cast<int>(::GetLastError()));
    }
    ::RemoveDirectoryW(installFolder);
    return true;
}
