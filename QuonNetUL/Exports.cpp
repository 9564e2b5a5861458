// Exports of QuonNetUL.dll. Each HttpInit call hands out a factory of its own; HttpUninit frees
// it. Tasks do not refer to their factory, so freeing it leaves running tasks undisturbed.
#include "HttpTask.h"
#include <new>

extern "C" __declspec(dllexport) IHttpTaskFactory* HttpInit() {
    return new (std::nothrow) quonnet::CHttpTaskFactory();
}

extern "C" __declspec(dllexport) void HttpUninit(IHttpTaskFactory* factory) {
    delete static_cast<quonnet::CHttpTaskFactory*>(factory);
}
