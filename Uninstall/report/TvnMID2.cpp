#include "report/TvnMID2.h"
#include "report/HardwareCollectors.h"
#include "report/MachineId.h"
#include <new>

const IID IID_INewMID = {0x88D6FFD4, 0x88B6, 0x4943, {0xAF, 0x29, 0xC5, 0xCA, 0x67, 0xBA, 0xFC, 0xD1}};

namespace mid {

std::string ProcessMid2() {
    static const std::string value = [] {
        CMid2HardwareCollector collector;
        Mid2Context context;
        context.elevated = IsProcessElevated();
        context.collector = &collector;
        return ComputeMid2(context);
    }();
    return value;
}

}  // namespace mid

HRESULT CTvnMID2::QueryInterface(REFIID iid, void** object) {
    if (!object) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_INewMID)) {
        *object = static_cast<INewMID*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT CTvnMID2::GetMid2(wchar_t* buffer, size_t capacity) {
    if (!buffer || capacity == 0) return E_INVALIDARG;
    {
        _BaseModule::CAutoLocker lock(&m_lock);
        if (!m_bComputed) {
            std::string value = mid::ProcessMid2();
            if (value.empty() || value.size() >= 50) return E_FAIL;
            for (size_t i = 0; i <= value.size(); ++i) m_szMid2[i] = static_cast<unsigned char>(value.c_str()[i]);
            m_bComputed = true;
        }
    }
    lstrcpynW(buffer, m_szMid2, static_cast<int>(capacity < 50 ? capacity : 50));
    return S_OK;
}

namespace {

CTvnMID2* Mid2Object() {
    // 0: not created, 1: being created, 2: ready. The object lives in static storage and is never
    // destroyed, so a late caller during process exit still finds it.
    static volatile LONG state = 0;
    alignas(CTvnMID2) static unsigned char storage[sizeof(CTvnMID2)];
    if (::InterlockedCompareExchange(&state, 1, 0) == 0) {
        new (storage) CTvnMID2();
        ::InterlockedExchange(&state, 2);
    } else {
        while (::InterlockedCompareExchange(&state, 2, 2) != 2) ::Sleep(1);
    }
    return reinterpret_cast<CTvnMID2*>(storage);
}

}  // namespace

bool GetMid(wchar_t* buffer, size_t capacity) {
    if (!buffer || capacity == 0) return false;
    char text[260] = {};
    mid::CMidHardwareCollector collector;
    std::string value = mid::ComputeMid(collector);
    lstrcpynA(text, value.c_str(), sizeof(text));
    wchar_t wide[260] = {};
    if (!::MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, wide, 260)) wide[0] = 0;
    lstrcpynW(buffer, wide, static_cast<int>(capacity > 260 ? 260 : capacity));
    return true;
}

HRESULT GetMid2(wchar_t* buffer, size_t capacity) {
    if (!buffer || capacity < 50) return E_INVALIDARG;
    INewMID* object = Mid2Object();
    return object->GetMid2(buffer, capacity);
}

std::wstring GetMid() {
    wchar_t buffer[260] = {};
    return GetMid(buffer, 260) ? std::wstring(buffer) : std::wstring();
}

std::wstring GetMid2() {
    wchar_t buffer[64] = {};
    return SUCCEEDED(GetMid2(buffer, 64)) ? std::wstring(buffer) : std::wstring();
}
