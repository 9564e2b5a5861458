#include "EngineDriverCore.h"

#include "app/Handles.h"
#include "app/InstallFacts.h"
#include "app/Locks.h"
#include "app/Paths.h"
#include "app/Registry.h"
#include "app/SmartLogger.h"
#include "engine/SignatureCheck.h"
#include "engine/UninstallTask.h"
#include "report/HttpModule.h"
#include "report/ServerHosts.h"
#include "report/TvnMID2.h"

#include <objbase.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <clocale>
#include <cwchar>
#include <functional>
#include <map>
#include <set>

namespace enginedriver {

namespace reg = voro::reg;

namespace {

constexpr int kPackageResource = 209;
constexpr wchar_t kPackageType[] = L"SETUPCONFIG";
constexpr wchar_t kProjectFile[] = L"tesk.tvnprj";
constexpr wchar_t kClosedPort[] = L"127.0.0.1:1";
constexpr DWORD kReadyWaitMs = 30000;
constexpr wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kAppPathsRoot[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::wstring ExeFolder() {
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    ::PathRemoveFileSpecW(path);
    return path;
}

std::wstring TempFolder() {
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    return length == 0 || length > MAX_PATH ? std::wstring() : std::wstring(temp);
}

std::string ReadBytes(const std::wstring& path, unsigned long long from = 0) {
    voro::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return std::string();
    LARGE_INTEGER offset;
    offset.QuadPart = static_cast<LONGLONG>(from);
    ::SetFilePointerEx(file.get(), offset, nullptr, FILE_BEGIN);
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (::ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) bytes.append(buffer, read);
    return bytes;
}

unsigned long long FileSize(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::wstring Decode(const std::string& bytes, UINT codePage) {
    if (bytes.empty()) return std::wstring();
    const int size = ::MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(size > 0 ? size : 0, L'\0');
    if (size > 0) ::MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], size);
    return text;
}

std::vector<std::wstring> Lines(const std::wstring& text) {
    std::vector<std::wstring> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(start, end - start);
        while (!line.empty() && line.back() == L'\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

bool SameText(const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) == 0; }

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
    return text.size() >= prefix.size() && _wcsnicmp(text.c_str(), prefix.c_str(), prefix.size()) == 0;
}

// ---- recording callback --------------------------------------------------------------------

class Recorder : public IUninstallCallback {
public:
    explicit Recorder(DWORD uiThread) : m_uiThread(uiThread) {}
    void OnUninstallStart() override { Add("start", 0); }
    void OnUninstallProgress(int percent) override { Add("progress", percent); }
    void OnUninstallEnd() override { Add("end", 0); }
    void OnRealInstallEnd() override {
        Add("real-end", 0);
        ::SetEvent(m_done.get());
    }
    HANDLE Done() const { return m_done.get(); }
    std::vector<Notification> Notifications() {
        _BaseModule::CAutoLocker lock(&m_lock);
        return m_notifications;
    }

private:
    void Add(const char* kind, int value) {
        _BaseModule::CAutoLocker lock(&m_lock);
        m_notifications.push_back({kind, value, ::GetCurrentThreadId() == m_uiThread});
    }
    DWORD m_uiThread;
    voro::UniqueKernelHandle m_done{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    _BaseModule::CCriticalSection m_lock;
    std::vector<Notification> m_notifications;
};

// Pumps this thread's messages until the handle is signalled or the time is up.
bool PumpUntilSignalled(HANDLE handle, DWORD timeoutMs) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        const DWORD elapsed = ::GetTickCount() - start;
        if (elapsed >= timeoutMs) return ::WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
        const DWORD r = ::MsgWaitForMultipleObjects(1, &handle, FALSE, timeoutMs - elapsed, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0) return true;
        if (r == WAIT_FAILED) return false;
    }
}

// ---- product programs started before the run -------------------------------------------------

std::wstring CallsFile() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetEnvironmentVariableW(L"VORO_FIXTURE_CALLS", path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(path) : std::wstring(L"C:\\voro_fixture_calls.txt");
}

size_t CallLinesOf(const std::wstring& program) {
    size_t count = 0;
    for (const std::wstring& line : Lines(Decode(ReadBytes(CallsFile()), CP_UTF8)))
        if (StartsWithNoCase(line, program + L"\t")) ++count;
    return count;
}

// "path[.exe] [arguments]", the path absolute or relative to the install folder; started once the
// program logged its start in the calls file. The process handle is kept for the check after the run.
StartedProgram StartProgram(const std::wstring& command, const std::wstring& installFolder,
                            voro::UniqueKernelHandle& process) {
    std::wstring lower = command;
    for (wchar_t& c : lower) c = static_cast<wchar_t>(towlower(c));
    const size_t exe = lower.find(L".exe");
    std::wstring path = exe == std::wstring::npos ? command : command.substr(0, exe + 4);
    std::wstring arguments = exe == std::wstring::npos ? std::wstring() : command.substr(exe + 4);
    while (!arguments.empty() && arguments.front() == L' ') arguments.erase(0, 1);
    if (::PathIsRelativeW(path.c_str())) path = voro::JoinPath(installFolder, path);
    StartedProgram program;
    program.path = path;
    const size_t before = CallLinesOf(path);
    std::wstring commandLine = L"\"" + path + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return program;
    process.reset(pi.hProcess);
    voro::UniqueKernelHandle thread(pi.hThread);
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < kReadyWaitMs) {
        if (CallLinesOf(path) > before) break;
        if (::WaitForSingleObject(process.get(), 50) == WAIT_OBJECT_0) break;
    }
    program.started = CallLinesOf(path) > before;
    return program;
}

