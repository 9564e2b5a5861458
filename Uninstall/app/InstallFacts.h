// What the installer recorded about the installed product, and facts about this Windows.
// Readers only: nothing here writes anything, and every failure reads as empty, false or 0.
#pragma once
#include <windows.h>
#include <string>

// The product's App Paths registration (machine-wide) and its entry in the installed-programs list.
constexpr wchar_t kProductAppPathsKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\vorowp.exe";
constexpr wchar_t kUninstallEntryKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\vorowp";

// Folder of the installed product (App Paths "path"); empty when absent.
std::wstring GetInstallFolder();
// The installation's channel id with white space removed at both ends; empty when absent.
std::wstring GetInstallationPid();

// Version text of an executable: the string-table "FileVersion" on 32-bit Windows 10 and later,
// otherwise the fixed file version. False when the file has no version resource.
bool GetFileVersionText(const std::wstring& path, std::wstring& text);

struct WindowsVersion {
    DWORD major = 0;
    DWORD minor = 0;
    DWORD build = 0;  // low 16 bits only
};
// The real Windows version from ntdll's RtlGetNtVersionNumbers; false when the export is missing.
bool GetWindowsVersion(WindowsVersion& version);

// True on 64-bit Windows (also for a 32-bit process under WoW64); computed once per process.
bool Is64BitWindows();

// Pure parts, fed by the readers above.
bool IsWindows10OrLater(const WindowsVersion& version);  // 10.x and the 6.4 previews
// Version text from a block that GetFileVersionInfoW filled; preferStringTable selects the
// Windows 10 rule (first translation's "FileVersion", commas to dots, spaces removed).
bool FileVersionTextFromBlock(const void* block, bool preferStringTable, std::wstring& text);
// Trims blanks, tabs and line breaks at both ends.
std::wstring TrimWhiteSpace(const std::wstring& text);

// Products of the family that share companion components. Id 0: none recognised.
struct FamilyProduct {
    int id;
    const wchar_t* markerFile;
    const wchar_t* productCode;
    const wchar_t* pidKey;  // under HKEY_CURRENT_USER
    const wchar_t* pidValue;
};
// The rows of this product's family that the uninstaller knows; null for any other id.
const FamilyProduct* FindFamilyProduct(int id);
// Id of the first family product whose marker file lies in the folder; 0 when none does.
int DetectFamilyProductIn(const std::wstring& folder);
// The folder `levels` folders above the one holding the file; empty when there are not enough.
std::wstring AncestorFolder(const std::wstring& filePath, int levels);

// Starts from the running executable's folder and goes up `levels` folders.
int DetectFamilyProduct(int levels);
std::wstring GetFamilyProductCode(int levels);
std::wstring GetFamilyPid(int levels);
