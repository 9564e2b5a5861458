// Keep mode's install-state restore: the edition tables, and the real shortcuts, uninstall entry
// and autorun in a fresh prefix, read back through IShellLinkW and the registry.
#include "EngineTestSupport.h"
#include "app/ComPtr.h"
#include "app/InstallFacts.h"
#include "app/Registry.h"
#include "engine/Autorun.h"
#include "windows/InstallStateRestore.h"
#include <gtest/gtest.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <string>
#include <vector>

using enginetest::Exists;
using enginetest::Narrow;
using voro::restore::EditionEntry;
using voro::restore::EditionShortcuts;

namespace {

constexpr wchar_t kAppPathsKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vorowp.exe";
constexpr wchar_t kEntryKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\vorowp";
constexpr wchar_t kUserKey[] = L"Software\\VoroWallPaper";

TEST(RestoreTables, CurrentEditionShortcuts) {
    const auto links = EditionShortcuts(true, L"C:\\P\\Voro", L"C:\\D", L"C:\\S", L"ruriziza");
    ASSERT_EQ(links.size(), 3u);
    EXPECT_EQ(links[0].link, L"C:\\D\\Voro壁纸.lnk");
    EXPECT_EQ(links[1].link, L"C:\\S\\Voro壁纸\\Voro壁纸.lnk");
    EXPECT_EQ(links[2].link, L"C:\\S\\Voro壁纸\\卸载Voro壁纸.lnk");
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(links[i].target, L"C:\\P\\Voro\\vorowp.exe");
        EXPECT_EQ(links[i].iconFile, links[i].target);
        EXPECT_EQ(links[i].iconIndex, 1);
        EXPECT_FALSE(links[i].announce);
    }
    EXPECT_EQ(links[2].target, L"C:\\P\\Voro\\Uninstall.exe");
    EXPECT_EQ(links[2].iconFile, links[2].target);
    EXPECT_EQ(links[2].iconIndex, 0);
    EXPECT_TRUE(links[2].announce);
    for (const wchar_t* pid : {L"zodizOzov", L"ZODIZOZOV", L"zodizozov"})
        EXPECT_EQ(EditionShortcuts(true, L"C:\\P", L"C:\\D", L"C:\\S", pid)[0].link, L"C:\\D\\Voro壁纸Lite.lnk");
    EXPECT_EQ(EditionShortcuts(true, L"C:\\P", L"C:\\D", L"C:\\S", L"zodizOzov2")[0].link, L"C:\\D\\Voro壁纸.lnk");
}

TEST(RestoreTables, LegacyEditionShortcuts) {
    const auto links = EditionShortcuts(false, L"C:\\P", L"C:\\D", L"C:\\S", L"zodizOzov");
    ASSERT_EQ(links.size(), 3u);
    EXPECT_EQ(links[0].link, L"C:\\D\\Quon壁纸.lnk");
    EXPECT_EQ(links[1].link, L"C:\\S\\Quon安全中心\\Quon壁纸\\Quon壁纸.lnk");
    EXPECT_EQ(links[2].link, L"C:\\S\\Quon安全中心\\Quon壁纸\\卸载Quon壁纸.lnk");
    EXPECT_EQ(links[0].target, L"C:\\P\\vorowp.exe");
    EXPECT_EQ(links[2].target, L"C:\\P\\Uninstall.exe");
    for (const auto& link : links) EXPECT_EQ(link.iconIndex, 0);
    EXPECT_FALSE(links[0].announce);
    EXPECT_FALSE(links[1].announce);
    EXPECT_TRUE(links[2].announce);
}

TEST(RestoreTables, EntryOfBothEditions) {
    const std::vector<std::pair<std::wstring, std::wstring>> current = {
        {L"DisplayIcon", L"C:\\P\\Utils\\vorowallpaper.ico"}, {L"DisplayName", L""},
        {L"DisplayVersion", L"1.2.3.4"}, {L"InstallLocation", L"C:\\P"}, {L"Publisher", L""},
        {L"UninstallString", L"C:\\P\\Uninstall.exe"}, {L"URLInfoAbout", L""}};
    const auto values = EditionEntry(true, L"C:\\P", L"1.2.3.4");
    ASSERT_EQ(values.size(), current.size());
    for (size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(values[i].name, current[i].first);
        EXPECT_EQ(values[i].data, current[i].second) << Narrow(current[i].first);
    }
    const auto legacy = EditionEntry(false, L"C:\\P", L"1.2.3.4");
    ASSERT_EQ(legacy.size(), current.size());
    EXPECT_EQ(legacy[0].data, L"");  // no icon
    for (size_t i = 1; i < legacy.size(); ++i) EXPECT_EQ(legacy[i].data, current[i].second);
    EXPECT_TRUE(voro::restore::IsCurrentEditionName(L"VoroWallpaper"));
    EXPECT_FALSE(voro::restore::IsCurrentEditionName(L"vorowallpaper2"));
    EXPECT_FALSE(voro::restore::IsCurrentEditionName(L""));
}

