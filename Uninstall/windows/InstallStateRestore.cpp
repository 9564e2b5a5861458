#include "windows/InstallStateRestore.h"
#include "app/ComPtr.h"
#include "app/InstallFacts.h"
#include "app/Paths.h"
#include "app/Registry.h"
#include "engine/Autorun.h"
#include "engine/FileRemoval.h"
#include <shlobj.h>
#include <shobjidl.h>
#include <objbase.h>
#include <cwchar>

namespace {

constexpr wchar_t kCurrentEditionName[] = L"vorowallpaper";
constexpr wchar_t kLitePid[] = L"zodizOzov";
constexpr wchar_t kMainExecutable[] = L"vorowp.exe";
constexpr wchar_t kUninstaller[] = L"Uninstall.exe";
constexpr wchar_t kPendantExecutable[] = L"voropendant.exe";
constexpr int kAutorunDelaySeconds = 60;
constexpr WPARAM kIniChangeCode = 42;

// Every desktop link either edition ever made.
constexpr const wchar_t* kDesktopLinks[] = {L"Quon壁纸.lnk", L"Voro壁纸.lnk", L"Voro壁纸Lite.lnk"};
constexpr wchar_t kCurrentMenu[] = L"Voro壁纸";
constexpr wchar_t kLegacyMenuParent[] = L"Quon安全中心";
constexpr wchar_t kLegacyMenu[] = L"Quon安全中心\\Quon壁纸";

std::wstring FolderOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

bool PathExists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void RemoveDesktopLinks(const std::wstring& desktop) {
    if (desktop.empty()) return;
    for (const wchar_t* name : kDesktopLinks) DeleteOrSchedule(voro::JoinPath(desktop, name).c_str());
}

void RemoveMenuFolders(const std::wstring& programs) {
    if (programs.empty()) return;
    for (const wchar_t* name : {kCurrentMenu, kLegacyMenu}) {
        const std::wstring folder = voro::JoinPath(programs, name);
        if (IsFolder(folder)) DeleteFolderRecursive(folder.c_str());
    }
    // Other products of the maker may still have their entries in the shared parent folder.
    ::RemoveDirectoryW(voro::JoinPath(programs, kLegacyMenuParent).c_str());
}

// A REG_SZ written without its terminator (byte size = characters x 2).
bool WriteEntryText(HKEY key, const wchar_t* name, const std::wstring& data) {
    return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                            static_cast<DWORD>(data.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// The value holds text already (of any length the 260-character buffers take).
bool HasText(HKEY root, const std::wstring& subKey, const wchar_t* name) {
    std::wstring text;
    return voro::reg::ReadString(root, subKey, name, text) && !text.empty();
}

}  // namespace

namespace voro::restore {

bool IsCurrentEditionName(const std::wstring& productName) {
    return _wcsicmp(productName.c_str(), kCurrentEditionName) == 0;
}

std::vector<ShortcutSpec> EditionShortcuts(bool currentEdition, const std::wstring& installFolder,
                                           const std::wstring& commonDesktop, const std::wstring& commonPrograms,
                                           const std::wstring& pid) {
    const std::wstring main = voro::JoinPath(installFolder, kMainExecutable);
    const std::wstring uninstaller = voro::JoinPath(installFolder, kUninstaller);
    if (!currentEdition) {
        const std::wstring menu = voro::JoinPath(commonPrograms, kLegacyMenu);
        return {
            {voro::JoinPath(commonDesktop, L"Quon壁纸.lnk"), main, main, 0, false},
            {voro::JoinPath(menu, L"Quon壁纸.lnk"), main, main, 0, false},
            {voro::JoinPath(menu, L"卸载Quon壁纸.lnk"), uninstaller, uninstaller, 0, true},
        };
    }
    const bool lite = _wcsicmp(pid.c_str(), kLitePid) == 0;
    const std::wstring menu = voro::JoinPath(commonPrograms, kCurrentMenu);
    return {
        {voro::JoinPath(commonDesktop, lite ? L"Voro壁纸Lite.lnk" : L"Voro壁纸.lnk"), main, main, 1, false},
        {voro::JoinPath(menu, L"Voro壁纸.lnk"), main, main, 1, false},
        {voro::JoinPath(menu, L"卸载Voro壁纸.lnk"), uninstaller, uninstaller, 0, true},
    };
}

std::vector<EntryValue> EditionEntry(bool currentEdition, const std::wstring& installFolder,
                                     const std::wstring& version) {
    const std::wstring icon = currentEdition ? voro::JoinPath(installFolder, L"Utils\\vorowallpaper.ico") : std::wstring();
    return {
        {L"DisplayIcon", icon},
        {L"DisplayName", std::wstring()},
        {L"DisplayVersion", version},
        {L"InstallLocation", installFolder},
        {L"Publisher", std::wstring()},
        {L"UninstallString", voro::JoinPath(installFolder, kUninstaller)},
        {L"URLInfoAbout", std::wstring()},
    };
}

}  // namespace voro::restore

CInstallStateRestore::CInstallStateRestore() {
    if (!voro::reg::ReadString(HKEY_LOCAL_MACHINE, kProductAppPathsKey, L"path", m_strInstallDir)) m_strInstallDir.clear();
    m_bCurrentEdition = ReadCurrentEdition();
}

bool CInstallStateRestore::ReadCurrentEdition() {
    std::wstring name;
    return voro::reg::ReadString(HKEY_LOCAL_MACHINE, kProductAppPathsKey, L"ProductName", name) &&
           voro::restore::IsCurrentEditionName(name);
}

bool CInstallStateRestore::CreateShortcut(const std::wstring& target, const std::wstring& arguments,
                                          const std::wstring& link, const std::wstring& iconFile, int iconIndex,
                                          bool announce) {
    if (target.empty() || !PathExists(target)) return false;
    voro::ComPtr<IShellLinkW> shellLink;
    if (FAILED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_ALL, IID_IShellLinkW, shellLink.put_void())))
        return false;
    voro::ComPtr<IPersistFile> file;
    if (FAILED(shellLink->QueryInterface(IID_IPersistFile, file.put_void()))) return false;
    if (FAILED(shellLink->SetPath(target.c_str()))) return false;
    if (!arguments.empty() && FAILED(shellLink->SetArguments(arguments.c_str()))) return false;
    if (FAILED(shellLink->SetShowCmd(SW_SHOW))) return false;
    if (FAILED(shellLink->SetWorkingDirectory(FolderOf(target).c_str()))) return false;
    if (iconIndex >= 0) {
        wchar_t shortPath[MAX_PATH] = {};
        const DWORD n = ::GetShortPathNameW(iconFile.c_str(), shortPath, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) return false;
        if (FAILED(shellLink->SetIconLocation(shortPath, iconIndex))) return false;
    }
    if (FAILED(file->Save(link.c_str(), TRUE))) return false;
    if (announce) {
        ::PostMessageW(HWND_BROADCAST, WM_WININICHANGE, kIniChangeCode, 0);
        ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSH, nullptr, nullptr);
    }
    return true;
}

