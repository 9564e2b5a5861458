// The upload manager's own hold on the network module: a second HttpInit of the same file,
// kept beside the start-up record and never used for a request.
#pragma once
#include "app/Singleton.h"
#include "report/HttpModule.h"

class CUpLoadMgr : public CSingletonT<CUpLoadMgr> {
public:
    CUpLoadMgr() = default;
    // 1 at once when already loaded; 0 for a null path, a missing file or one that fails the
    // publisher check; otherwise 1 when HttpInit, HttpUninit and its factory are all non-null.
    int Init(const wchar_t* path);
    bool IsLoaded() const { return m_bLoaded; }
    const HttpModule& Module() const { return m_module; }

private:
    _BaseModule::CCriticalSection m_lock;
    HttpModule m_module;
    bool m_bLoaded = false;
};