std::wstring SpecialFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    ::SHGetFolderPathW(nullptr, csidl | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

struct LinkInfo {
    bool loaded = false;
    std::wstring target, workingFolder, iconFile;
    int iconIndex = -1, showCommand = 0;
};

LinkInfo ReadLink(const std::wstring& path) {
    LinkInfo info;
    voro::ComPtr<IShellLinkW> link;
    voro::ComPtr<IPersistFile> file;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW, link.put_void())) ||
        FAILED(link->QueryInterface(IID_IPersistFile, file.put_void())) || FAILED(file->Load(path.c_str(), STGM_READ)))
        return info;
    info.loaded = true;
    wchar_t text[MAX_PATH] = {};
    if (SUCCEEDED(link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH))) info.target = text;
    text[0] = 0;
    if (SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH))) info.workingFolder = text;
    text[0] = 0;
    if (SUCCEEDED(link->GetIconLocation(text, MAX_PATH, &info.iconIndex))) info.iconFile = text;
    link->GetShowCmd(&info.showCommand);
    return info;
}

std::wstring ShortPath(const std::wstring& path) {
    wchar_t text[MAX_PATH] = {};
    const DWORD n = ::GetShortPathNameW(path.c_str(), text, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::wstring(text, n) : std::wstring();
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return _wcsicmp(a.c_str(), b.c_str()) == 0 || (!a.empty() && _wcsicmp(ShortPath(a).c_str(), ShortPath(b).c_str()) == 0);
}

class Restore : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(com.ok());
        install = folder.File(L"Voro Wall");
        ASSERT_TRUE(enginetest::MakeFolder(install));
        ASSERT_TRUE(::CopyFileW(SelfPath().c_str(), File(L"vorowp.exe").c_str(), FALSE));
        ASSERT_TRUE(::CopyFileW(SelfPath().c_str(), File(L"Uninstall.exe").c_str(), FALSE));
        ASSERT_TRUE(voro::reg::WriteString(HKEY_LOCAL_MACHINE, kAppPathsKey, L"path", install));
        commonDesktop = SpecialFolder(CSIDL_COMMON_DESKTOPDIRECTORY);
        commonPrograms = SpecialFolder(CSIDL_COMMON_PROGRAMS);
        userDesktop = SpecialFolder(CSIDL_DESKTOPDIRECTORY);
        userPrograms = SpecialFolder(CSIDL_PROGRAMS);
        ASSERT_FALSE(commonDesktop.empty());
        ASSERT_FALSE(commonPrograms.empty());
    }

    static std::wstring SelfPath() {
        wchar_t self[MAX_PATH] = {};
        ::GetModuleFileNameW(nullptr, self, MAX_PATH);
        return self;
    }
    std::wstring File(const std::wstring& name) const { return install + L"\\" + name; }
    void CurrentEdition() { ASSERT_TRUE(voro::reg::WriteString(HKEY_LOCAL_MACHINE, kAppPathsKey, L"ProductName", L"VoroWallPaper")); }
    static void Touch(const std::wstring& path) {
        const size_t slash = path.find_last_of(L'\\');
        ::SHCreateDirectoryExW(nullptr, path.substr(0, slash).c_str(), nullptr);
        ASSERT_TRUE(enginetest::WriteSmallFile(path)) << Narrow(path);
    }
    void ExpectLink(const std::wstring& link, const std::wstring& target, int iconIndex) {
        const LinkInfo info = ReadLink(link);
        ASSERT_TRUE(info.loaded) << Narrow(link);
        EXPECT_TRUE(SamePath(info.target, target)) << Narrow(info.target);
        EXPECT_TRUE(SamePath(info.workingFolder, install)) << Narrow(info.workingFolder);
        EXPECT_EQ(info.iconIndex, iconIndex) << Narrow(link);
        EXPECT_TRUE(SamePath(info.iconFile, target)) << Narrow(info.iconFile);
        EXPECT_EQ(info.iconFile, ShortPath(target)) << "the icon is given by its short path";
        // The link format keeps only normal, maximised and minimised: SW_SHOW is read back as normal.
        EXPECT_EQ(info.showCommand, SW_SHOWNORMAL);
    }
    // The value's type and text. It is written with a byte size of characters x 2 (no terminator);
    // the registry (Windows and Wine alike) adds the terminator itself when the character after
    // the counted data is a zero, so a non-empty text is stored with it.
    void ExpectEntry(const wchar_t* name, const std::wstring& text) {
        for (const voro::reg::Value& value : voro::reg::EnumValues(HKEY_LOCAL_MACHINE, kEntryKey)) {
            if (value.name != name) continue;
            EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ)) << Narrow(name);
            EXPECT_EQ(value.data.size(), text.empty() ? 0 : text.size() * 2 + 2) << Narrow(name);
            EXPECT_EQ(voro::reg::ValueText(value), text) << Narrow(name);
            return;
        }
        ADD_FAILURE() << "missing entry value " << Narrow(name);
    }

    voro::ScopedCoInit com;
    testsupport::TempFolder folder;
    std::wstring install, commonDesktop, commonPrograms, userDesktop, userPrograms;
};

