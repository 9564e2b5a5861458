#include "app/ComPtr.h"
#include "app/Registry.h"
#include "app/SmartLogger.h"
#include "engine/Autorun.h"
#include "engine/DriverServices.h"
#include "TestSupport.h"
#include <gtest/gtest.h>
#include <taskschd.h>

namespace reg = voro::reg;
using testsupport::ReadBytes;
using testsupport::ServiceExists;
using testsupport::TempFolder;

namespace {

// Sends the process-wide log to a file of the test's temp folder.
class EngineLogTest : public ::testing::Test {
protected:
    void SetUp() override { CSmartLogger::Global().SetLogFile(m_folder.File(L"log.txt")); }
    std::string Log() const { return ReadBytes(m_folder.File(L"log.txt")); }
    TempFolder m_folder;
};

struct DelayCase {
    int seconds;
    const wchar_t* text;
};

TEST(TriggerDelay, MinutesAndSeconds) {
    for (DelayCase c : {DelayCase{0, L"PT0M0S"}, {59, L"PT0M59S"}, {60, L"PT1M0S"}, {125, L"PT2M5S"}, {3600, L"PT60M0S"}})
        EXPECT_EQ(FormatTriggerDelay(c.seconds), c.text) << c.seconds;
}

std::wstring RunValue(HKEY root, const wchar_t* name, reg::View view = reg::View::Wow32) {
    std::wstring value;
    return reg::ReadString(root, kRunKey, name, value, view) ? value : L"<absent>";
}

// Wine's Task Scheduler refuses logon triggers, so enabling falls back to the Run value.
TEST_F(EngineLogTest, EnableFallsBackToTheRunValue) {
    AutoRunRequest request;
    request.enable = true;
    request.executable = L"\"C:\\Program Files\\Voro\\voropendant.exe\"";
    request.delaySeconds = 60;
    ASSERT_TRUE(SetAutoRun(request));
    EXPECT_EQ(RunValue(HKEY_LOCAL_MACHINE, kAutorunName),
              L"\"C:\\Program Files\\Voro\\voropendant.exe\" /autorun --from=task");
    EXPECT_NE(Log().find("Add auto run register, \"C:\\Program Files\\Voro\\voropendant.exe\"\r\n"), std::string::npos)
        << Log();
    // Same text again (other case): left as it is.
    request.executable = L"C:\\PROGRAM FILES\\Voro\\voropendant.exe";
    ASSERT_TRUE(SetAutoRun(request));
    EXPECT_EQ(RunValue(HKEY_LOCAL_MACHINE, kAutorunName),
              L"\"C:\\Program Files\\Voro\\voropendant.exe\" /autorun --from=task");

    AutoRunRequest disable;
    disable.executable = L"x";
    EXPECT_TRUE(SetAutoRun(disable));
    EXPECT_EQ(RunValue(HKEY_LOCAL_MACHINE, kAutorunName), L"<absent>");
    AutoRunRequest none;
    none.enable = true;
    EXPECT_FALSE(SetAutoRun(none));
}

// Registers a task without a trigger, the way an earlier install could have left one.
bool RegisterPlainTask(const wchar_t* name, bool enabled) {
    voro::ComPtr<ITaskService> service;
    if (FAILED(::CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                  service.put_void())))
        return false;
    VARIANT empty;
    ::VariantInit(&empty);
    voro::ComPtr<ITaskFolder> root;
    voro::ComPtr<ITaskDefinition> definition;
    voro::ComPtr<IActionCollection> actions;
    voro::ComPtr<IAction> action;
    voro::ComPtr<IExecAction> exec;
    voro::ComPtr<ITaskSettings> settings;
    if (FAILED(service->Connect(empty, empty, empty, empty)) ||
        FAILED(service->GetFolder(voro::Bstr(L"\\").get(), root.put())) || FAILED(service->NewTask(0, definition.put())) ||
        FAILED(definition->get_Actions(actions.put())) || FAILED(actions->Create(TASK_ACTION_EXEC, action.put())) ||
        FAILED(action->QueryInterface(IID_IExecAction, exec.put_void())) ||
        FAILED(definition->get_Settings(settings.put())))
        return false;
    exec->put_Path(voro::Bstr(L"C:\\old\\voropendant.exe").get());
    settings->put_Enabled(enabled ? VARIANT_TRUE : VARIANT_FALSE);
    voro::ComPtr<IRegisteredTask> task;
    return SUCCEEDED(root->RegisterTaskDefinition(voro::Bstr(name).get(), definition.get(), TASK_CREATE_OR_UPDATE,
                                                  empty, empty, TASK_LOGON_INTERACTIVE_TOKEN, empty, task.put()));
}

// (Wine's action collection has no get_Item, so the path that keeps an existing task cannot run
// here; a registered task is still found and removed.)
bool TaskExists(const wchar_t* name) {
    voro::ComPtr<ITaskService> service;
    VARIANT empty;
    ::VariantInit(&empty);
    voro::ComPtr<ITaskFolder> root;
    voro::ComPtr<IRegisteredTask> task;
    if (FAILED(::CoCreateInstance(CLSID_TaskScheduler, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskService,
                                  service.put_void())) ||
        FAILED(service->Connect(empty, empty, empty, empty)) ||
        FAILED(service->GetFolder(voro::Bstr(L"\\").get(), root.put())) ||
        FAILED(root->GetTask(voro::Bstr(name).get(), task.put())))
        return false;
    return true;
}

