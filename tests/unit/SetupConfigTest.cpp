#include "config/SetupConfig.h"
#include "config/ResourceUnpack.h"
#include "SetupTestSupport.h"
#include <gtest/gtest.h>
#include <cstring>

namespace {

using setuptest::ComScope;
using setuptest::TempDirRedirect;
using setuptest::WriteUtf16Xml;

constexpr int kPackage = 209;
constexpr int kEmpty = 210;
constexpr wchar_t kType[] = L"SETUPCONFIG";
constexpr wchar_t kProject[] = L"tesk.tvnprj";

template <typename Record>
bool IsZeroFilled(const Record& record) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&record);
    for (size_t i = 0; i < sizeof(Record); ++i)
        if (bytes[i] != 0) return false;
    return true;
}

template <typename Record>
Record Garbage() {
    Record record;
    memset(&record, 0xCD, sizeof(record));
    return record;
}

std::wstring Text(const wchar_t* field) {
    return field;
}

class PackageTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(setuptest::LoadArchiveLibraryBesideExe());
        m_config = new CSetupConfig();
        ASSERT_EQ(1, m_config->Init(::GetModuleHandleW(nullptr), kPackage, kType, kProject));
    }
    void TearDown() override {
        if (m_config) m_config->Release();
    }

    ComScope m_com;
    TempDirRedirect m_temp;
    CSetupConfig* m_config = nullptr;
};

TEST_F(PackageTest, ScalarValuesOfTheEmbeddedProject) {
    ISetupConfig& config = *m_config;
    wchar_t buffer[1024];
    EXPECT_EQ(200, config.GetMinimizeSpace());
    EXPECT_EQ(200, config.GetFileCount());
    ASSERT_TRUE(config.GetVersion(buffer, 1024));
    EXPECT_EQ(L"1.2.1.8888", Text(buffer));
    ASSERT_TRUE(config.GetMainApp(buffer, 1024));
    EXPECT_EQ(L"Divizodaz.exe", Text(buffer));
    EXPECT_EQ(HKEY_LOCAL_MACHINE, config.GetRegAppPathRoot());
    ASSERT_TRUE(config.GetRegAppPathSubKey(buffer, 1024));
    // The project stores the key with every backslash doubled, and it is handed out as stored.
    EXPECT_EQ(L"SOFTWARE\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\App Paths\\\\Divizodaz.exe", Text(buffer));
    ASSERT_TRUE(config.GetRegAppPathValue(buffer, 1024));
    EXPECT_EQ(L"Path", Text(buffer));
    EXPECT_EQ(m_config->GetPackageFolder() + L"\\UninstallRootDirFileList.xml", m_config->GetRootDirListFile());
    EXPECT_EQ(m_config->GetPackageFolder() + L"\\FileList.xml", m_config->GetFileListFile());

    // The install-time lists are never read.
    EXPECT_EQ(0, config.GetCheckFileCount());
    EXPECT_FALSE(config.GetCheckFile(0, buffer, 1024));
    EXPECT_EQ(0, config.GetInstallCallCount());
    ProgramCallRecord call = Garbage<ProgramCallRecord>();
    EXPECT_FALSE(config.GetInstallCall(0, &call));
    EXPECT_TRUE(IsZeroFilled(call));
}

TEST_F(PackageTest, CloseProgramsInDocumentOrder) {
    ASSERT_EQ(2, m_config->GetCloseProgramCount());
    const wchar_t* classes[] = {L"QuonWallpaperMsgWndClass", L"QuonWallPaperCtrlCls"};
    for (int i = 0; i < 2; ++i) {
        CloseProgramRecord record = Garbage<CloseProgramRecord>();
        ASSERT_TRUE(m_config->GetCloseProgram(i, &record));
        EXPECT_EQ(classes[i], Text(record.windowClass));
        EXPECT_EQ(static_cast<UINT>(WM_COMMAND), record.message);
        EXPECT_EQ(40011, record.wParam);
        EXPECT_EQ(102, record.lParam);
        EXPECT_EQ(2000, record.timeoutMs);
        size_t used = wcslen(record.windowClass);
        for (size_t k = used; k < kCloseClassCapacity; ++k) ASSERT_EQ(L'\0', record.windowClass[k]) << k;
    }
}

