#include "report/HttpModule.h"
#include "app/Handles.h"
#include "app/Locks.h"
#include "app/SmartLogger.h"
#include "engine/SignatureCheck.h"

namespace {

template <typename Fn>
Fn Resolve(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

_BaseModule::CCriticalSection& ModuleLock() {
    static _BaseModule::CCriticalSection* lock = new _BaseModule::CCriticalSection();
    return *lock;
}

}  // namespace

HttpModule& GetHttpModule() {
    static HttpModule* record = new HttpModule();  // never freed: module threads may outlive main
    return *record;
}

IHttpTaskFactory* GetHttpTaskFactory() {
    _BaseModule::CAutoLocker lock(&ModuleLock());
    return GetHttpModule().factory;
}

HttpTaskHolder CreateServiceTask() {
    IHttpTaskFactory* factory = GetHttpTaskFactory();
    IHttpTask* task = factory ? factory->CreateTask() : nullptr;
    if (!task) return {};
    task->SetOption("ungzip", 0);
    task->SetOption("gzip", 0);
    return HoldHttpTask(task);
}

bool LoadHttpModuleInto(const wchar_t* path, HttpModule& record) {
    if (!path || !*path) return false;
    if (::GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) return false;
    if (!VerifyFileSignature(path)) {
        WriteLog(L"network module rejected: %s", path);
        return false;
    }
    voro::UniqueModule module(::LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    if (!module) {
        WriteLog(L"network module load failed: %s, err=%lu", path, ::GetLastError());
        return false;
    }
    HttpModule loaded;
    loaded.init = Resolve<HttpInitFn>(module.get(), "HttpInit");
    loaded.uninit = Resolve<HttpUninitFn>(module.get(), "HttpUninit");
    loaded.uncompress = Resolve<ZlibUncompressFn>(module.get(), "zlib_uncompress");
    loaded.compress = Resolve<ZlibCompressFn>(module.get(), "zlib_compress");
    loaded.compressBound = Resolve<ZlibCompressBoundFn>(module.get(), "zlib_compressBound");
    if (loaded.init) loaded.factory = loaded.init();
    const bool complete = loaded.init && loaded.uninit && loaded.factory;
    loaded.module = module.release();  // never unloaded: its threads may still run
    record = loaded;
    return complete;
}

bool LoadHttpModule(const std::wstring& folder) {
    _BaseModule::CAutoLocker lock(&ModuleLock());
    HttpModule& record = GetHttpModule();
    if (record.module) return record.factory != nullptr;
    std::wstring path = folder;
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path += L'\\';
    path += kHttpModuleFileName;
    if (path.size() >= MAX_PATH) return false;
    LoadHttpModuleInto(path.c_str(), record);
    return record.factory != nullptr;
}