TEST_F(Restore, CurrentEditionMakesItsShortcutsEntryAndAutorun) {
    CurrentEdition();
    // Old links of both editions on both desktops, an old menu, and an entry with a display name.
    for (const std::wstring& desktop : {commonDesktop, userDesktop})
        for (const wchar_t* name : {L"Quon壁纸.lnk", L"Voro壁纸.lnk", L"Voro壁纸Lite.lnk"}) Touch(desktop + L"\\" + name);
    Touch(userPrograms + L"\\Voro壁纸\\old.lnk");
    ASSERT_TRUE(voro::reg::WriteString(HKEY_LOCAL_MACHINE, kEntryKey, L"DisplayName", L"Voro壁纸"));
    ASSERT_FALSE(Exists(commonPrograms + L"\\Voro壁纸")) << "the menu folder is missing before the restore";

    CInstallStateRestore restore;
    EXPECT_EQ(restore.InstallFolder(), install);
    EXPECT_TRUE(restore.IsCurrentEdition());
    restore.RestoreShortcutsAndEntry();
    restore.RestoreAutorun();

    ExpectLink(commonDesktop + L"\\Voro壁纸.lnk", File(L"vorowp.exe"), 1);
    ExpectLink(commonPrograms + L"\\Voro壁纸\\Voro壁纸.lnk", File(L"vorowp.exe"), 1);
    ExpectLink(commonPrograms + L"\\Voro壁纸\\卸载Voro壁纸.lnk", File(L"Uninstall.exe"), 0);
    EXPECT_FALSE(Exists(commonDesktop + L"\\Quon壁纸.lnk"));
    EXPECT_FALSE(Exists(commonDesktop + L"\\Voro壁纸Lite.lnk"));
    for (const wchar_t* name : {L"Quon壁纸.lnk", L"Voro壁纸.lnk", L"Voro壁纸Lite.lnk"})
        EXPECT_FALSE(Exists(userDesktop + L"\\" + name)) << Narrow(name);
    EXPECT_FALSE(Exists(userPrograms + L"\\Voro壁纸"));

    std::wstring version;
    ASSERT_TRUE(GetFileVersionText(File(L"vorowp.exe"), version) || version.empty());
    ExpectEntry(L"DisplayIcon", File(L"Utils\\vorowallpaper.ico"));
    ExpectEntry(L"DisplayVersion", version);
    ExpectEntry(L"InstallLocation", install);
    ExpectEntry(L"UninstallString", File(L"Uninstall.exe"));
    ExpectEntry(L"Publisher", L"");
    ExpectEntry(L"URLInfoAbout", L"");
    std::wstring name;
    EXPECT_TRUE(voro::reg::ReadString(HKEY_LOCAL_MACHINE, kEntryKey, L"DisplayName", name));
    EXPECT_EQ(name, L"Voro壁纸") << "an empty table value keeps what the installer wrote";

    wchar_t open[8] = {};
    ::GetPrivateProfileStringW(L"auto_run", L"open", L"", open, 8, File(L"config.set").c_str());
    EXPECT_STREQ(open, L"1");
    // Wine has no logon trigger, so the autorun falls back to the Run value.
    std::wstring run;
    ASSERT_TRUE(voro::reg::ReadString(HKEY_LOCAL_MACHINE, kRunKey, kAutorunName, run));
    EXPECT_EQ(run, L"\"" + File(L"voropendant.exe") + L"\" " + kAutorunArguments);
}