TEST_F(PackageTest, UninstallCallsInDocumentOrder) {
    struct Expected {
        const wchar_t* fileName;
        const wchar_t* type;
        const wchar_t* funcName;
        const wchar_t* para;
        const wchar_t* cmdline;
        int waitTimeMs;
    };
    const Expected expected[] = {
        {L"VoroWpExt.dll", L"dll", L"UnInstall", L"", L"", 0},
        {L"Utils\\vorosvc.exe", L"exe", L"", L"", L"/uninstall /from=tesk", 5000},
        {L"Utils\\vorocrash.exe", L"exe", L"", L"", L"/uninstall /from=tesk", 5000},
        {L"wallpaperhelper\\vorohelper.exe", L"exe", L"", L"", L"/uninstall /from=tesk", 5000},
        {L"VezAre\\VezAre.exe", L"exe", L"", L"", L"/uninstall /from=tesk", 5000},
        {L"vorowidget.exe", L"exe", L"", L"", L"--uninst", 5000},
        {L"VoroDesk.dll", L"dll", L"UnInstall", L"", L"", 0},
        {L"Utils\\VoroBrowserExt.dll", L"dll", L"UnregisterExt", L"tesk", L"", 0},
        {L"wallpaperhelper\\VoroShellHook.dll", L"dll", L"Uninst", L"", L"", 0},
    };
    ASSERT_EQ(9, m_config->GetUninstallCallCount());
    for (int i = 0; i < 9; ++i) {
        const Expected& e = expected[i];
        ProgramCallRecord record = Garbage<ProgramCallRecord>();
        ASSERT_TRUE(m_config->GetUninstallCall(i, &record)) << i;
        EXPECT_EQ(e.fileName, Text(record.fileName)) << i;
        EXPECT_EQ(e.type, Text(record.type)) << i;
        EXPECT_EQ(e.funcName, Text(record.funcName)) << i;
        EXPECT_EQ(e.para, Text(record.para)) << i;
        EXPECT_EQ(e.cmdline, Text(record.cmdline)) << i;
        EXPECT_EQ(L"", Text(record.signType)) << i;
        EXPECT_EQ(e.waitTimeMs, record.waitTimeMs) << i;
        EXPECT_EQ(1, record.sync) << i;
    }
}

TEST_F(PackageTest, RundllItemForThisWindowsAndRootList) {
    // The tests run in a 64-bit prefix.
    ASSERT_EQ(1, m_config->GetRundllItemCount());
    RundllRecord record = Garbage<RundllRecord>();
    ASSERT_TRUE(m_config->GetRundllItem(0, &record));
    EXPECT_EQ(L"Utils\\VoroShellExt64.dll", Text(record.fileName));
    EXPECT_EQ(L"RunDllEntry", Text(record.entry));
    EXPECT_EQ(L"--verb=UnInstall", Text(record.cmdline));
    EXPECT_EQ(5000, record.waitTimeMs);

    IUninstallRootDirList* list = m_config->GetRootDirList();
    ASSERT_NE(nullptr, list);
    EXPECT_EQ(49, list->GetCount());
    int folders = 0;
    for (int i = 0; i < list->GetCount(); ++i) {
        RootDirRecord entry = {};
        ASSERT_EQ(1, list->GetItem(i, &entry));
        folders += entry.isFolder;
        EXPECT_EQ(0, entry.optional);
    }
    EXPECT_EQ(13, folders);
    EXPECT_EQ(1, list->Contains(L"wallpaperhelper"));
    EXPECT_EQ(1, list->Contains(L"vorowp.exe"));
}

TEST_F(PackageTest, RecordGettersZeroFillAndCheckTheIndex) {
    for (int index : {-1, 2, 100}) {
        CloseProgramRecord close = Garbage<CloseProgramRecord>();
        EXPECT_FALSE(m_config->GetCloseProgram(index, &close)) << index;
        EXPECT_TRUE(IsZeroFilled(close)) << index;
    }
    for (int index : {-1, 9}) {
        ProgramCallRecord call = Garbage<ProgramCallRecord>();
        EXPECT_FALSE(m_config->GetUninstallCall(index, &call)) << index;
        EXPECT_TRUE(IsZeroFilled(call)) << index;
    }
    RundllRecord rundll = Garbage<RundllRecord>();
    EXPECT_FALSE(m_config->GetRundllItem(1, &rundll));
    EXPECT_TRUE(IsZeroFilled(rundll));
    EXPECT_FALSE(m_config->GetCloseProgram(0, nullptr));
    EXPECT_FALSE(m_config->GetUninstallCall(0, nullptr));
    EXPECT_FALSE(m_config->GetInstallCall(0, nullptr));
}

