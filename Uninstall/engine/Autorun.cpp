#include "engine/Autorun.h"
#include "app/ComPtr.h"
#include "app/InstallFacts.h"
#include "app/Registry.h"
#include "app/SmartLogger.h"
#include <windows.h>
#define SECURITY_WIN32
#include <security.h>
#include <taskschd.h>
#include <cwchar>

using voro::Bstr;
using voro::ComPtr;
namespace reg = voro::reg;

namespace {

// The logon trigger interface, which the MinGW Task Scheduler header does not declare.
struct ILogonTriggerDecl : public ITrigger {
    virtual HRESULT STDMETHODCALLTYPE get_Delay(BSTR* delay) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Delay(BSTR delay) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_UserId(BSTR* user) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_UserId(BSTR user) = 0;
};
constexpr IID kIidLogonTrigger = {0x72DADE38, 0xFAE4, 0x4B3E, {0xBA, 0xF4, 0x5D, 0x00, 0x9A, 0xF0, 0x2B, 0x1C}};

// The current user's names, read once per process.
const std::wstring& UserName() {
    static const std::wstring name = [] {
        wchar_t buffer[257] = {};
        DWORD size = 257;
        return ::GetUserNameW(buffer, &size) ? std::wstring(buffer) : std::wstring();
    }();
    return name;
}

const std::wstring& QualifiedUserName() {
    static const std::wstring name = [] {
        wchar_t buffer[257] = {};
        ULONG size = 257;
        return ::GetUserNameExW(NameSamCompatible, buffer, &size) ? std::wstring(buffer) : std::wstring();
    }();
    return name;
}

VARIANT EmptyVariant() {
    VARIANT v;
    ::VariantInit(&v);
    return v;
}

// Connects to the Task Scheduler and opens its root folder.
bool OpenRootFolder(ComPtr<ITaskService>& service, ComPtr<ITaskFolder>& root) {
    ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT_PRIVACY, RPC_C_IMP_LEVEL_IMPERSONATE,
                           nullptr, EOAC_NONE, nullptr);
    if (FAILED(::CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                  service.put_void())))
        return false;
    VARIANT empty = EmptyVariant();
    if (FAILED(service->Connect(empty, empty, empty, empty))) return false;
    Bstr rootPath(L"\\");
    return SUCCEEDED(service->GetFolder(rootPath.get(), root.put())) && root;
}

bool RegisterDefinition(ITaskFolder* root, const Bstr& name, ITaskDefinition* definition) {
    VARIANT user = EmptyVariant();
    user.vt = VT_BSTR;
    user.bstrVal = ::SysAllocString(UserName().c_str());
    VARIANT empty = EmptyVariant();
    ComPtr<IRegisteredTask> registered;
    HRESULT hr = root->RegisterTaskDefinition(name.get(), definition, TASK_CREATE_OR_UPDATE, user, empty,
                                              TASK_LOGON_INTERACTIVE_TOKEN, empty, registered.put());
    ::VariantClear(&user);
    return SUCCEEDED(hr);
}

// An existing task whose first action starts a program: enabled, and reported as present.
bool EnableExistingTask(ITaskFolder* root, const Bstr& name) {
    ComPtr<IRegisteredTask> task;
    if (FAILED(root->GetTask(name.get(), task.put())) || !task) return false;
    ComPtr<ITaskDefinition> definition;
    ComPtr<IActionCollection> actions;
    ComPtr<IAction> action;
    TASK_ACTION_TYPE type = TASK_ACTION_EXEC;
    if (FAILED(task->get_Definition(definition.put())) || FAILED(definition->get_Actions(actions.put())) ||
        FAILED(actions->get_Item(1, action.put())) || FAILED(action->get_Type(&type)) || type != TASK_ACTION_EXEC)
        return false;
    VARIANT_BOOL enabled = VARIANT_FALSE;
    if (SUCCEEDED(task->get_Enabled(&enabled)) && enabled != VARIANT_TRUE) task->put_Enabled(VARIANT_TRUE);
    return true;
}

bool FillDefinition(ITaskDefinition* definition, const TaskEntry& entry) {
    ComPtr<IRegistrationInfo> info;
    if (FAILED(definition->get_RegistrationInfo(info.put()))) return false;
    info->put_Author(Bstr(UserName().c_str()).get());
    info->put_Description(Bstr(entry.description.c_str()).get());

    ComPtr<ITriggerCollection> triggers;
    ComPtr<ITrigger> trigger;
    ComPtr<ILogonTriggerDecl> logon;
    if (FAILED(definition->get_Triggers(triggers.put())) || FAILED(triggers->Create(TASK_TRIGGER_LOGON, trigger.put())) ||
        FAILED(trigger->QueryInterface(kIidLogonTrigger, logon.put_void())))
        return false;
    logon->put_Enabled(VARIANT_TRUE);
    logon->put_Id(Bstr(L"Trigger1").get());
    logon->put_UserId(Bstr(QualifiedUserName().c_str()).get());
    logon->put_Delay(Bstr(FormatTriggerDelay(entry.delaySeconds).c_str()).get());

    ComPtr<IActionCollection> actions;
    ComPtr<IAction> action;
    ComPtr<IExecAction> exec;
    if (FAILED(definition->get_Actions(actions.put())) || FAILED(actions->Create(TASK_ACTION_EXEC, action.put())) ||
        FAILED(action->QueryInterface(IID_IExecAction, exec.put_void())))
        return false;
    exec->put_Path(Bstr(entry.path.c_str()).get());
    exec->put_WorkingDirectory(Bstr(entry.workingFolder.c_str()).get());
    exec->put_Arguments(Bstr(entry.arguments.c_str()).get());

    ComPtr<IPrincipal> principal;
    if (SUCCEEDED(definition->get_Principal(principal.put()))) {
        principal->put_Id(Bstr(UserName().c_str()).get());
        principal->put_GroupId(Bstr(L"BUILTIN\\Administrators").get());
        principal->put_RunLevel(TASK_RUNLEVEL_HIGHEST);
    }
    ComPtr<ITaskSettings> settings;
    if (SUCCEEDED(definition->get_Settings(settings.put()))) {
        settings->put_StopIfGoingOnBatteries(VARIANT_FALSE);
        settings->put_DisallowStartIfOnBatteries(VARIANT_FALSE);
        settings->put_AllowHardTerminate(VARIANT_FALSE);
        settings->put_ExecutionTimeLimit(Bstr(L"PT0S").get());
        ComPtr<IIdleSettings> idle;
        if (SUCCEEDED(settings->get_IdleSettings(idle.put()))) idle->put_StopOnIdleEnd(VARIANT_FALSE);
    }
    return true;
}

