#include "app/RunModes.h"
#include "app/InstallFacts.h"
#include "app/SmartLogger.h"
#include "app/StartUp.h"
#include "config/UninstallFeedbackConfig.h"
#include "engine/FileRemoval.h"
#include "report/HttpModule.h"
#include "report/Statistic.h"
#include "windows/InstallStateRestore.h"
#include "windows/MessageBox.h"
#include "windows/SilentFlow.h"
#include <cwchar>

using namespace voro::startup;

namespace {

void RunKeepMode() {
    CInstallStateRestore restore;
    restore.RestoreShortcutsAndEntry();
    restore.RestoreAutorun();
}

}  // namespace

const wchar_t* PreInitCheckMessage(int code) {
    switch (code) {
        case 2:
            return kDamagedMessage;
        case 3:
            return kArchiveDamagedMessage;
        default:
            return L"";
    }
}

std::wstring PreInitCheckFailExtra(int code) {
    return L"&" + std::wstring(kInitFailReportKey) + L"=PreInitCheck:" + std::to_wstring(code);
}

std::wstring InitConfigFailExtra() { return L"&" + std::wstring(kInitFailReportKey) + L"=InitConfigFaile"; }

void RunLauncherMode(const CCommandParser& parser) {
    SetStatisticIdentity();
    if (!RelaunchFromTemp(parser.CommandLine(), parser.IsSilent())) OfferReinstall();
}

void RunWorkingMode(const WorkingModeContext& context) {
    const std::wstring install = GetInstallFolder();
    if (install.empty() || !FolderExists(install)) {
        CMessageBox::ShowMessage(nullptr, kDamagedMessage, kMessageOk);
        return;
    }
    context.task->SetInstallDir(install.c_str());
    CStatistic::Instance()->SetVersionFromFile(JoinPath(install, L"vorowp.exe").c_str());
    ::SetCurrentDirectoryW(context.ownFolder.c_str());

    if (context.parser->HasKey(kSwitchKeep)) {
        RunKeepMode();
        RunTail(context.ownFolder, context.tempDirectory);
        return;
    }

    LoadHttpModule(context.ownFolder);
    UninstallFeedbackConfig::Instance()->StartFetch();
    SetStatisticIdentity();
    CStatistic::Instance()->Dot(L"uninstall_1", nullptr, 0);

    const int code = context.task->PreInitCheck();
    if (code != 0) {
        WriteLog(L"pre init check failed, ret = %d", code);
        CMessageBox::ShowMessage(nullptr, PreInitCheckMessage(code), kMessageOk);
        CStatistic::Instance()->Dot(L"unist_init_fail", PreInitCheckFailExtra(code).c_str(), 0);
        context.wait(kInitFailWaitMs);
        return;
    }
    if (!context.task->InitConfig(context.instance, kSetupConfigResourceId, kSetupConfigResourceType,
                                  kProjectFileName)) {
        WriteLog(L"init config failed, exit");
        OfferReinstall();
        CStatistic::Instance()->Dot(L"unist_init_fail", InitConfigFailExtra().c_str(), 0);
        context.wait(kInitFailWaitMs);
        return;
    }
    context.runMainWindow();
    RunTail(context.ownFolder, context.tempDirectory);
}

void RunTail(const std::wstring& ownFolder, const std::wstring& tempDirectory) {
    UninstallFeedbackConfig::Instance()->Stop();
    // Started by hand from the install folder (or anywhere else), the copy must not delete the
    // folder it lies in: only the launcher's temp copy folder is removed.
    if (!IsTempCopyFolder(LongPathOf(ownFolder), LongPathOf(tempDirectory))) {
        WriteLog(L"own folder kept, not a temp copy: %s", ownFolder.c_str());
        return;
    }
    DeleteFolderRecursive(ownFolder.c_str());
    // The running executable (and the libraries it holds) cannot go now: the folder follows them
    // at the next reboot, after its files.
    if (FolderExists(ownFolder) && !::MoveFileExW(ownFolder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        WriteLog(L"schedule %s at reboot failed, error=%d", ownFolder.c_str(), static_cast<int>(::GetLastError()));
}

// Stand-in until CMainWnd exists: a silent run takes the windows' silent path without windows.
void RunMainWindow(IUninstallTask* task, bool silent) {
    if (!silent) {
        // The interactive windows are not part of this build yet.
        WriteLog(L"main window not available, nothing removed");
        return;
    }
    CSilentFlow flow(task);
    flow.Run();
}

// The toolkit's ResInitializer (fonts 1001-1013, the PNG images, the hand cursor) is called here
// once the layered toolkit is part of the build.
void InitializeUiResources() {}

void ReleaseUiResources() {}

std::wstring LogFilePath() {
    wchar_t temp[MAX_PATH];
    const DWORD n = ::GetTempPathW(MAX_PATH, temp);
    if (n == 0 || n >= MAX_PATH) return std::wstring();
    return std::wstring(temp) + kLogFileName;
}