void CInstallStateRestore::RemoveOldShortcuts() {
    RemoveDesktopLinks(voro::SpecialFolderPath(CSIDL_COMMON_DESKTOPDIRECTORY));
    RemoveDesktopLinks(voro::SpecialFolderPath(CSIDL_DESKTOPDIRECTORY));
    RemoveMenuFolders(voro::SpecialFolderPath(CSIDL_COMMON_PROGRAMS));
    RemoveMenuFolders(voro::SpecialFolderPath(CSIDL_PROGRAMS));
}

void CInstallStateRestore::WriteEntry(bool currentEdition) {
    std::wstring version;
    if (!GetFileVersionText(voro::JoinPath(m_strInstallDir, kMainExecutable), version)) version.clear();
    voro::UniqueHKey key;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kUninstallEntryKey, 0, nullptr, 0,
                          KEY_SET_VALUE | voro::reg::ViewFlag(voro::reg::View::Wow32), nullptr, key.put(),
                          nullptr) != ERROR_SUCCESS) {
        key.reset();
        return;
    }
    for (const voro::restore::EntryValue& value : voro::restore::EditionEntry(currentEdition, m_strInstallDir, version)) {
        // An empty value never blanks what the installer wrote: a blank DisplayName would hide
        // the product from the list of installed programs.
        if (value.data.empty() && HasText(HKEY_LOCAL_MACHINE, kUninstallEntryKey, value.name)) continue;
        WriteEntryText(key.get(), value.name, value.data);
    }
}

void CInstallStateRestore::RestoreShortcutsAndEntry() {
    if (m_strInstallDir.empty() || !IsFolder(m_strInstallDir)) return;
    RemoveOldShortcuts();
    const bool current = ReadCurrentEdition();
    const std::vector<voro::restore::ShortcutSpec> shortcuts =
        voro::restore::EditionShortcuts(current, m_strInstallDir, voro::SpecialFolderPath(CSIDL_COMMON_DESKTOPDIRECTORY),
                                        voro::SpecialFolderPath(CSIDL_COMMON_PROGRAMS), GetInstallationPid());
    for (const voro::restore::ShortcutSpec& shortcut : shortcuts) {
        const std::wstring folder = FolderOf(shortcut.link);
        if (!folder.empty() && !IsFolder(folder)) ::SHCreateDirectory(nullptr, folder.c_str());
        if (!CreateShortcut(shortcut.target, std::wstring(), shortcut.link, shortcut.iconFile, shortcut.iconIndex,
                            shortcut.announce))
            return;
    }
    WriteEntry(current);
}

void CInstallStateRestore::RestoreAutorun() {
    // Without a recorded, existing install folder there is no config.set to switch on.
    if (m_strInstallDir.empty() || !IsFolder(m_strInstallDir)) return;
    ::WritePrivateProfileStringW(L"auto_run", L"open", L"1", voro::JoinPath(m_strInstallDir, kProductSettingsFile).c_str());
    const std::wstring pendant = voro::JoinPath(m_strInstallDir, kPendantExecutable);
    AutoRunRequest request;
    request.enable = true;
    request.executable = pendant.c_str();
    request.delaySeconds = kAutorunDelaySeconds;
    SetAutoRun(request);
}
