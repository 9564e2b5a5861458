// The decisions the entry function takes before any window exists: whether the caller may run
// this program, and how the launcher relaunches it from a temp folder. Pure parts (token, names,
// parameters) are plain functions; the machine is reached through thin readers.
#pragma once
#include "app/CommandParser.h"
#include "app/Paths.h"
#include <windows.h>
#include <functional>
#include <string>

constexpr wchar_t kLauncherLibrary[] = L"Veruveza.dll";      // lies beside every real uninstaller
constexpr wchar_t kUninstallerFile[] = L"Uninstall.exe";
constexpr wchar_t kLegacyUninstallerFile[] = L"Rovurere.exe";  // taken when Uninstall.exe is missing
constexpr wchar_t kAuthorisedPid[] = L"ruriziza";            // the only channel allowed to run silently
constexpr wchar_t kSilentMarker[] = L"quietly";              // enciphered into the /CHK token
constexpr wchar_t kFullInstallerPath[] = L"/voro/vorowallpaper_home.exe";
constexpr int kTempCopyAttempts = 10;

// Texts of the start-up's messages.
constexpr wchar_t kDamagedMessage[] = L"卸载程序已被破坏，请重新下载安装后再进行卸载";
constexpr wchar_t kAlreadyRunningMessage[] = L"安装或卸载程序已经在运行,点击“确定”退出";
constexpr wchar_t kArchiveDamagedMessage[] = L"7z.dll文件破坏，请重新下载安装后进行卸载";

namespace voro::startup {

// ---- pure parts ------------------------------------------------------------------------------

// The /CHK value of a silent relaunch: the marker enciphered under the machine id; empty when the
// cipher fails (an empty id, for example).
std::wstring MakeCallerToken(const std::wstring& machineId);
// True when the token deciphers under the machine id to the marker (case-insensitively).
bool IsCallerTokenValid(const std::wstring& token, const std::wstring& machineId);
// The temp copy's parameters: the received command line, "  /READYUNINSTALL", and for a silent
// run "  /CHK=" with the token.
std::wstring BuildRelaunchParameters(const std::wstring& received, bool silent, const std::wstring& token);
// "{GUID}.tmp", the name of a temp copy folder.
std::wstring TempCopyFolderName(const GUID& guid);
// True for a name of that form (hex digits in any case).
bool IsTempCopyFolderName(const std::wstring& name);
// The first of up to kTempCopyAttempts fresh names that does not name an existing folder in
// tempFolder; false when every attempt was taken (or no GUID could be made).
using GuidSource = std::function<bool(GUID& guid)>;
using FolderCheck = std::function<bool(const std::wstring& path)>;
bool ChooseTempCopyFolder(const std::wstring& tempFolder, const GuidSource& newGuid, const FolderCheck& folderExists,
                          std::wstring& folder);
// The parent's file name without its extension; empty when the name has no extension.
std::wstring ParentNameForReport(const std::wstring& parentPath);
// "&ex1=%s&ex2=%s" of the "uninstall_from" dot.
std::wstring UninstallFromExtra(const std::wstring& parentName, const std::wstring& windowsVersion);
// True when the folder is a temp copy folder directly inside the temp directory (compared without
// regard to case or a trailing backslash). Only such a folder is removed by the running copy.
bool IsTempCopyFolder(const std::wstring& folder, const std::wstring& tempDirectory);
using voro::JoinPath;

// ---- readers of the machine ------------------------------------------------------------------

std::wstring ExecutableFolder();  // folder of the running executable; empty on failure
std::wstring TempDirectory();     // GetTempPathW, with its trailing backslash; empty on failure
bool FileExists(const std::wstring& path);
bool FolderExists(const std::wstring& path);
// The long form of an existing path (the path itself when it has none), so that short and long
// spellings compare equal.
std::wstring LongPathOf(const std::wstring& path);
// "%d.%d" of the real Windows version; empty when it cannot be read.
std::wstring WindowsVersionText();
// The full-installer address on the download host in effect.
std::wstring FullInstallerUrl();

}  // namespace voro::startup

// Full path of the parent process's image (long form, at most 259 characters); empty on failure.
std::wstring GetParentProcessPath();

// ---- caller check ----------------------------------------------------------------------------

// What the caller check asks the machine.
class ICallerEnvironment {
public:
    virtual ~ICallerEnvironment() = default;
    virtual std::wstring ProductPid() = 0;         // per-user "pid" of the product
    virtual bool LauncherLibraryPresent() = 0;     // Veruveza.dll beside us or in the install folder
    virtual std::wstring ParentProcessPath() = 0;
    virtual bool IsSignedByPublisher(const std::wstring& path) = 0;
    virtual std::wstring MachineId() = 0;
};

class CSystemCallerEnvironment : public ICallerEnvironment {
public:
    std::wstring ProductPid() override;
    bool LauncherLibraryPresent() override;
    std::wstring ParentProcessPath() override;
    bool IsSignedByPublisher(const std::wstring& path) override;
    std::wstring MachineId() override;
};

// True when the run may go on: any run without /S; a silent one only from the authorised
// channel, and then the launcher only with its library present and a signed parent, the temp copy
// only with a valid /CHK token.
bool CheckCaller(const CCommandParser& parser, ICallerEnvironment& environment);

// ---- launcher --------------------------------------------------------------------------------

// Copies the uninstaller and its libraries from the install folder into a fresh temp folder,
// reports "uninstall_from" and starts the copy with the received command line and
// /READYUNINSTALL (and /CHK when silent). True when the copy was started.
bool RelaunchFromTemp(const std::wstring& commandLine, bool silent);
// Statistics identity: type "tesk", and the version of vorowp.exe when the install folder is
// recorded and exists.
void SetStatisticIdentity();
// The damaged-uninstaller question; "Yes" opens the full-installer download.
void OfferReinstall();
