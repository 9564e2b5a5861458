// Single-instance guard shared by the launcher, its temp copy and the product's installer.
#pragma once
#include "app/Locks.h"
#include <windows.h>
#include <vector>

constexpr wchar_t kInstanceMutexName[] = L"VoroWallPaperInstaller";
constexpr wchar_t kMainWindowClassName[] = L"VoroWallPaperSetupMainWnd";

class CInstanceMutex {
public:
    CInstanceMutex() = default;
    virtual ~CInstanceMutex();
    CInstanceMutex(const CInstanceMutex&) = delete;
    CInstanceMutex& operator=(const CInstanceMutex&) = delete;

    // 1: this process may continue (it now holds the guard, or the guard could not be created).
    // 0: another instance holds it; its main window, if any, was asked to come forward.
    int CheckSingleInstance();
    void ReleaseAll();

    static CInstanceMutex& Global();

private:
    _BaseModule::CCriticalSection m_lock;
    std::vector<HANDLE> m_handles;
};
