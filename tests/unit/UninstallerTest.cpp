// The uninstall driver run whole on a small install folder in a fresh prefix (notifications,
// survivors), the registry step, the game-center choice and the task's own checks.
#include "app/Registry.h"
#include "app/UIThreadWindow.h"
#include "config/SetupConfig.h"
#include "engine/ProgramCalls.h"
#include "engine/Uninstaller.h"
#include "engine/UninstallTask.h"
#include "report/ServerHosts.h"

#include "EngineTestSupport.h"
#include "FixturePaths.h"
#include "SetupTestSupport.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using enginetest::Exists;
using enginetest::MakeFolder;
using enginetest::WriteSmallFile;
namespace reg = voro::reg;

constexpr wchar_t kDoubledAppPaths[] =
    L"SOFTWARE\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\App Paths\\\\Divizodaz.exe";
constexpr wchar_t kDivizodazKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Divizodaz.exe";

struct Event {
    std::string kind;
    int value;
    DWORD thread;
};

class RecordingCallback : public IUninstallCallback {
public:
    void OnUninstallStart() override { Add("start", 0); }
    void OnUninstallProgress(int percent) override { Add("progress", percent); }
    void OnUninstallEnd() override { Add("end", 0); }
    void OnRealInstallEnd() override {
        Add("real end", 0);
        ::SetEvent(realEnd.get());
    }
    std::vector<Event> Events() {
        _BaseModule::CAutoLocker lock(&m_lock);
        return m_events;
    }
    voro::UniqueKernelHandle realEnd{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};

private:
    void Add(const char* kind, int value) {
        _BaseModule::CAutoLocker lock(&m_lock);
        m_events.push_back({kind, value, ::GetCurrentThreadId()});
    }
    _BaseModule::CCriticalSection m_lock;
    std::vector<Event> m_events;
};

// A setup project with the given App Paths sub-key (none when null) and a root folder list that
// names the folder "skin" and the file "config.set".
class Project {
public:
    explicit Project(const wchar_t* subKey) {
        std::wstring body = L"<Setup><Main Version=\"1.0.0.1\" />";
        if (subKey) body += L"<RegAppPath HKEY=\"HKEY_LOCAL_MACHINE\" SubKey=\"" + std::wstring(subKey) + L"\" />";
        body += L"<UninstallRootDirFileList File=\"roots.xml\" /></Setup>";
        setuptest::WriteUtf16Xml(m_folder.File(L"tesk.tvnprj"), body);
        setuptest::WriteUtf16Xml(m_folder.File(L"roots.xml"),
                                 L"<RootDirFiles><Dir><Item Name=\"skin\" /></Dir>"
                                 L"<File><Item Name=\"config.set\" /></File></RootDirFiles>");
        m_loaded = config.Load(m_folder.File(L"tesk.tvnprj"));
    }
    bool Loaded() const { return m_loaded; }
    CSetupConfig config;

private:
    setuptest::ComScope m_com;
    testsupport::TempFolder m_folder;
    bool m_loaded = false;
};

// An install folder: a listed folder and file, a signed file, and optionally an unlisted unsigned one.
std::wstring MakeInstallFolder(const testsupport::TempFolder& root, bool withUnlisted) {
    const std::wstring install = root.File(L"VoroWallPaper");
    EXPECT_TRUE(MakeFolder(install));
    EXPECT_TRUE(MakeFolder(install + L"\\skin"));
    EXPECT_TRUE(WriteSmallFile(install + L"\\skin\\a.skin"));
    EXPECT_TRUE(WriteSmallFile(install + L"\\config.set"));
    EXPECT_TRUE(::CopyFileW(fixture::Path(L"bin\\vorowp.exe").c_str(), (install + L"\\vorowp.exe").c_str(), FALSE));
    if (withUnlisted) {
        EXPECT_TRUE(WriteSmallFile(install + L"\\unlisted.txt"));
    }
    return install;
}

// Nothing may leave the machine: every host is a closed loopback port.
void CloseTheNetwork() {
    ServerHosts hosts;
    hosts.statistics = hosts.webService = hosts.download = hosts.accountCentre = L"127.0.0.1:1";
    SetServerHosts(hosts);
}