TEST_F(PackageTest, StringGettersNeedRoomForTheTerminator) {
    const std::wstring version = L"1.2.1.8888";
    const int length = static_cast<int>(version.size());
    struct Case {
        int capacity;
        bool copied;
    };
    const Case cases[] = {{length - 1, false}, {length, false}, {length + 1, true}, {1024, true}};
    for (const Case& c : cases) {
        wchar_t buffer[1024];
        wmemset(buffer, L'#', 1024);
        EXPECT_EQ(c.copied, m_config->GetVersion(buffer, c.capacity)) << c.capacity;
        EXPECT_EQ(c.copied ? version : std::wstring(), Text(buffer)) << c.capacity;
    }
    EXPECT_FALSE(m_config->GetVersion(nullptr, 1024));
    EXPECT_FALSE(m_config->GetMainApp(nullptr, 1024));
    EXPECT_FALSE(m_config->GetRegAppPathSubKey(nullptr, 1024));
    EXPECT_FALSE(m_config->GetRegAppPathValue(nullptr, 1024));
    wchar_t untouched[4] = {L'#', L'#', L'#', 0};
    EXPECT_FALSE(m_config->GetMainApp(untouched, 0));
    EXPECT_EQ(L"###", Text(untouched));
}

TEST(SetupConfigLifetime, PackageFolderIsDeletedWithTheObject) {
    ComScope com;
    TempDirRedirect temp;
    ASSERT_TRUE(setuptest::LoadArchiveLibraryBesideExe());
    CSetupConfig* config = new CSetupConfig();
    ASSERT_EQ(1, config->Init(::GetModuleHandleW(nullptr), kPackage, kType, kProject));
    std::wstring folder = config->GetPackageFolder();
    ASSERT_EQ(temp.Path() + L"\\", folder.substr(0, temp.Path().size() + 1));
    ASSERT_TRUE(testsupport::FileExists(folder + L"\\tesk.tvnprj"));
    // A read-only file and a sub-folder inside go as well.
    ASSERT_TRUE(::CreateDirectoryW((folder + L"\\sub").c_str(), nullptr));
    setuptest::WriteBytes(folder + L"\\sub\\locked.txt", "x");
    ::SetFileAttributesW((folder + L"\\sub\\locked.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    config->Release();
    EXPECT_FALSE(testsupport::FileExists(folder));
    EXPECT_TRUE(setuptest::ListFolder(temp.Path()).empty());
}

// The shipped executable carries the same package as resource 209 and it loads from there.
TEST(SetupConfigInit, LoadsFromTheBuiltUninstallExe) {
    ComScope com;
    TempDirRedirect temp;
    ASSERT_TRUE(setuptest::LoadArchiveLibraryBesideExe());
    std::wstring exe = setuptest::ExeFolder() + L"\\..\\..\\Uninstall\\Uninstall.exe";
    HMODULE module = ::LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module);
    CResourceUnpack shipped, own;
    ASSERT_TRUE(shipped.Init(module, MAKEINTRESOURCEW(kPackage), kType));
    ASSERT_TRUE(own.Init(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kPackage), kType));
    ASSERT_EQ(own.Size(), shipped.Size());
    EXPECT_EQ(0, memcmp(own.Data(), shipped.Data(), static_cast<size_t>(own.Size())));
    {
        CSetupConfig config;
        ASSERT_EQ(1, config.Init(module, kPackage, kType, kProject));
        wchar_t version[32];
        ASSERT_TRUE(config.GetVersion(version, 32));
        EXPECT_EQ(L"1.2.1.8888", Text(version));
        EXPECT_EQ(9, config.GetUninstallCallCount());
    }
    EXPECT_TRUE(setuptest::ListFolder(temp.Path()).empty());
    ::FreeLibrary(module);
}