// ---- inventory -------------------------------------------------------------------------------

enum class Kind { File, Key, Value, Service };

struct Probe {
    Probe(Kind k, std::wstring n, std::wstring p, HKEY r = nullptr, reg::View v = reg::View::Wow32,
          std::wstring valueName = std::wstring())
        : kind(k), name(std::move(n)), path(std::move(p)), root(r), view(v), value(std::move(valueName)) {}
    Kind kind;
    std::wstring name;  // shown
    std::wstring path;  // file path, or key path
    HKEY root;
    reg::View view;
    std::wstring value;
    bool link = false;
};

bool ServiceExists(const std::wstring& name) {
    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) return false;
    SC_HANDLE service = ::OpenServiceW(manager, name.c_str(), SERVICE_QUERY_STATUS);
    if (service) ::CloseServiceHandle(service);
    ::CloseServiceHandle(manager);
    return service != nullptr;
}

bool ProbeExists(const Probe& probe) {
    switch (probe.kind) {
        case Kind::File: return ::GetFileAttributesW(probe.path.c_str()) != INVALID_FILE_ATTRIBUTES;
        case Kind::Key: return reg::KeyExists(probe.root, probe.path, probe.view);
        case Kind::Value: {
            for (const reg::Value& v : reg::EnumValues(probe.root, probe.path, probe.view))
                if (SameText(v.name, probe.value)) return true;
            return false;
        }
        case Kind::Service: return ServiceExists(probe.path);
    }
    return false;
}

// A folder, everything below it (links listed, never entered) and the folder itself last.
void AddTree(std::vector<Probe>& probes, const std::wstring& folder) {
    const DWORD attributes = ::GetFileAttributesW(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !link) {
        WIN32_FIND_DATAW data;
        voro::UniqueFind find(::FindFirstFileW(voro::JoinPath(folder, L"*").c_str(), &data));
        if (find) {
            do {
                if (wcscmp(data.cFileName, L".") != 0 && wcscmp(data.cFileName, L"..") != 0)
                    AddTree(probes, voro::JoinPath(folder, data.cFileName));
            } while (::FindNextFileW(find.get(), &data));
        }
    }
    Probe probe{Kind::File, folder, folder};
    probe.link = link;
    probes.push_back(probe);
}

std::wstring RootName(HKEY root, reg::View view) {
    if (root == HKEY_CURRENT_USER) return L"HKCU\\";
    if (root == HKEY_CLASSES_ROOT) return L"HKCR\\";
    return view == reg::View::Wow64 ? L"HKLM64\\" : L"HKLM32\\";
}

void AddKey(std::vector<Probe>& probes, HKEY root, const std::wstring& key, reg::View view = reg::View::Wow32) {
    Probe probe{Kind::Key, RootName(root, view) + key, key, root, view};
    if (ProbeExists(probe)) probes.push_back(probe);
}