TEST(Uninstaller, NotificationsArriveInOrderAndAnUnlistedUnsignedFileStays) {
    CloseTheNetwork();
    enginetest::CapturedLog log;
    Project project(kDoubledAppPaths);
    ASSERT_TRUE(project.Loaded());
    testsupport::TempFolder root;
    const std::wstring install = MakeInstallFolder(root, true);
    ASSERT_EQ(1, CUIThreadWindow::Create(::GetModuleHandleW(nullptr)));

    RecordingCallback callback;
    CUninstaller uninstaller(project.config);
    uninstaller.SetInstallDir(install.c_str());
    uninstaller.Start(&callback);
    ASSERT_TRUE(testsupport::PumpUntil(
        [&] { return ::WaitForSingleObject(callback.realEnd.get(), 0) == WAIT_OBJECT_0; }, 120000));

    const std::vector<Event> events = callback.Events();
    ASSERT_GE(events.size(), 3u);
    std::vector<int> progress;
    for (size_t i = 1; i + 2 < events.size(); ++i) {
        EXPECT_EQ("progress", events[i].kind);
        progress.push_back(events[i].value);
    }
    // Three files counted (skin\a.skin, config.set, vorowp.exe), each reported once.
    EXPECT_EQ((std::vector<int>{1, 4, 5, 6, 7, 8, 9, 39, 68, 98, 97, 98, 99}), progress);
    EXPECT_EQ("start", events.front().kind);
    EXPECT_EQ("end", events[events.size() - 2].kind);
    EXPECT_EQ("real end", events.back().kind);
    for (size_t i = 0; i + 1 < events.size(); ++i) EXPECT_EQ(::GetCurrentThreadId(), events[i].thread) << i;
    EXPECT_NE(::GetCurrentThreadId(), events.back().thread);

    EXPECT_FALSE(Exists(install + L"\\skin"));
    EXPECT_FALSE(Exists(install + L"\\config.set"));
    EXPECT_FALSE(Exists(install + L"\\vorowp.exe"));
    EXPECT_TRUE(Exists(install + L"\\unlisted.txt"));
    EXPECT_TRUE(log.Has("File NOT exists in xml: UNLISTED.TXT"));
    EXPECT_TRUE(log.Has("Delete File: " + enginetest::Narrow(install) + "\\vorowp.exe"));
    EXPECT_TRUE(log.Has("remove directory " + enginetest::Narrow(install) + " failed.\r\n")) << log.Text();
}

TEST(Uninstaller, WithoutAReceiverEverythingIsStillRemoved) {
    for (bool detach : {false, true}) {
        CloseTheNetwork();
        enginetest::CapturedLog log;
        Project project(kDoubledAppPaths);
        ASSERT_TRUE(project.Loaded());
        testsupport::TempFolder root;
        const std::wstring install = MakeInstallFolder(root, false);
        ASSERT_EQ(1, CUIThreadWindow::Create(::GetModuleHandleW(nullptr)));

        RecordingCallback callback;
        CUninstaller uninstaller(project.config);
        uninstaller.SetInstallDir(install.c_str());
        // Detached before this thread handled any delivery: none may arrive.
        uninstaller.Start(detach ? &callback : nullptr);
        if (detach) uninstaller.DetachCallback();
        ASSERT_TRUE(testsupport::PumpUntil([&] { return log.Has("re unistinfo ret="); }, 120000)) << detach;

        EXPECT_TRUE(callback.Events().empty()) << detach;
        EXPECT_FALSE(Exists(install)) << detach;
        EXPECT_TRUE(log.Has("remove directory " + enginetest::Narrow(install) + " suceess")) << detach;
    }
}

