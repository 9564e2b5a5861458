// Keep mode: puts the installed product back into a clean, complete state instead of removing it.
// Old shortcuts go, the shortcuts of the installed edition are made again, the entry in the list
// of installed programs is rewritten and the autorun is switched back on. No window, no report;
// every step is best effort.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace voro::restore {

// One shortcut of an edition.
struct ShortcutSpec {
    std::wstring link;      // full path of the .lnk file
    std::wstring target;
    std::wstring iconFile;
    int iconIndex = 0;
    bool announce = false;  // tell the shell that associations changed, after saving
};

// One value of the uninstall entry.
struct EntryValue {
    const wchar_t* name;
    std::wstring data;
};

// The edition's shortcuts in creation order. commonDesktop and commonPrograms are the all-users
// folders; pid chooses the current edition's desktop link ("zodizOzov" gets the Lite name).
std::vector<ShortcutSpec> EditionShortcuts(bool currentEdition, const std::wstring& installFolder,
                                           const std::wstring& commonDesktop, const std::wstring& commonPrograms,
                                           const std::wstring& pid);
// The edition's uninstall entry values in writing order; version is the main executable's.
std::vector<EntryValue> EditionEntry(bool currentEdition, const std::wstring& installFolder,
                                     const std::wstring& version);
// True for the "ProductName" of the current edition ("vorowallpaper", any case).
bool IsCurrentEditionName(const std::wstring& productName);

}  // namespace voro::restore

class CInstallStateRestore {
public:
    // Reads the install folder and the edition.
    CInstallStateRestore();

    void RestoreShortcutsAndEntry();
    void RestoreAutorun();

    const std::wstring& InstallFolder() const { return m_strInstallDir; }
    bool IsCurrentEdition() const { return m_bCurrentEdition; }

    // A shell link to an existing target, working folder the target's; with an icon index >= 0 the
    // icon is the short path of iconFile. False when the target is missing or any call fails.
    static bool CreateShortcut(const std::wstring& target, const std::wstring& arguments, const std::wstring& link,
                               const std::wstring& iconFile, int iconIndex, bool announce);

private:
    static bool ReadCurrentEdition();
    void RemoveOldShortcuts();
    void WriteEntry(bool currentEdition);

    std::wstring m_strInstallDir;
    bool m_bCurrentEdition = false;
};