TEST_F(EngineLogTest, RemoveAutoRunClearsEveryPlaceAndNothingElse) {
    voro::ScopedCoInit com;
    ASSERT_TRUE(RegisterPlainTask(kAutorunName, true));
    ASSERT_TRUE(TaskExists(kAutorunName));
    std::wstring folder = m_folder.Path();
    std::wstring settings = folder + L"\\config.set";
    ASSERT_TRUE(::WritePrivateProfileStringW(L"auto_run", L"open", L"1", settings.c_str()));
    ASSERT_TRUE(::WritePrivateProfileStringW(L"auto_run", L"other", L"keep", settings.c_str()));
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
        for (const wchar_t* name : {kAutorunName, L"Unrelated"}) ASSERT_TRUE(reg::WriteString(root, kRunKey, name, L"x"));
    for (reg::View view : {reg::View::Wow32, reg::View::Wow64})
        for (const wchar_t* name : {kLegacyRunValue, L"Unrelated"})
            ASSERT_TRUE(reg::WriteString(HKEY_LOCAL_MACHINE, kRunKey, name, L"y", view));

    RemoveAutoRun(folder);

    wchar_t open[16] = {}, other[16] = {};
    ::GetPrivateProfileStringW(L"auto_run", L"open", L"", open, 16, settings.c_str());
    ::GetPrivateProfileStringW(L"auto_run", L"other", L"", other, 16, settings.c_str());
    EXPECT_STREQ(open, L"0");
    EXPECT_STREQ(other, L"keep");
    EXPECT_EQ(RunValue(HKEY_CURRENT_USER, kAutorunName), L"<absent>");
    EXPECT_EQ(RunValue(HKEY_LOCAL_MACHINE, kAutorunName), L"<absent>");
    EXPECT_EQ(RunValue(HKEY_LOCAL_MACHINE, kLegacyRunValue), L"<absent>");
    EXPECT_EQ(RunValue(HKEY_LOCAL_MACHINE, kLegacyRunValue, reg::View::Wow64), L"<absent>");
    EXPECT_EQ(RunValue(HKEY_CURRENT_USER, L"Unrelated"), L"x");
    EXPECT_EQ(RunValue(HKEY_LOCAL_MACHINE, L"Unrelated"), L"y");
    EXPECT_EQ(RunValue(HKEY_LOCAL_MACHINE, L"Unrelated", reg::View::Wow64), L"y");
    EXPECT_FALSE(TaskExists(kAutorunName));
    std::string log = Log();
    EXPECT_NE(log.find("Delete AutoRun Registry, ret = 1\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Delete AutoRun Task Schedule, ret = 1\r\n"), std::string::npos) << log;
}

TEST_F(EngineLogTest, RemoveAutoRunWithNothingPresentStillReportsOne) {
    RemoveAutoRun(m_folder.Path());
    std::string log = Log();
    EXPECT_NE(log.find("Delete AutoRun Registry, ret = 1\r\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Delete AutoRun Task Schedule, ret = 1\r\n"), std::string::npos) << log;
}

bool CreateDriverService(const wchar_t* name) {
    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager) return false;
    SC_HANDLE service = ::CreateServiceW(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                         SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                         L"C:\\windows\\system32\\drivers\\voro_missing.sys", nullptr, nullptr,
                                         nullptr, nullptr, nullptr);
    if (service) ::CloseServiceHandle(service);
    ::CloseServiceHandle(manager);
    return service != nullptr;
}

TEST_F(EngineLogTest, DriverServicesAreStoppedAndDeletedWithTheirLogLines) {
    ASSERT_TRUE(CreateDriverService(L"CorvixLock"));
    ASSERT_TRUE(CreateDriverService(L"CorvixLockWp"));
    ASSERT_TRUE(CreateDriverService(kLateDriverService));
    ASSERT_TRUE(CreateDriverService(L"VoroUnrelatedDriver"));

    RemoveDriverServices();
    EXPECT_FALSE(ServiceExists(L"CorvixLock"));
    EXPECT_FALSE(ServiceExists(L"CorvixLockWp"));
    std::string log = Log();
    size_t a = log.find("delete CorvixLock\r\n"), b = log.find("delete CorvixLockWp\r\n"),
           c = log.find("delete VarorizaVuvorizIr fail\r\n"), d = log.find("delete VarorizaVuvorizIr\r\n");
    ASSERT_NE(d, std::string::npos) << log;
    EXPECT_TRUE(a < b && b < c && c < d) << log;
    EXPECT_EQ(log.find("delete CorvixLock fail"), std::string::npos) << log;

    RemoveServiceQuietly(kLateDriverService);
    EXPECT_FALSE(ServiceExists(kLateDriverService));
    EXPECT_TRUE(ServiceExists(L"VoroUnrelatedDriver"));
    EXPECT_EQ(StopService(L"VoroNoSuchService"), E_FAIL);
    EXPECT_EQ(DeleteServiceByName(L"VoroNoSuchService"), E_FAIL);
}

TEST(DriverUnlock, ResponseDependsOnEveryChallengeByte) {
    UnlockBlock challenge{};
    UnlockBlock base = UnlockResponse(challenge);
    for (size_t i = 0; i < challenge.size(); ++i) {
        UnlockBlock changed = challenge;
        changed[i] ^= 1;
        EXPECT_NE(UnlockResponse(changed), base) << i;
    }
    EXPECT_EQ(UnlockResponse(challenge), base);
}

}  // namespace
