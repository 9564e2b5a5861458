#include "report/UpLoadMgr.h"

int CUpLoadMgr::Init(const wchar_t* path) {
    _BaseModule::CAutoLocker lock(&m_lock);
    if (m_bLoaded) return 1;
    if (!path) return 0;
    HttpModule loaded;
    if (!LoadHttpModuleInto(path, loaded)) return 0;
    m_module = loaded;
    m_bLoaded = true;
    return 1;
}
