// Calls into the product's own programs and DLLs before its files are deleted, behind the
// signature gate, each one logged.
#pragma once
#include <windows.h>
#include <string>

constexpr DWORD kMaxConfiguredWait = 50000;  // ms, a configured executable
constexpr DWORD kRunListWait = 60000;         // ms, a run_list executable
constexpr DWORD kGameCenterWait = 3000;       // ms
constexpr DWORD kGuardHelperWait = 5000;      // ms

// Starts a program through the shell; true when it started. With exitCode it also reports the exit
// code (STILL_ACTIVE when the wait ran out) and false when the start failed.
bool RunProgram(const wchar_t* path, const wchar_t* parameters, int showCommand, bool checkSignature, bool wait,
                DWORD* exitCode = nullptr, DWORD waitMs = INFINITE);
void CallExe(const wchar_t* path, const wchar_t* commandLine, bool checkSignature, bool wait, DWORD waitMs);
void CallDllExport(const wchar_t* path, const char* exportName, const wchar_t* argument, bool checkSignature);
std::wstring CallDllInterfaceEx(const wchar_t* path, const char* exportName, const wchar_t* parameter,
                                bool checkSignature);

// The values of App Paths\vorowp.exe\run_list and \file_pe.
void RunListPrograms(const std::wstring& installFolder);
void CallFilePePrograms(const std::wstring& installFolder);
// The guard helper's desk-lock release.
void RunGuardHelper(const std::wstring& installFolder);
// The game-center helper: its DLL's Start4RunDll, or its executable.
void RunGameCenterHelper(const std::wstring& installFolder, bool uninstallGameCenter);
// The Uninst export of the wallpaper helper library.
void CallHelperLibraryUninst(const std::wstring& installFolder);

// Wait of a configured executable: 0 and anything above the limit become the limit.
DWORD ConfiguredWait(DWORD waitMs);
// Wait of a rundll item: 0 does not wait; anything above the limit becomes the limit (a negative
// WaitTime would otherwise block the worker for good).
DWORD RundllWait(DWORD waitMs);

// Seam for tests: sees every start RunProgram is about to make (after the signature check), with
// the wait it will use. Null (the default) observes nothing.
struct ProgramStart {
    const wchar_t* path;
    const wchar_t* parameters;
    bool wait;
    DWORD waitMs;
};
using ProgramStartObserver = void (*)(const ProgramStart& start);
void SetProgramStartObserver(ProgramStartObserver observer);
// The game-center helper's parameters.
std::wstring GameCenterParameters(bool uninstallGameCenter);
