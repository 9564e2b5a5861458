// The install folder comes from the registry and is emptied, and every process inside it killed,
// by the uninstall sequence. A folder that is not a folder of its own is refused: a drive root,
// the Windows folder or one above it, a Program Files folder itself, a user-profile root (or the
// folder holding the profiles). The refusal makes the engine skip every step that touches it.
#pragma once
#include <string>
#include <vector>

namespace voro {

enum class FolderRefusal { None, NotAbsolute, DriveRoot, WindowsFolder, ProgramFiles, UserProfile };

// The machine's folders the check compares with.
struct SystemFolders {
    std::wstring windows;
    std::vector<std::wstring> programFiles;
    std::wstring profilesDirectory;      // the folder holding the profiles (C:\Users)
    std::vector<std::wstring> profiles;  // profile roots known to this machine
};

// Comparable form of an absolute path: forward slashes as backslashes, "\\?\" dropped, repeated
// separators, "." and ".." folded, trailing dots and blanks of each name dropped (as the file
// system does), upper-cased, no trailing separator ("C:" for a drive root, "\\SERVER\SHARE" for
// a share). Empty for a relative or drive-relative path.
std::wstring FoldFolderPath(const std::wstring& path);

// Pure check against the given folders.
FolderRefusal CheckInstallFolder(const std::wstring& folder, const SystemFolders& system);
// The log text of a refusal ("drive root", ...); empty for None.
const wchar_t* FolderRefusalText(FolderRefusal refusal);

// This machine's folders (Windows, both Program Files, the profiles).
SystemFolders QuerySystemFolders();
// The check against this machine's folders, for the folder as given and, when it exists, for its
// long-name form and the target it resolves to through links.
FolderRefusal CheckInstallFolder(const std::wstring& folder);

}  // namespace voro