void AddValue(std::vector<Probe>& probes, HKEY root, const std::wstring& key, const std::wstring& value,
              reg::View view = reg::View::Wow32) {
    Probe probe{Kind::Value, RootName(root, view) + key + L" : " + value, key, root, view, value};
    if (ProbeExists(probe)) probes.push_back(probe);
}

std::vector<Probe> TakeInventory(const std::wstring& installFolder) {
    std::vector<Probe> probes;
    AddTree(probes, installFolder);
    for (int csidl : {CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_DESKTOPDIRECTORY})
        for (const wchar_t* name : {L"Quon壁纸.lnk", L"Voro壁纸.lnk", L"Voro壁纸Lite.lnk"})
            AddTree(probes, voro::JoinPath(voro::SpecialFolderPath(csidl), name));
    const std::wstring programs = voro::SpecialFolderPath(CSIDL_COMMON_PROGRAMS);
    AddTree(probes, voro::JoinPath(programs, L"Voro壁纸"));
    AddTree(probes, voro::JoinPath(programs, L"Quon安全中心\\Quon壁纸"));
    AddTree(probes, voro::JoinPath(voro::SpecialFolderPath(CSIDL_APPDATA), L"vorowp"));
    // The legacy uninstaller and its two folders, not what else they may hold.
    const std::wstring legacy = voro::JoinPath(voro::SpecialFolderPath(CSIDL_PROGRAM_FILESX86), L"Quon");
    for (const std::wstring& path : {voro::JoinPath(legacy, L"Dererore\\Uninstall.exe"), voro::JoinPath(legacy, L"Dererore"), legacy})
        if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) probes.emplace_back(Kind::File, path, path);
    wchar_t windows[MAX_PATH] = {};
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    AddTree(probes, voro::JoinPath(windows, L"system32\\Tasks\\vorowp-srv"));

    AddKey(probes, HKEY_LOCAL_MACHINE, std::wstring(kAppPathsRoot) + L"vorowp.exe");
    AddKey(probes, HKEY_LOCAL_MACHINE, std::wstring(kAppPathsRoot) + L"Divizodaz.exe");
    AddKey(probes, HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\vorowp");
    AddKey(probes, HKEY_CURRENT_USER, L"Software\\VoroWallPaper");
    AddKey(probes, HKEY_CURRENT_USER, L"Software\\VoroWallPaperEver");
    AddKey(probes, HKEY_CLASSES_ROOT, L"VoroWallpaper");
    AddValue(probes, HKEY_CURRENT_USER, kRunKey, L"vorowp-srv");
    AddValue(probes, HKEY_LOCAL_MACHINE, kRunKey, L"vorowp-srv");
    AddValue(probes, HKEY_LOCAL_MACHINE, kRunKey, L"vorowp");
    AddValue(probes, HKEY_LOCAL_MACHINE, kRunKey, L"vorowp", reg::View::Wow64);
    for (const wchar_t* service : {L"CorvixLock", L"CorvixLockWp", L"VarorizaVuvorizIr", L"RodurevareruZE"}) {
        Probe probe{Kind::Service, std::wstring(L"service ") + service, service};
        if (ProbeExists(probe)) probes.push_back(probe);
    }
    return probes;
}

// What the run did to the items that did not simply go, read from its log lines.
struct RunFacts {
    std::map<std::wstring, std::wstring> movedTo;  // upper-cased source -> temp copy
    std::set<std::wstring> refusedNames;          // top-level names of the install folder left alone
    std::set<std::wstring> inBatch;               // upper-cased paths the RunOnce batch deletes
    std::set<std::wstring> pending;               // upper-cased reboot-time deletions
    std::wstring refusal;                         // the install-folder refusal line, if any
};

