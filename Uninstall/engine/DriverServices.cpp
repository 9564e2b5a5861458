#include "engine/DriverServices.h"
#include "app/Handles.h"
#include "app/SmartLogger.h"
#include <objbase.h>
#include <cwchar>

namespace {

struct ServiceHandleTraits {
    using Type = SC_HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static bool Valid(Type h) noexcept { return h != nullptr; }
    static void Close(Type h) noexcept { ::CloseServiceHandle(h); }
};
using UniqueService = voro::UniqueHandle<ServiceHandleTraits>;

// Opens the manager and the service and runs one operation on it.
template <typename Operation>
HRESULT WithService(const std::wstring& name, Operation operation) {
    UniqueService manager(::OpenSCManagerW(nullptr, SERVICES_ACTIVE_DATABASEW, SC_MANAGER_ALL_ACCESS));
    if (!manager) return E_POINTER;
    UniqueService service(::OpenServiceW(manager.get(), name.c_str(), SERVICE_ALL_ACCESS));
    if (!service) return E_FAIL;
    return operation(service.get()) ? S_OK : E_FAIL;
}

// The key both sides of the handshake share; the response is the challenge mixed with it.
constexpr uint8_t kUnlockKey[16] = {0x5A, 0x13, 0xC7, 0x2E, 0x91, 0x6B, 0xF4, 0x08,
                                    0x3D, 0xA2, 0x77, 0xE9, 0x40, 0x1C, 0xB5, 0x66};

void UnlockDriver(const std::wstring& name) {
    wchar_t device[MAX_PATH];
    _snwprintf(device, MAX_PATH, L"\\\\.\\%s", name.c_str());
    device[MAX_PATH - 1] = 0;
    voro::UniqueFile handle(::CreateFileW(device, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!handle) return;
    UnlockBlock challenge{};
    GUID random;
    ::CoCreateGuid(&random);
    memcpy(challenge.data(), &random, challenge.size());
    UnlockBlock answer{};
    DWORD returned = 0;
    // Round one: the driver echoes its own nonce mixed into the challenge; round two: our proof.
    if (!::DeviceIoControl(handle.get(), IOCTL_VORO_UNLOCK, challenge.data(), static_cast<DWORD>(challenge.size()),
                           answer.data(), static_cast<DWORD>(answer.size()), &returned, nullptr))
        return;
    UnlockBlock proof = UnlockResponse(answer);
    ::DeviceIoControl(handle.get(), IOCTL_VORO_UNLOCK, proof.data(), static_cast<DWORD>(proof.size()), nullptr, 0,
                      &returned, nullptr);
}

}  // namespace

UnlockBlock UnlockResponse(const UnlockBlock& challenge) {
    UnlockBlock response{};
    uint8_t carry = 0x9E;
    for (size_t i = 0; i < challenge.size(); ++i) {
        uint8_t b = static_cast<uint8_t>(challenge[i] ^ kUnlockKey[i]);
        b = static_cast<uint8_t>((b << 3) | (b >> 5));  // rotate left by 3
        response[i] = static_cast<uint8_t>(b + carry);
        carry = response[i];
    }
    return response;
}

HRESULT StopService(const std::wstring& name) {
    return WithService(name, [](SC_HANDLE service) {
        SERVICE_STATUS status = {};
        return ::ControlService(service, SERVICE_CONTROL_STOP, &status) != FALSE;
    });
}

HRESULT DeleteServiceByName(const std::wstring& name) {
    return WithService(name, [](SC_HANDLE service) { return ::DeleteService(service) != FALSE; });
}

bool DriverService::Stop() const {
    UnlockDriver(m_strServiceName);
    return StopService(m_strServiceName) == S_OK;
}

bool DriverService::Delete() const { return DeleteServiceByName(m_strServiceName) == S_OK; }

void RemoveDriverServices() {
    for (const wchar_t* name : {L"CorvixLock", L"CorvixLockWp", L"VarorizaVuvorizIr"}) {
        DriverService service(name);
        service.Stop();
        if (!service.Delete()) WriteLog(L"delete %s fail", name);
        WriteLog(L"delete %s", name);
    }
}

void RemoveServiceQuietly(const wchar_t* name) {
    DriverService service(name);
    service.Stop();
    service.Delete();
}