TEST(SetupConfigInit, FailsCleanlyWithoutAUsablePackage) {
    ComScope com;
    TempDirRedirect temp;
    ASSERT_TRUE(setuptest::LoadArchiveLibraryBesideExe());
    struct Case {
        int id;
        const wchar_t* project;
    };
    const Case cases[] = {
        {999, kProject},                              // no such resource
        {kEmpty, kProject},                           // an empty archive
        {kPackage, L"missing.tvnprj"},                // no project file in the package
        {kPackage, L"UninstallRootDirFileList.xml"},  // XML without Setup/Main
    };
    for (const Case& c : cases) {
        CSetupConfig config;
        EXPECT_EQ(0, config.Init(::GetModuleHandleW(nullptr), c.id, kType, c.project)) << c.id;
        EXPECT_EQ(0, config.GetCloseProgramCount());
        EXPECT_EQ(100, config.GetMinimizeSpace());
    }
}

// Project files written by the tests, with the root folder list beside them.
class ProjectTest : public testing::Test {
protected:
    std::wstring Write(const std::wstring& body) {
        WriteUtf16Xml(m_folder.File(L"UninstallRootDirFileList.xml"),
                      L"<RootDirFiles><Dir><Item Name=\"Utils\"/></Dir></RootDirFiles>");
        std::wstring path = m_folder.File(L"test.tvnprj");
        WriteUtf16Xml(path, body);
        return path;
    }
    static std::wstring Project(const std::wstring& sections) {
        return L"<Setup><Main Version=\"2.0\"/>"
               L"<UninstallRootDirFileList File=\"UninstallRootDirFileList.xml\"/>" +
               sections + L"</Setup>";
    }

    ComScope m_com;
    testsupport::TempFolder m_folder;
    CSetupConfig m_config;
};

TEST_F(ProjectTest, DefaultsOfAMinimalProject) {
    ASSERT_TRUE(m_config.Load(Write(Project(L""))));
    wchar_t buffer[MAX_PATH];
    EXPECT_EQ(100, m_config.GetMinimizeSpace());
    EXPECT_EQ(200, m_config.GetFileCount());
    EXPECT_EQ(HKEY_LOCAL_MACHINE, m_config.GetRegAppPathRoot());
    EXPECT_TRUE(m_config.GetRegAppPathSubKey(buffer, MAX_PATH));
    EXPECT_EQ(L"", Text(buffer));
    EXPECT_TRUE(m_config.GetRegAppPathValue(buffer, MAX_PATH));
    EXPECT_EQ(L"", Text(buffer));
    EXPECT_TRUE(m_config.GetMainApp(buffer, MAX_PATH));
    EXPECT_EQ(L"", Text(buffer));
    EXPECT_EQ(0, m_config.GetCloseProgramCount());
    EXPECT_EQ(0, m_config.GetUninstallCallCount());
    EXPECT_EQ(0, m_config.GetRundllItemCount());
    EXPECT_EQ(1, m_config.GetRootDirList()->Contains(L"UTILS"));
    // The package folder is only set by Init: loading a file never deletes its folder.
    EXPECT_TRUE(m_config.GetPackageFolder().empty());
}

TEST_F(ProjectTest, LoadFailures) {
    struct Case {
        std::wstring body;
        const char* why;
    };
    const Case cases[] = {
        {L"this is not XML", "not XML"},
        {L"<Setup><Main Version=\"1\">", "not well-formed"},
        {L"<Setup><UninstallRootDirFileList File=\"UninstallRootDirFileList.xml\"/></Setup>", "no Setup/Main"},
        {L"<Setup><Main/></Setup>", "no root list element"},
        {L"<Setup><Main/><UninstallRootDirFileList File=\"missing.xml\"/></Setup>", "root list file missing"},
        {L"<Setup><Main/><UninstallRootDirFileList File=\"\"/></Setup>", "root list names the folder"},
    };
    for (const Case& c : cases) {
        CSetupConfig config;
        EXPECT_FALSE(config.Load(Write(c.body))) << c.why;
    }
    EXPECT_FALSE(m_config.Load(m_folder.File(L"missing.tvnprj")));
    EXPECT_FALSE(m_config.Load(m_folder.Path() + L"\\" + std::wstring(512, L'a')));
}