TEST_F(Restore, LiteChannelInUpperCaseGetsTheLiteDesktopLink) {
    CurrentEdition();
    ASSERT_TRUE(voro::reg::WriteString(HKEY_CURRENT_USER, kUserKey, L"pid", L" ZODIZOZOV "));
    CInstallStateRestore restore;
    restore.RestoreShortcutsAndEntry();
    ExpectLink(commonDesktop + L"\\Voro壁纸Lite.lnk", File(L"vorowp.exe"), 1);
    EXPECT_FALSE(Exists(commonDesktop + L"\\Voro壁纸.lnk"));
}

TEST_F(Restore, LegacyEditionMakesTheLegacySetAndKeepsOtherProductsMenus) {
    // No ProductName: the legacy edition. Another product of the maker shares the parent folder.
    Touch(commonPrograms + L"\\Quon安全中心\\Quon壁纸\\stale.lnk");
    Touch(commonPrograms + L"\\Quon安全中心\\Other\\other.lnk");
    Touch(userPrograms + L"\\Quon安全中心\\Quon壁纸\\stale.lnk");  // the user's parent ends up empty
    CInstallStateRestore restore;
    EXPECT_FALSE(restore.IsCurrentEdition());
    restore.RestoreShortcutsAndEntry();

    ExpectLink(commonDesktop + L"\\Quon壁纸.lnk", File(L"vorowp.exe"), 0);
    ExpectLink(commonPrograms + L"\\Quon安全中心\\Quon壁纸\\Quon壁纸.lnk", File(L"vorowp.exe"), 0);
    ExpectLink(commonPrograms + L"\\Quon安全中心\\Quon壁纸\\卸载Quon壁纸.lnk", File(L"Uninstall.exe"), 0);
    EXPECT_FALSE(Exists(commonPrograms + L"\\Quon安全中心\\Quon壁纸\\stale.lnk"));
    EXPECT_TRUE(Exists(commonPrograms + L"\\Quon安全中心\\Other\\other.lnk"));
    EXPECT_FALSE(Exists(userPrograms + L"\\Quon安全中心"));
    ExpectEntry(L"DisplayIcon", L"");
    ExpectEntry(L"DisplayName", L"");
    ExpectEntry(L"InstallLocation", install);
}

TEST_F(Restore, AnInstallFolderThatIsGoneChangesNothing) {
    CurrentEdition();
    Touch(commonDesktop + L"\\Voro壁纸.lnk");
    const std::wstring gone = folder.File(L"gone");
    ASSERT_TRUE(voro::reg::WriteString(HKEY_LOCAL_MACHINE, kAppPathsKey, L"path", gone));
    CInstallStateRestore restore;
    restore.RestoreShortcutsAndEntry();
    restore.RestoreAutorun();
    EXPECT_TRUE(Exists(commonDesktop + L"\\Voro壁纸.lnk")) << "nothing removed";
    EXPECT_FALSE(Exists(commonPrograms + L"\\Voro壁纸")) << "nothing created";
    EXPECT_FALSE(voro::reg::KeyExists(HKEY_LOCAL_MACHINE, kEntryKey));
    EXPECT_FALSE(Exists(gone));
    std::wstring run;
    EXPECT_FALSE(voro::reg::ReadString(HKEY_LOCAL_MACHINE, kRunKey, kAutorunName, run));
}

TEST_F(Restore, AMissingTargetStopsTheSetAndTheEntry) {
    CurrentEdition();
    ASSERT_TRUE(::DeleteFileW(File(L"Uninstall.exe").c_str()));
    CInstallStateRestore restore;
    restore.RestoreShortcutsAndEntry();
    EXPECT_TRUE(ReadLink(commonDesktop + L"\\Voro壁纸.lnk").loaded);
    EXPECT_TRUE(ReadLink(commonPrograms + L"\\Voro壁纸\\Voro壁纸.lnk").loaded);
    EXPECT_FALSE(Exists(commonPrograms + L"\\Voro壁纸\\卸载Voro壁纸.lnk"));
    EXPECT_FALSE(voro::reg::KeyExists(HKEY_LOCAL_MACHINE, kEntryKey)) << "no entry after a failed shortcut";
    EXPECT_FALSE(CInstallStateRestore::CreateShortcut(File(L"missing.exe"), L"", folder.File(L"x.lnk"),
                                                      File(L"vorowp.exe"), 0, false));
    EXPECT_FALSE(Exists(folder.File(L"x.lnk")));
}

}  // namespace
