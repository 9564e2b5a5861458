// The run modes of Uninstall.exe that the entry function (Main.cpp) chooses between: the
// launcher, the working copy up to its main window, the keep mode and the tail.
#pragma once
#include "app/CommandParser.h"
#include "engine/UninstallTask.h"
#include <windows.h>
#include <functional>
#include <string>

// What the working and keep modes work with; the defaults are the process's own.
struct WorkingModeContext {
    HINSTANCE instance = nullptr;
    const CCommandParser* parser = nullptr;
    IUninstallTask* task = nullptr;
    std::wstring ownFolder;                        // folder of the running copy
    std::wstring tempDirectory;                    // where temp copy folders live
    std::function<void(DWORD ms)> wait;            // the pauses that let a last report leave
    std::function<void()> runMainWindow;           // the interactive (or silent) flow
};

constexpr int kSetupConfigResourceId = 209;
constexpr wchar_t kSetupConfigResourceType[] = L"SETUPCONFIG";
constexpr wchar_t kProjectFileName[] = L"tesk.tvnprj";
constexpr DWORD kInitFailWaitMs = 3000;
constexpr wchar_t kInitFailReportKey[] = L"{720260B5-154E-483f-A485-0B46C3D6C50D}";

// Launcher: statistics identity, the relaunch from a temp folder, or the reinstall offer.
void RunLauncherMode(const CCommandParser& parser);
// Working or keep mode (the command line has /READYUNINSTALL).
void RunWorkingMode(const WorkingModeContext& context);
// Removes the running copy's own folder; what cannot be deleted now is deleted at the next
// reboot. Only a temp copy folder (a "{GUID}.tmp" folder in the temp directory) is touched.
void RunTail(const std::wstring& ownFolder, const std::wstring& tempDirectory);

// The main window's flow: for now the windowless stand-in (silent runs only).
void RunMainWindow(IUninstallTask* task, bool silent);

// The resource registry of the layered toolkit (fonts, images, hand cursor): registered at
// start-up and released at shutdown. The toolkit is not part of this build yet, so both do
// nothing; they are the place where its ResInitializer is called.
void InitializeUiResources();
void ReleaseUiResources();

// temp directory + "tesk_uninst.log"; empty when the temp directory cannot be read.
std::wstring LogFilePath();

// The message shown for a PreInitCheck code (empty for an unknown code).
const wchar_t* PreInitCheckMessage(int code);
// "&{key}=PreInitCheck:%d" and "&{key}=InitConfigFaile" of the "unist_init_fail" report.
std::wstring PreInitCheckFailExtra(int code);
std::wstring InitConfigFailExtra();