TEST_F(ProjectTest, RootKeyNames) {
    struct Case {
        const wchar_t* name;
        HKEY expected;
    };
    const Case cases[] = {
        {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE}, {L"hkey_current_user", HKEY_CURRENT_USER},
        {L"HKEY_USERS", HKEY_USERS},                 {L"Hkey_Classes_Root", HKEY_CLASSES_ROOT},
        {L"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG}, {L"HKCU", HKEY_LOCAL_MACHINE},
        {L"", HKEY_LOCAL_MACHINE},
    };
    for (const Case& c : cases) {
        CSetupConfig config;
        ASSERT_TRUE(config.Load(Write(Project(L"<RegAppPath HKEY=\"" + std::wstring(c.name) +
                                              L"\" SubKey=\"Software\\Voro\" Value=\"Path\"/>"))));
        EXPECT_EQ(c.expected, config.GetRegAppPathRoot()) << testing::PrintToString(std::wstring(c.name));
        wchar_t buffer[MAX_PATH];
        ASSERT_TRUE(config.GetRegAppPathSubKey(buffer, MAX_PATH));
        EXPECT_EQ(L"Software\\Voro", Text(buffer));
    }
}

TEST_F(ProjectTest, CloseProgramEntries) {
    const std::wstring class195(195, L'c');
    const std::wstring class196(196, L'd');
    ASSERT_TRUE(m_config.Load(Write(Project(
        L"<CloseAllPrograms>"
        L"<Program WindowClass=\"NoMessage\"/>"
        L"<Program WindowClass=\"Lower\" Message=\"wm_command\"/>"
        L"<Program WindowClass=\"Quit\" Message=\"WM_QUIT\" WPARAM=\"0x10\" LPARAM=\"-1\" Timeout=\"500\"/>"
        L"<Program WindowClass=\"Command\" Message=\"WM_COMMAND\" WPARAM=\"40011\" LPARAM=\"102\"/>"
        L"<Program Message=\"WM_CLOSE\"/>"
        L"<Program WindowClass=\"" + class196 + L"\"/>"
        L"<Program WindowClass=\"" + class195 + L"\"/>"
        L"</CloseAllPrograms>"))));
    struct Expected {
        std::wstring windowClass;
        UINT message;
        int wParam;
        int lParam;
        int timeoutMs;
    };
    const Expected expected[] = {
        {L"NoMessage", WM_CLOSE, 0x168, 0x168, 2000},
        {L"Lower", WM_CLOSE, 0x168, 0x168, 2000},  // names match exactly
        {L"Quit", WM_QUIT, 16, -1, 500},
        {L"Command", WM_COMMAND, 40011, 102, 2000},
        {L"", WM_CLOSE, 0x168, 0x168, 2000},      // no class: kept with an empty one
        {class195, WM_CLOSE, 0x168, 0x168, 2000},  // the 196-character class was dropped
    };
    ASSERT_EQ(6, m_config.GetCloseProgramCount());
    for (int i = 0; i < 6; ++i) {
        CloseProgramRecord record;
        ASSERT_TRUE(m_config.GetCloseProgram(i, &record));
        EXPECT_EQ(expected[i].windowClass, Text(record.windowClass)) << i;
        EXPECT_EQ(expected[i].message, record.message) << i;
        EXPECT_EQ(expected[i].wParam, record.wParam) << i;
        EXPECT_EQ(expected[i].lParam, record.lParam) << i;
        EXPECT_EQ(expected[i].timeoutMs, record.timeoutMs) << i;
    }
}

TEST_F(ProjectTest, UninstallCallsDropEntriesWithTextTooLong) {
    const std::wstring long260(260, L'x');
    const std::wstring long259(259, L'y');
    std::wstring calls = L"<CallProgramOnUninst>";
    for (const wchar_t* attribute : {L"FileName", L"Type", L"FuncName", L"Para", L"Cmdline", L"SignType"}) {
        std::wstring name = attribute;
        calls += std::wstring(L"<Program ") + (name == L"FileName" ? L"" : L"FileName=\"a.dll\" ") + name + L"=\"" + long260 + L"\"/>";
    }
    calls += L"<Program FileName=\"" + long259 + L"\" Type=\"exe\" SignType=\"Voro Ltd\" WaitTime=\"0x1388\" Sync=\"0\"/>";
    calls += L"<Program FileName=\"b.dll\" Type=\"dll\" FuncName=\"Uninst\" Para=\"tesk\"/>";
    calls += L"</CallProgramOnUninst>";
    ASSERT_TRUE(m_config.Load(Write(Project(calls))));

    ASSERT_EQ(2, m_config.GetUninstallCallCount());
    ProgramCallRecord record;
    ASSERT_TRUE(m_config.GetUninstallCall(0, &record));
    EXPECT_EQ(long259, Text(record.fileName));
    EXPECT_EQ(L"exe", Text(record.type));
    EXPECT_EQ(L"Voro Ltd", Text(record.signType));
    EXPECT_EQ(5000, record.waitTimeMs);
    EXPECT_EQ(0, record.sync);
    ASSERT_TRUE(m_config.GetUninstallCall(1, &record));
    EXPECT_EQ(L"b.dll", Text(record.fileName));
    EXPECT_EQ(L"Uninst", Text(record.funcName));
    EXPECT_EQ(L"tesk", Text(record.para));
    EXPECT_EQ(0, record.waitTimeMs);  // defaults
    EXPECT_EQ(1, record.sync);
}

TEST(RundllSystem, KeepsOnlyItemsForThisBitness) {
    struct Case {
        const wchar_t* system;
        bool on64;
        bool on32;
    };
    const Case cases[] = {
        {L"64", true, false}, {L"32", false, true}, {L"", false, false},
        {L"16", false, false}, {L" 64", false, false}, {L"064", false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.on64, IsRundllItemForThisWindows(c.system, true)) << testing::PrintToString(std::wstring(c.system));
        EXPECT_EQ(c.on32, IsRundllItemForThisWindows(c.system, false)) << testing::PrintToString(std::wstring(c.system));
    }
}

// Both answers of the bitness probe; this machine can only run a 64-bit prefix.
TEST_F(ProjectTest, RundllItemsFollowTheWindowsBitness) {
    const std::wstring long260(260, L'z');
    std::wstring path = Write(Project(
        L"<RundllUnRegisterOnUnInst>"
        L"<Item FileName=\"ext32.dll\" Entry=\"E32\" Cmdline=\"--verb=UnInstall\" System=\"32\" WaitTime=\"5000\"/>"
        L"<Item FileName=\"ext64.dll\" Entry=\"E64\" Cmdline=\"--verb=UnInstall\" System=\"64\" WaitTime=\"5000\"/>"
        L"<Item FileName=\"none.dll\" Entry=\"E\"/>"
        L"<Item FileName=\"other.dll\" Entry=\"E\" System=\"16\"/>"
        L"<Item FileName=\"long64.dll\" Entry=\"E\" Cmdline=\"" + long260 + L"\" System=\"64\"/>"
        L"<Item FileName=\"long32.dll\" Entry=\"" + long260 + L"\" System=\"32\"/>"
        L"<Item FileName=\"late32.dll\" System=\"32\"/>"
        L"</RundllUnRegisterOnUnInst>"));
    struct Case {
        bool is64;
        std::vector<std::wstring> files;
        std::vector<int> waits;
    };
    const Case cases[] = {
        {true, {L"ext64.dll"}, {5000}},
        {false, {L"ext32.dll", L"late32.dll"}, {5000, 0}},
    };
    for (const Case& c : cases) {
        CSetupConfig config;
        ASSERT_TRUE(config.Load(path, c.is64));
        ASSERT_EQ(static_cast<int>(c.files.size()), config.GetRundllItemCount()) << c.is64;
        for (int i = 0; i < config.GetRundllItemCount(); ++i) {
            RundllRecord record;
            ASSERT_TRUE(config.GetRundllItem(i, &record));
            EXPECT_EQ(c.files[static_cast<size_t>(i)], Text(record.fileName)) << c.is64;
            EXPECT_EQ(c.waits[static_cast<size_t>(i)], record.waitTimeMs) << c.is64;
        }
    }
}

}  // namespace