TEST(Uninstaller, RegistryStepDeletesOnlyWithAConfiguredAppPathsKey) {
    const struct {
        const wchar_t* subKey;
        bool appPathsGone, userKeysGone;
    } cases[] = {
        {kDoubledAppPaths, true, true},
        {nullptr, false, false},
        {L"SOFTWARE\\\\Microsoft", false, true},  // refused: not the product's App Paths entry
    };
    for (const auto& c : cases) {
        const std::string name = c.subKey ? enginetest::Narrow(c.subKey) : "(none)";
        ASSERT_TRUE(reg::WriteString(HKEY_LOCAL_MACHINE, kDivizodazKey, L"oem_f", L"0"));
        ASSERT_TRUE(reg::WriteString(HKEY_LOCAL_MACHINE, std::wstring(kDivizodazKey) + L"\\oemconfig", L"a", L"b"));
        ASSERT_TRUE(reg::WriteString(HKEY_LOCAL_MACHINE, kProductAppPathsKey, L"path", L"C:\\x"));
        ASSERT_TRUE(reg::WriteString(HKEY_LOCAL_MACHINE, std::wstring(kProductAppPathsKey) + L"\\file_list", L"a", L""));
        ASSERT_TRUE(reg::WriteString(HKEY_CURRENT_USER, kUserSettingsKey, L"pid", L"ruriziza"));
        ASSERT_TRUE(reg::WriteString(HKEY_CLASSES_ROOT, std::wstring(kClassesKey) + L"\\shell", L"", L"open"));
        Project project(c.subKey);
        ASSERT_TRUE(project.Loaded());

        voro::RemoveProductRegistry(project.config);

        EXPECT_EQ(!c.appPathsGone, reg::KeyExists(HKEY_LOCAL_MACHINE, kDivizodazKey)) << name;
        EXPECT_EQ(!c.userKeysGone, reg::KeyExists(HKEY_CURRENT_USER, kUserSettingsKey)) << name;
        EXPECT_EQ(!c.userKeysGone, reg::KeyExists(HKEY_CLASSES_ROOT, kClassesKey)) << name;
        if (c.userKeysGone) {
            EXPECT_FALSE(reg::KeyExists(HKEY_CLASSES_ROOT, kClassesKey, reg::View::Wow64)) << name;
        }
        EXPECT_TRUE(reg::KeyExists(HKEY_LOCAL_MACHINE, std::wstring(kProductAppPathsKey) + L"\\file_list")) << name;
        EXPECT_TRUE(reg::KeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion")) << name;
    }
}

TEST(Uninstaller, GameCenterChoiceTakesEffectOnlyAfterAMatchingVendor) {
    Project project(nullptr);
    ASSERT_TRUE(project.Loaded());
    CUninstaller uninstaller(project.config);
    uninstaller.SetUninstallGameCenter(true);
    EXPECT_FALSE(uninstaller.GameCenterUninstall());
    EXPECT_EQ(L"/S /PID=tesk /NOUNINSTALL", GameCenterParameters(uninstaller.GameCenterUninstall()));

    ASSERT_TRUE(reg::WriteString(HKEY_LOCAL_MACHINE, kGameCenterKey, L"VendorID", L"other"));
    EXPECT_FALSE(uninstaller.CheckGameCenterVendor());
    uninstaller.SetUninstallGameCenter(true);
    EXPECT_FALSE(uninstaller.GameCenterUninstall());

    ASSERT_TRUE(reg::WriteString(HKEY_LOCAL_MACHINE, kGameCenterKey, L"VendorID", L"Vendor_TESK_1"));
    EXPECT_TRUE(uninstaller.CheckGameCenterVendor());
    uninstaller.SetUninstallGameCenter(true);
    EXPECT_TRUE(uninstaller.GameCenterUninstall());
    EXPECT_EQ(L"/S /PID=tesk /UNINSTALL", GameCenterParameters(uninstaller.GameCenterUninstall()));
}

// The signature check leaves the system's trust-provider state behind: a fresh prefix.
TEST(UninstallTask, UnsignedExecutableGives2BeforeTheWindowExists) {
    ASSERT_EQ(nullptr, CUIThreadWindow::Window());
    EXPECT_EQ(2, GetUninstallTask()->PreInitCheck());  // this test program carries no signature
    EXPECT_EQ(nullptr, CUIThreadWindow::Window());
}

TEST(UninstallTask, GameCenterIsUnplayedWithoutAPlayedText) {
    IUninstallTask* task = GetUninstallTask();
    EXPECT_TRUE(task->IsGameCenterUnplayed());
    ASSERT_TRUE(reg::WriteString(HKEY_LOCAL_MACHINE, kGameCenterKey, L"Played", L""));
    EXPECT_TRUE(task->IsGameCenterUnplayed());
    ASSERT_TRUE(reg::WriteString(HKEY_LOCAL_MACHINE, kGameCenterKey, L"Played", L"1"));
    EXPECT_FALSE(task->IsGameCenterUnplayed());
}

}  // namespace
