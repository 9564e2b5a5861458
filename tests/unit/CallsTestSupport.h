// Helpers of the program-call tests: the fixture's calls file, the log as a list of lines, the
// starts RunProgram makes (through its observer), fixture binaries placed into a test folder.
#pragma once
#include "engine/ProgramCalls.h"

#include "EngineTestSupport.h"
#include "FixturePaths.h"
#include "TestSupport.h"

#include <shlobj.h>
#include <windows.h>

#include <string>
#include <vector>

namespace callstest {

inline std::string Utf8(const std::wstring& text) {
    const int size =
        ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    if (size > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size, nullptr,
                              nullptr);
    return out;
}

inline std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        while (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// One line of the calls file without its time stamp: "<program or module> TAB <arguments>".
inline std::vector<std::string> ReadCalls(const std::wstring& file) {
    std::vector<std::string> calls;
    for (const std::string& line : SplitLines(testsupport::ReadBytes(file))) {
        const size_t stamp = line.rfind('\t');
        if (!line.empty()) calls.push_back(stamp == std::string::npos ? line : line.substr(0, stamp));
    }
    return calls;
}

inline std::string Call(const std::wstring& program, const std::wstring& arguments) {
    return Utf8(program) + "\t" + Utf8(arguments);
}

// The log's lines without the banner and without the "yyyy-mm-dd hh:mm:ss " stamp.
inline std::vector<std::string> LogLines(const std::string& text) {
    constexpr size_t kStamp = 20;
    std::vector<std::string> lines;
    for (const std::string& line : SplitLines(text)) {
        if (line.empty() || line.compare(0, 18, "==================") == 0) continue;
        lines.push_back(line.size() >= kStamp ? line.substr(kStamp) : line);
    }
    return lines;
}

inline std::string Join(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

// The calls file of one test, named to the fixture binaries through the environment.
class CallsFile {
public:
    CallsFile() : m_path(m_folder.File(L"calls.txt")) { ::SetEnvironmentVariableW(L"VORO_FIXTURE_CALLS", m_path.c_str()); }
    ~CallsFile() { ::SetEnvironmentVariableW(L"VORO_FIXTURE_CALLS", nullptr); }
    CallsFile(const CallsFile&) = delete;
    CallsFile& operator=(const CallsFile&) = delete;
    std::vector<std::string> Calls() const { return ReadCalls(m_path); }
    // Waits for calls of programs that were started without waiting for them.
    bool WaitForCount(size_t count, DWORD timeoutMs = 20000) const {
        return testsupport::PumpUntil([&] { return Calls().size() >= count; }, timeoutMs);
    }

private:
    testsupport::TempFolder m_folder;
    std::wstring m_path;
};

// What RunProgram was about to start, recorded while the object lives.
struct Start {
    std::wstring path;
    std::wstring parameters;
    bool wait;
    DWORD waitMs;
};

inline std::vector<Start>& RecordedStarts() {
    static std::vector<Start> starts;
    return starts;
}

class StartRecorder {
public:
    StartRecorder() {
        RecordedStarts().clear();
        SetProgramStartObserver([](const ProgramStart& start) {
            RecordedStarts().push_back(
                {start.path, start.parameters ? start.parameters : L"", start.wait, start.waitMs});
        });
    }
    ~StartRecorder() { SetProgramStartObserver(nullptr); }
    StartRecorder(const StartRecorder&) = delete;
    StartRecorder& operator=(const StartRecorder&) = delete;
    const std::vector<Start>& Starts() const { return RecordedStarts(); }
};

// Copies a fixture binary (for example L"bin\\vorotool.exe", L"unsigned\\voroplug.dll") to target,
// creating its folders.
inline bool Place(const std::wstring& fixtureFile, const std::wstring& target) {
    const std::wstring folder = target.substr(0, target.find_last_of(L'\\'));
    const int rc = ::SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
    if (rc != ERROR_SUCCESS && rc != ERROR_ALREADY_EXISTS) return false;
    return ::CopyFileW(fixture::Path(fixtureFile).c_str(), target.c_str(), FALSE) != FALSE;
}

}  // namespace callstest
