// The last resort for items that neither go now nor can be scheduled for deletion at reboot: a
// batch file in the temp folder, run once at the next logon through the machine's RunOnce key.
#pragma once
#include "app/Handles.h"
#include "engine/FileRemoval.h"

#include <windows.h>
#include <string>

namespace voro {

constexpr wchar_t kRunOnceKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";

// The batch file, created by the first line written ("tvn????.bat" in the temp folder). Lines are
// formatted printf-style in the ANSI code page, at most 519 bytes each.
class RunOnceBatchFile {
public:
    RunOnceBatchFile() = default;
    RunOnceBatchFile(const RunOnceBatchFile&) = delete;
    RunOnceBatchFile& operator=(const RunOnceBatchFile&) = delete;

    // False when the file could not be created; the line is dropped then.
    bool AddLine(const char* format, ...);
    bool Exists() const { return m_file.valid(); }
    const std::string& Path() const { return m_path; }

private:
    bool Create();

    UniqueFile m_file;
    std::string m_path;
};

// Text in the thread's ANSI code page.
std::string ToAnsi(const std::wstring& text);
std::wstring FromAnsi(const std::string& text);

}  // namespace voro

// Disposes of the pending list (moved to temp and scheduled, else batch lines), schedules the
// install drive's ".temp" folder, registers the batch in RunOnce and removes the install folder
// when it is empty. False only for a null install folder.
bool WriteRunOnceBatch(voro::PendingList& pending, const wchar_t* installFolder);