std::wstring Upper(std::wstring text) {
    if (!text.empty()) ::CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

// The text between prefix and separator of a log line (after its time stamp).
bool Between(const std::wstring& line, const std::wstring& prefix, const std::wstring& separator, std::wstring& first,
             std::wstring& rest) {
    const size_t at = line.find(prefix);
    if (at == std::wstring::npos) return false;
    const size_t start = at + prefix.size();
    const size_t split = separator.empty() ? line.size() : line.find(separator, start);
    if (split == std::wstring::npos) return false;
    first = line.substr(start, split - start);
    rest = separator.empty() ? std::wstring() : line.substr(split + separator.size());
    return true;
}

RunFacts ReadRunFacts(const std::wstring& logText) {
    RunFacts facts;
    for (const std::wstring& line : Lines(logText)) {
        std::wstring a, b;
        if (Between(line, L"cut ", L" to ", a, b) && b.size() > 8 && b.compare(b.size() - 8, 8, L" success") == 0)
            facts.movedTo[Upper(a)] = b.substr(0, b.size() - 8);
        else if (Between(line, L"delete file:", L" by pending:", a, b))
            facts.movedTo[Upper(a)] = b;
        else if (Between(line, L"File NOT exists in xml: ", L"", a, b))
            facts.refusedNames.insert(Upper(a));
        else if (Between(line, L"write to runonce bat: ", L"", a, b))
            facts.inBatch.insert(Upper(a));
        else if (line.find(L"refuse install folder") != std::wstring::npos)
            facts.refusal = line.substr(line.find(L"refuse install folder"));
    }
    for (const reg::Value& value : reg::EnumValues(HKEY_LOCAL_MACHINE, kSessionManager, reg::View::Wow64)) {
        if (!SameText(value.name, L"PendingFileRenameOperations") || value.type != REG_MULTI_SZ) continue;
        const wchar_t* p = reinterpret_cast<const wchar_t*>(value.data.data());
        const wchar_t* end = p + value.data.size() / sizeof(wchar_t);
        while (p < end && *p) {
            std::wstring source = p;
            p += source.size() + 1;
            if (p < end) p += wcslen(p) + 1;
            if (source.compare(0, 4, L"\\??\\") == 0) source.erase(0, 4);
            facts.pending.insert(Upper(source));
        }
    }
    return facts;
}

// Why an item stayed where it was.
std::wstring ReasonLeft(const Probe& probe, const std::wstring& installFolder, const RunFacts& facts,
                        bool removeAppData) {
    const std::wstring upper = Upper(probe.path);
    const std::wstring install = Upper(installFolder);
    if (probe.kind == Kind::File && (upper == install || StartsWithNoCase(upper, install + L"\\"))) {
        if (!facts.refusal.empty()) return facts.refusal;
        if (upper == install) return L"the install folder still holds what was left in it";
        std::wstring top = upper.substr(install.size() + 1);
        top = top.substr(0, top.find(L'\\'));
        if (facts.refusedNames.count(top)) return L"neither in the root folder list nor signed by an allowed publisher";
    }
    if (probe.kind == Kind::Key && probe.root == HKEY_CURRENT_USER && SameText(probe.path, L"Software\\VoroWallPaperEver"))
        return L"kept: the record that the product was installed once";
    if (probe.kind == Kind::Key && StartsWithNoCase(probe.path, std::wstring(kAppPathsRoot) + L"vorowp.exe"))
        return L"kept: the engine only reads the product's App Paths key and its lists";
    if (!removeAppData && StartsWithNoCase(upper, Upper(voro::JoinPath(voro::SpecialFolderPath(CSIDL_APPDATA), L"vorowp"))))
        return L"kept: removing the user data was not chosen";
    if (probe.link) return L"a link is removed as a link, never followed; this one stayed";
    return L"not removed";
}

std::vector<Item> SortInventory(const std::vector<Probe>& probes, const std::wstring& installFolder,
                                const RunFacts& facts, bool removeAppData) {
    std::vector<Item> items;
    for (const Probe& probe : probes) {
        Item item;
        item.name = probe.name;
        const std::wstring upper = Upper(probe.path);
        const bool exists = ProbeExists(probe);
        const auto moved = facts.movedTo.find(upper);
        if (probe.kind == Kind::File && moved != facts.movedTo.end()) {
            const std::wstring copy = Upper(moved->second);
            item.fate = Fate::Scheduled;
            item.detail = L"moved to " + moved->second +
                          (facts.inBatch.count(copy) ? L", deleted by the RunOnce batch at the next logon"
                                                     : L", deleted at the reboot");
        } else if (!exists) {
            item.fate = Fate::Removed;
        } else if (probe.kind == Kind::File && facts.pending.count(upper)) {
            item.fate = Fate::Scheduled;
            item.detail = L"deleted at the reboot";
        } else if (probe.kind == Kind::File && facts.inBatch.count(upper)) {
            item.fate = Fate::Scheduled;
            item.detail = L"deleted by the RunOnce batch at the next logon";
        } else {
            item.fate = Fate::Left;
            item.detail = ReasonLeft(probe, installFolder, facts, removeAppData);
        }
        items.push_back(item);
    }
    return items;
}

}  // namespace

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string out(size > 0 ? size : 0, '\0');
    if (size > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

bool RunEngine(const Options& options, Result& result) {
    result = Result();
    // As Uninstall.exe: COM on the UI thread, the log in the locale's code page in the temp folder.
    ::CoInitialize(nullptr);
    setlocale(LC_ALL, "chs");
    const std::wstring logPath = TempFolder() + kLogFileName;
    CSmartLogger::Global().SetLogFile(logPath);
    const unsigned long long logStart = FileSize(logPath);

    // Loopback only: every host is a closed port unless the report has a server to go to.
    ServerHosts hosts;
    hosts.statistics = hosts.webService = hosts.download = hosts.accountCentre = kClosedPort;
    if (!options.reportHost.empty()) hosts.webService = options.reportHost;
    SetServerHosts(hosts);
    LoadHttpModule(ExeFolder());

    result.installFolder = options.installFolder.empty() ? GetInstallFolder() : options.installFolder;
    IUninstallTask* task = GetUninstallTask();
    task->SetInstallDir(result.installFolder.c_str());
    result.preInitCheck = task->PreInitCheck();
    if (result.preInitCheck != 0) return false;
    result.configLoaded = task->InitConfig(::GetModuleHandleW(nullptr), kPackageResource, kPackageType, kProjectFile);
    if (!result.configLoaded) return false;

    std::vector<voro::UniqueKernelHandle> processes(options.startPrograms.size());
    for (size_t i = 0; i < options.startPrograms.size(); ++i)
        result.started.push_back(StartProgram(options.startPrograms[i], result.installFolder, processes[i]));
    std::vector<Probe> inventory;
    if (options.summary) inventory = TakeInventory(result.installFolder);

    task->SetRemoveAppData(options.removeAppData);
    // Lives for the process: a run that does not end in time may still call it.
    static Recorder* recorder = new Recorder(::GetCurrentThreadId());
    task->StartUninstall(recorder);
    result.finished = PumpUntilSignalled(recorder->Done(), options.timeoutMs);
    if (!result.finished) task->DetachCallback();
    result.notifications = recorder->Notifications();
    for (size_t i = 0; i < processes.size(); ++i)
        result.started[i].runningAfter = processes[i] && ::WaitForSingleObject(processes[i].get(), 0) == WAIT_TIMEOUT;

    if (options.summary) {
        const RunFacts facts = ReadRunFacts(Decode(ReadBytes(logPath, logStart), 936));
        result.items = SortInventory(inventory, result.installFolder, facts, options.removeAppData);
    }
    return result.finished;
}

void PrimeMachine() {
    ::CoInitialize(nullptr);
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    VerifyFileSignature(self);
    GetMid();
    GetMid2();
}

std::string FormatNotifications(const std::vector<Notification>& notifications) {
    std::string text;
    for (const Notification& n : notifications) {
        text += n.kind;
        if (n.kind == "progress") text += " " + std::to_string(n.value);
        text += n.onUiThread ? " ui\n" : " worker\n";
    }
    return text;
}

std::string FormatSummary(const Result& result) {
    const std::vector<Item>& items = result.items;
    std::string text = "install folder: " + Utf8(result.installFolder) + "\n";
    const struct {
        Fate fate;
        const char* title;
    } groups[] = {{Fate::Removed, "removed"}, {Fate::Scheduled, "scheduled for the reboot"}, {Fate::Left, "left in place"}};
    for (const auto& group : groups) {
        std::string lines;
        size_t count = 0;
        for (const Item& item : items) {
            if (item.fate != group.fate) continue;
            ++count;
            lines += "  " + Utf8(item.name) + (item.detail.empty() ? "" : "  (" + Utf8(item.detail) + ")") + "\n";
        }
        text += std::string(group.title) + ": " + std::to_string(count) + "\n" + lines;
    }
    for (const StartedProgram& program : result.started)
        text += "started " + Utf8(program.path) + (!program.started ? ": did not start\n"
                                                   : program.runningAfter ? ": still running\n" : ": ended\n");
    return text;
}

}  // namespace enginedriver
