// The product's kernel-driver services: unlock handshake, stop and delete.
#pragma once
#include <windows.h>
#include <winioctl.h>
#include <array>
#include <cstdint>
#include <string>

// Service Control Manager helpers: 0 on success, E_POINTER when the manager cannot be opened,
// E_FAIL otherwise.
HRESULT StopService(const std::wstring& name);
HRESULT DeleteServiceByName(const std::wstring& name);

class DriverService {
public:
    explicit DriverService(std::wstring name) : m_strServiceName(std::move(name)) {}
    // The driver's unlock handshake (skipped when its device does not open), then the stop.
    bool Stop() const;
    bool Delete() const;

private:
    std::wstring m_strServiceName;
};

// Stops and deletes the three protection drivers, logging each.
void RemoveDriverServices();
// Stops and deletes one more driver service without a log line of its own.
void RemoveServiceQuietly(const wchar_t* name);

constexpr wchar_t kLateDriverService[] = L"RodurevareruZE";

// The unlock handshake with a product driver: the uninstaller sends a random challenge through
// IOCTL_VORO_UNLOCK and proves itself by the response the driver expects.
constexpr DWORD IOCTL_VORO_UNLOCK = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x8A1, METHOD_BUFFERED, FILE_ANY_ACCESS);
using UnlockBlock = std::array<uint8_t, 16>;
UnlockBlock UnlockResponse(const UnlockBlock& challenge);