std::wstring StripQuotes(std::wstring text) {
    if (!text.empty() && text.front() == L'"') text.erase(0, 1);
    if (!text.empty() && text.back() == L'"') text.pop_back();
    return text;
}

}  // namespace

std::wstring FormatTriggerDelay(int seconds) {
    wchar_t buffer[64];
    _snwprintf(buffer, 64, L"PT%dM%dS", seconds / 60, seconds % 60);
    buffer[63] = 0;
    return buffer;
}

std::wstring FormatRunCommand(const TaskEntry& entry) { return entry.path + L" " + entry.arguments; }

bool DeleteLogonTask(const std::wstring& name) {
    voro::ScopedCoInit com;
    if (!com.ok()) return false;
    ComPtr<ITaskService> service;
    ComPtr<ITaskFolder> root;
    if (!OpenRootFolder(service, root)) return false;
    root->DeleteTask(Bstr(name.c_str()).get(), 0);
    return true;  // attempted: whatever DeleteTask answered
}

bool CreateLogonTask(const std::wstring& name, const TaskEntry& entry) {
    voro::ScopedCoInit com;
    if (!com.ok()) return false;
    ComPtr<ITaskService> service;
    ComPtr<ITaskFolder> root;
    if (!OpenRootFolder(service, root)) return false;
    Bstr taskName(name.c_str());
    if (EnableExistingTask(root.get(), taskName)) return true;

    root->DeleteTask(taskName.get(), 0);
    ComPtr<ITaskDefinition> definition;
    if (FAILED(service->NewTask(0, definition.put())) || !FillDefinition(definition.get(), entry)) return false;
    return RegisterDefinition(root.get(), taskName, definition.get());
}

bool SetRunValue(const std::wstring& name, const TaskEntry& entry) {
    voro::UniqueHKey key = reg::Open(HKEY_LOCAL_MACHINE, kRunKey, KEY_QUERY_VALUE | KEY_CREATE_SUB_KEY | KEY_SET_VALUE);
    if (!key) return false;
    std::wstring command = FormatRunCommand(entry);
    wchar_t current[261] = {};
    DWORD type = 0, size = 520;
    bool same = ::RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(current), &size) ==
                    ERROR_SUCCESS &&
                (type == REG_SZ || type == REG_EXPAND_SZ) && _wcsicmp(current, command.c_str()) == 0;
    if (!same)
        ::RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                         static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
    return true;
}

bool DeleteRunValues(const std::wstring& name) {
    reg::DeleteValue(HKEY_CURRENT_USER, kRunKey, name);
    reg::DeleteValue(HKEY_LOCAL_MACHINE, kRunKey, name);
    return true;
}

bool SetAutoRun(const AutoRunRequest& request) {
    if (!request.executable) return false;
    std::wstring name = request.name ? request.name : kAutorunName;
    if (!request.enable) {
        DeleteLogonTask(name);
        DeleteRunValues(name);
        return true;
    }
    TaskEntry entry;
    entry.path = L"\"" + StripQuotes(request.executable) + L"\"";
    entry.arguments = kAutorunArguments;
    entry.description = request.description ? request.description : kAutorunDescription;
    entry.delaySeconds = request.delaySeconds;
    if (CreateLogonTask(name, entry)) {
        WriteLog(L"Add auto run task schedule success, %s", request.executable);
        return true;
    }
    bool ok = SetRunValue(name, entry);
    WriteLog(L"Add auto run register, %s", request.executable);
    return ok;
}

void RemoveAutoRun(const std::wstring& installFolder) {
    // Without a folder the settings file would be "\config.set" at the root of the current drive.
    if (!installFolder.empty()) {
        std::wstring settings = installFolder + L"\\" + kProductSettingsFile;
        ::WritePrivateProfileStringW(L"auto_run", L"open", L"0", settings.c_str());
    }
    WriteLog(L"Delete AutoRun Registry, ret = %d", DeleteRunValues(kAutorunName) ? 1 : 0);
    WriteLog(L"Delete AutoRun Task Schedule, ret = %d", DeleteLogonTask(kAutorunName) ? 1 : 0);
    reg::DeleteValue(HKEY_LOCAL_MACHINE, kRunKey, kLegacyRunValue);
    if (Is64BitWindows()) reg::DeleteValue(HKEY_LOCAL_MACHINE, kRunKey, kLegacyRunValue, reg::View::Wow64);
}
