// Installation facts: registry readers, version texts, Windows version, OEM configuration and
// the product family. Runs in fresh prefixes (it writes HKLM and HKCU).
#include "app/InstallFacts.h"
#include "app/OemConfig.h"
#include "app/Registry.h"
#include "report/StringCipher.h"
#include "TestSupport.h"
#include <gtest/gtest.h>
#include <fstream>
#include <vector>

namespace {


constexpr wchar_t kAppPaths[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vorowp.exe";
constexpr wchar_t kOemSwitchKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Divizodaz.exe";
constexpr wchar_t kOemValuesKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Divizodaz.exe\\oemconfig";

std::wstring SelfPath() {
    wchar_t path[MAX_PATH];
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return path;
}

std::wstring BesideSelf(const std::wstring& name) { return AncestorFolder(SelfPath(), 0) + L"\\" + name; }

void WriteUtf16File(const std::wstring& path, const std::wstring& text) {
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ::WriteFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
    ::CloseHandle(file);
}

std::wstring ReadUtf16File(const std::wstring& path) {
    std::string bytes = testsupport::ReadBytes(path);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

// ---- registry readers ---------------------------------------------------------------------

TEST(InstallFolder, ReadsThePathOfTheAppPathsKey) {
    EXPECT_EQ(GetInstallFolder(), L"");
    ASSERT_TRUE(voro::reg::WriteString(HKEY_LOCAL_MACHINE, kAppPaths, L"path", L"C:\\Program Files (x86)\\Voro"));
    EXPECT_EQ(GetInstallFolder(), L"C:\\Program Files (x86)\\Voro");
    ASSERT_TRUE(voro::reg::WriteString(HKEY_LOCAL_MACHINE, kAppPaths, L"path", std::wstring(260, L'a')));
    EXPECT_EQ(GetInstallFolder(), L"") << "a value that does not fit 260 characters counts as absent";
}

TEST(InstallationPid, IsTrimmedAndEmptyWhenUnusable) {
    const wchar_t* key = L"Software\\VoroWallPaper";
    EXPECT_EQ(GetInstallationPid(), L"");
    struct Case {
        std::wstring stored;
        std::wstring expected;
    };
    const Case cases[] = {
        {L"  vw_1024 \t", L"vw_1024"},
        {L"vw_7", L"vw_7"},
        {L" \t ", L""},
        {std::wstring(300, L'p'), L""},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(voro::reg::WriteString(HKEY_CURRENT_USER, key, L"pid", c.stored));
        EXPECT_EQ(GetInstallationPid(), c.expected) << c.stored.size();
    }
    ASSERT_TRUE(voro::reg::DeleteValue(HKEY_CURRENT_USER, key, L"pid"));
    ASSERT_TRUE(voro::reg::WriteDword(HKEY_CURRENT_USER, key, L"pid", 1024));
    EXPECT_EQ(GetInstallationPid(), L"") << "a number is not a channel id";
}

// ---- version texts ------------------------------------------------------------------------

std::vector<BYTE> VersionBlock(const std::wstring& path) {
    DWORD handle = 0;
    DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &handle);
    std::vector<BYTE> block(size);
    if (size == 0 || !::GetFileVersionInfoW(path.c_str(), 0, size, block.data())) block.clear();
    return block;
}

TEST(FileVersionText, StringTableRuleAndFixedVersion) {
    struct Case {
        const wchar_t* file;
        bool preferStringTable;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"version_commas.dll", true, L"1.2.0.5"},   // 32-bit Windows 10: commas to dots, no blanks
        {L"version_commas.dll", false, L"3.4.5.6"},  // otherwise the fixed version
        {L"version_blank.dll", true, L"7.8.9.10"},   // a blank string table falls back
        {L"version_blank.dll", false, L"7.8.9.10"},
    };
    for (const Case& c : cases) {
        std::vector<BYTE> block = VersionBlock(BesideSelf(c.file));
        ASSERT_FALSE(block.empty()) << "fixture missing beside the test program";
        std::wstring text;
        EXPECT_TRUE(FileVersionTextFromBlock(block.data(), c.preferStringTable, text));
        EXPECT_EQ(text, c.expected) << c.file << " " << c.preferStringTable;
    }
}

TEST(FileVersionText, FailsWithoutAVersionResource) {
    std::wstring text = L"x";
    EXPECT_FALSE(GetFileVersionText(SelfPath(), text));  // the test program has no version block
    EXPECT_EQ(text, L"");
    EXPECT_FALSE(GetFileVersionText(BesideSelf(L"no-such-file.dll"), text));
}

TEST(WindowsVersion, Windows10RuleOnVersionNumbers) {
    struct Case {
        DWORD major, minor;
        bool win10;
    };
    const Case cases[] = {{5, 1, false}, {6, 1, false}, {6, 3, false}, {6, 4, true}, {10, 0, true}, {11, 0, true}};
    for (const Case& c : cases) {
        WindowsVersion version;
        version.major = c.major;
        version.minor = c.minor;
        EXPECT_EQ(IsWindows10OrLater(version), c.win10) << c.major << "." << c.minor;
    }
}

// Reports the Windows version and the fixture's version text as this process sees them.
TEST_CHILD_ROLE(ReportVersion) {
    WindowsVersion version;
    if (!GetWindowsVersion(version)) return 2;
    std::wstring text;
    if (!GetFileVersionText(BesideSelf(L"version_commas.dll"), text)) return 3;
    WriteUtf16File(argument, std::to_wstring(version.major) + L"." + std::to_wstring(version.minor) + L"|" + text +
                                 L"|" + (Is64BitWindows() ? L"64" : L"32"));
    return 0;
}

TEST(WindowsVersion, FollowsThePerProgramWindowsVersionAndKeepsTheFixedVersionOn64Bit) {
    std::wstring exe = SelfPath().substr(SelfPath().find_last_of(L'\\') + 1);
    std::wstring key = L"Software\\Wine\\AppDefaults\\" + exe;
    testsupport::TempFolder temp;
    struct Case {
        const wchar_t* wineVersion;
        const wchar_t* expected;
    };
    // This build runs as a 64-bit process on 64-bit Windows, where the fixed version is the text
    // on every Windows version.
    const Case cases[] = {{L"win7", L"6.1|3.4.5.6|64"}, {L"win10", L"10.0|3.4.5.6|64"}};
    for (const Case& c : cases) {
        ASSERT_TRUE(voro::reg::WriteString(HKEY_CURRENT_USER, key, L"Version", c.wineVersion));
        std::wstring out = temp.File(std::wstring(c.wineVersion) + L".txt");
        ASSERT_EQ(testsupport::RunChild("ReportVersion", out), 0);
        EXPECT_EQ(ReadUtf16File(out), c.expected) << c.wineVersion;
    }
}

// ---- OEM configuration --------------------------------------------------------------------

std::wstring Encipher(const std::wstring& text) {
    std::wstring out;
    EXPECT_TRUE(EncryptText(text, COemConfig::kCipherKey, out));
    return out;
}

void SetOemValue(const std::wstring& name, DWORD type, std::wstring data, bool terminated) {
    // The system adds a terminator the caller left out when the next character is zero; a
    // guard character keeps an unterminated value unterminated.
    if (!terminated) data += L'X';
    voro::UniqueHKey key;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kOemValuesKey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_32KEY,
                                nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(::RegSetValueExW(key.get(), name.c_str(), 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                               static_cast<DWORD>((terminated ? data.size() + 1 : data.size() - 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

TEST(OemConfig, ReadsEncipheredValuesWhenSwitchedOn) {
    SetOemValue(Encipher(L"statis"), REG_SZ, Encipher(L"oem.example.net"), true);
    SetOemValue(Encipher(L"live"), REG_EXPAND_SZ, Encipher(L"live.example.net"), true);
    SetOemValue(Encipher(L"unterminated"), REG_SZ, Encipher(L"x.example.net"), false);
    SetOemValue(Encipher(L"plainData"), REG_SZ, L"not enciphered", true);
    SetOemValue(L"plainName", REG_SZ, Encipher(L"y.example.net"), true);
    std::string zeros(8, '\0'), emptyName;  // a block of zeros deciphers to an empty text
    ASSERT_TRUE(EncryptBytes(zeros, "3D1E5C0A-9B24-4F68-A7C3-E2B06D4915FA", emptyName));
    SetOemValue(std::wstring(emptyName.begin(), emptyName.end()), REG_SZ, Encipher(L"z.example.net"), true);
    {
        voro::UniqueHKey key;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kOemValuesKey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_32KEY,
                                    nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        DWORD number = 1;
        std::wstring name = Encipher(L"number");
        ::RegSetValueExW(key.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4);
    }

    COemConfig off;
    off.Init(L"tesk");
    EXPECT_FALSE(off.IsOn()) << "no switch yet";
    EXPECT_EQ(off.GetHostOverride(L"statis", L"http://dot.voro.com/dot"), L"http://dot.voro.com/dot");

    ASSERT_TRUE(voro::reg::WriteString(HKEY_LOCAL_MACHINE, kOemSwitchKey, L"oem_f", L"1"));
    COemConfig oem;
    oem.Init(L"TESK");
    ASSERT_TRUE(oem.IsOn());
    EXPECT_EQ(oem.Value(L"statis"), L"oem.example.net");
    EXPECT_EQ(oem.Value(L"live"), L"live.example.net");
    EXPECT_EQ(oem.Value(L"unterminated"), L"");
    EXPECT_EQ(oem.Value(L"plainData"), L"");
    EXPECT_EQ(oem.Value(L"number"), L"");
    EXPECT_EQ(oem.Value(L""), L"");
    EXPECT_EQ(oem.GetHostOverride(L"statis", L"http://dot.voro.com:8080/dot?x=1"),
              L"http://oem.example.net:8080/dot?x=1");
    EXPECT_EQ(oem.GetHostOverride(L"other", L"http://dot.voro.com/dot"), L"http://dot.voro.com/dot");

    COemConfig otherProduct;
    otherProduct.Init(L"voro");
    EXPECT_FALSE(otherProduct.IsOn());
    EXPECT_EQ(otherProduct.GetHostOverride(L"statis", L"http://dot.voro.com/dot"), L"http://dot.voro.com/dot");

    ASSERT_TRUE(voro::reg::WriteString(HKEY_LOCAL_MACHINE, kOemSwitchKey, L"oem_f", L"0"));
    COemConfig switchedOff;
    switchedOff.Init(L"tesk");
    EXPECT_FALSE(switchedOff.IsOn());
    EXPECT_EQ(switchedOff.Value(L"statis"), L"");
}

TEST(OemConfig, LoadFiltersValuesAndLaterNamesWin) {
    auto value = [](const std::wstring& name, DWORD type, const std::wstring& data, size_t extraBytes = 0) {
        voro::reg::Value v;
        v.name = name;
        v.type = type;
        const BYTE* bytes = reinterpret_cast<const BYTE*>(data.c_str());
        v.data.assign(bytes, bytes + (data.size() + 1) * sizeof(wchar_t));
        v.data.insert(v.data.begin(), extraBytes, 'A');
        return v;
    };
    std::vector<voro::reg::Value> values = {
        value(Encipher(L"k"), REG_SZ, Encipher(L"first")),
        value(Encipher(L"k"), REG_SZ, Encipher(L"second")),
        value(Encipher(L"big"), REG_SZ, Encipher(L"big.example.net"), 8192),  // over 8192 bytes
        value(Encipher(L"empty"), REG_SZ, L""),
    };
    voro::reg::Value longName = value(L"", REG_SZ, Encipher(L"long.example.net"));
    longName.name = std::wstring(4097, L'A');
    values.push_back(longName);
    COemConfig oem;
    oem.Load(true, values);
    EXPECT_EQ(oem.Value(L"k"), L"second");
    EXPECT_EQ(oem.Value(L"big"), L"");
    EXPECT_EQ(oem.Value(L"empty"), L"");
    oem.Load(false, values);
    EXPECT_EQ(oem.Value(L"k"), L"");
}

TEST(OemConfig, ReplaceHost) {
    struct Case {
        const wchar_t* url;
        const wchar_t* host;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"http://dot.voro.com/dot?a=1", L"oem.net", L"http://oem.net/dot?a=1"},
        {L"http://dot.voro.com:8080/dot", L"oem.net", L"http://oem.net:8080/dot"},
        {L"http://dot.voro.com", L"oem.net", L"http://oem.net"},
        {L"http://dot.voro.com/r?u=http://dot.voro.com/", L"oem.net", L"http://oem.net/r?u=http://oem.net/"},
        {L"http:///path", L"oem.net", L"http:///path"},        // no host
        {L"dot.voro.com/path", L"oem.net", L"dot.voro.com/path"},  // no scheme
        {L"http://:80/x", L"oem.net", L"http://oem.net/x"},    // a colon in front is part of the host
    };
    for (const Case& c : cases) EXPECT_EQ(COemConfig::ReplaceHost(c.url, c.host), c.expected) << c.url;
}

// ---- product family -----------------------------------------------------------------------

TEST(FamilyProduct, MarkerFilesAndAncestorFolders) {
    testsupport::TempFolder temp;
    EXPECT_EQ(DetectFamilyProductIn(temp.Path()), 0);
    WriteUtf16File(temp.File(L"vorowp.exe"), L"");
    EXPECT_EQ(DetectFamilyProductIn(temp.Path()), 4);
    WriteUtf16File(temp.File(L"Divizodaz.exe"), L"");
    EXPECT_EQ(DetectFamilyProductIn(temp.Path()), 3) << "ids are tried in ascending order";
    EXPECT_EQ(DetectFamilyProductIn(L""), 0);

    EXPECT_EQ(AncestorFolder(L"C:\\a\\b\\c.exe", 0), L"C:\\a\\b");
    EXPECT_EQ(AncestorFolder(L"C:\\a\\b\\c.exe", 1), L"C:\\a");
    EXPECT_EQ(AncestorFolder(L"C:\\a\\b\\c.exe", 2), L"C:");
    EXPECT_EQ(AncestorFolder(L"C:\\a\\b\\c.exe", 3), L"");

    ASSERT_NE(FindFamilyProduct(3), nullptr);
    EXPECT_STREQ(FindFamilyProduct(3)->productCode, L"tesk");
    EXPECT_STREQ(FindFamilyProduct(4)->productCode, L"voro");
    for (int id : {0, 1, 2, 5, 15}) EXPECT_EQ(FindFamilyProduct(id), nullptr) << id;
}

TEST_CHILD_ROLE(ReportFamily) {
    int levels = _wtoi(argument.substr(0, 1).c_str());
    WriteUtf16File(argument.substr(2), std::to_wstring(DetectFamilyProduct(levels)) + L"|" +
                                           GetFamilyProductCode(levels) + L"|" + GetFamilyPid(levels));
    return 0;
}

// Starts a copy of this program from `folder` in the ReportFamily role.
std::wstring RunCopyFrom(const std::wstring& folder, int levels, const std::wstring& out) {
    std::wstring copy = folder + L"\\copy.exe";
    if (!::CopyFileW(SelfPath().c_str(), copy.c_str(), FALSE)) return L"copy failed";
    std::wstring command = L"\"" + copy + L"\" --child ReportFamily \"" + std::to_wstring(levels) + L"|" + out + L"\"";
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(0);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(copy.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return L"start failed";
    ::WaitForSingleObject(pi.hProcess, 60000);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return ReadUtf16File(out);
}

TEST(FamilyProduct, CodeAndPidOfTheRunningProgram) {
    ASSERT_TRUE(voro::reg::WriteString(HKEY_CURRENT_USER, L"Software\\VoroWallPaper", L"PID", L"voro_chan"));
    ASSERT_TRUE(voro::reg::WriteString(HKEY_CURRENT_USER, L"Software\\QuonWallPaper", L"PID", L"tesk_chan"));
    testsupport::TempFolder temp;
    std::wstring inner = temp.File(L"inner");
    ASSERT_TRUE(::CreateDirectoryW(inner.c_str(), nullptr));
    WriteUtf16File(temp.File(L"Divizodaz.exe"), L"");
    WriteUtf16File(inner + L"\\vorowp.exe", L"");

    EXPECT_EQ(RunCopyFrom(inner, 0, temp.File(L"out0.txt")), L"4|voro|voro_chan");
    EXPECT_EQ(RunCopyFrom(inner, 1, temp.File(L"out1.txt")), L"3|tesk|tesk_chan");
    // From a folder without a marker (the temp copy's case) the code is empty and the pid comes
    // from the machine root key, where it is normally absent.
    EXPECT_EQ(GetFamilyProductCode(0), L"");
    EXPECT_EQ(GetFamilyPid(0), L"");
}

}  // namespace
