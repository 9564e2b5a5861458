#include "app/InstanceMutex.h"
#include "app/Messages.h"

CInstanceMutex::~CInstanceMutex() { ReleaseAll(); }

CInstanceMutex& CInstanceMutex::Global() {
    static CInstanceMutex instance;
    return instance;
}

int CInstanceMutex::CheckSingleInstance() {
    HANDLE mutex = ::CreateMutexW(nullptr, TRUE, kInstanceMutexName);
    if (!mutex) return 1;
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(mutex);
        if (HWND first = ::FindWindowW(kMainWindowClassName, nullptr))
            ::PostMessageW(first, UM_ACTIVATE_INSTANCE, 0, 0);
        return 0;
    }
    _BaseModule::CAutoLocker lock(&m_lock);
    m_handles.push_back(mutex);
    return 1;
}

void CInstanceMutex::ReleaseAll() {
    std::vector<HANDLE> handles;
    {
        _BaseModule::CAutoLocker lock(&m_lock);
        handles.swap(m_handles);
    }
    for (HANDLE h : handles) ::CloseHandle(h);
}
