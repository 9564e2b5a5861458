#include "report/HardwareCollectors.h"
#include "app/Handles.h"
#include "app/InstallFacts.h"
#include "app/Registry.h"
#include <winioctl.h>
#include <ntddscsi.h>
#include <iphlpapi.h>
#include <nb30.h>
#include <cpuid.h>
#include <cstring>
#include <map>
#include <vector>

namespace mid {

namespace {

// Control codes as the published headers define them.
constexpr DWORD kSmartGetVersion = 0x74080;
constexpr DWORD kSmartRcvDriveData = 0x7C088;
constexpr DWORD kScsiMiniport = 0x4D008;
constexpr DWORD kScsiMiniportIdentify = 0x1B0501;
constexpr DWORD kStorageQueryProperty = 0x2D1400;
constexpr DWORD kNdisQueryGlobalStats = 0x170002;
constexpr DWORD kOidPermanentAddress = 0x01010101;
constexpr DWORD kOidPhysicalMedium = 0x00010202;
constexpr DWORD kOidPhysicalMediumEx = 0x00010213;
constexpr BYTE kAtaIdentify = 0xEC;
constexpr BYTE kAtapiIdentify = 0xA1;
constexpr int kMaxDrives = 16;
constexpr size_t kIdentifySize = 512;

constexpr wchar_t kNetworkCardsKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\NetworkCards";
constexpr wchar_t kNetClassKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}";

std::string Ansi(const std::wstring& text) {
    if (text.empty()) return std::string();
    int size = ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                     nullptr);
    if (size <= 0) return std::string();
    std::string result(size, '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), &result[0], size, nullptr, nullptr);
    return result;
}

std::wstring DrivePath(int number) { return L"\\\\.\\PhysicalDrive" + std::to_wstring(number); }

voro::UniqueFile OpenDevice(const std::wstring& path, DWORD access) {
    return voro::UniqueFile(::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
}

std::vector<std::wstring> SubKeyNames(const std::wstring& path, size_t limit) {
    std::vector<std::wstring> names;
    voro::UniqueHKey key = voro::reg::Open(HKEY_LOCAL_MACHINE, path, KEY_ENUMERATE_SUB_KEYS);
    if (!key) return names;
    for (DWORD index = 0; names.size() < limit; ++index) {
        wchar_t name[256];
        DWORD length = 256;
        LONG r = ::RegEnumKeyExW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r == ERROR_SUCCESS) names.emplace_back(name, length);
    }
    return names;
}

// ---- CPUID --------------------------------------------------------------------------------

struct CpuInfo {
    bool available = false;
    std::string vendor;
    uint32_t maxLeaf = 0, signature = 0, features = 0;
    std::string brand;
};

CpuInfo ReadCpu() {
    CpuInfo info;
    unsigned int maxLeaf = __get_cpuid_max(0, nullptr);  // 0 when the processor has no CPUID
    unsigned int a = 0, b = 0, c = 0, d = 0;
    if (maxLeaf == 0 && !__get_cpuid(0, &a, &b, &c, &d)) return info;
    __cpuid(0, a, b, c, d);
    info.available = true;
    info.maxLeaf = a;
    char vendor[13] = {};
    std::memcpy(vendor, &b, 4);
    std::memcpy(vendor + 4, &d, 4);
    std::memcpy(vendor + 8, &c, 4);
    info.vendor = vendor;
    if (info.maxLeaf >= 1) {
        __cpuid(1, a, b, c, d);
        info.signature = a;
        info.features = d;
    }
    __cpuid(0x80000000u, a, b, c, d);
    if (a >= 0x80000004u) {
        char brand[49] = {};
        for (unsigned int leaf = 0; leaf < 3; ++leaf) {
            __cpuid(0x80000002u + leaf, a, b, c, d);
            std::memcpy(brand + leaf * 16, &a, 4);
            std::memcpy(brand + leaf * 16 + 4, &b, 4);
            std::memcpy(brand + leaf * 16 + 8, &c, 4);
            std::memcpy(brand + leaf * 16 + 12, &d, 4);
        }
        info.brand = brand;
    }
    return info;
}

// ---- ATA identify -------------------------------------------------------------------------

// SMART_RCV_DRIVE_DATA with an identify command; the 512 identify bytes on success.
bool SmartIdentify(HANDLE device, int drive, BYTE command, std::vector<uint8_t>& identify) {
    SENDCMDINPARAMS in = {};
    in.cBufferSize = kIdentifySize;
    in.irDriveRegs.bSectorCountReg = 1;
    in.irDriveRegs.bSectorNumberReg = 1;
    in.irDriveRegs.bDriveHeadReg = (drive & 1) ? 0xB0 : 0xA0;
    in.irDriveRegs.bCommandReg = command;
    in.bDriveNumber = static_cast<BYTE>(drive);
    std::vector<uint8_t> out(sizeof(SENDCMDOUTPARAMS) - 1 + kIdentifySize);
    DWORD returned = 0;
    if (!::DeviceIoControl(device, kSmartRcvDriveData, &in, sizeof(in) - 1, out.data(), static_cast<DWORD>(out.size()),
                           &returned, nullptr))
        return false;
    const size_t offset = offsetof(SENDCMDOUTPARAMS, bBuffer);
    identify.assign(out.begin() + offset, out.begin() + offset + kIdentifySize);
    return true;
}

std::string IdentifySerial(const std::vector<uint8_t>& identify) {
    return TrimTrailingBlanks(AtaString(identify.data(), identify.size(), 10, 19));
}

std::string SmartSerial(int drive, bool askVersionFirst) {
    voro::UniqueFile device = OpenDevice(DrivePath(drive), GENERIC_READ | GENERIC_WRITE);
    if (!device) return std::string();
    BYTE command = kAtaIdentify;
    if (askVersionFirst) {
        GETVERSIONINPARAMS version = {};
        DWORD returned = 0;
        if (!::DeviceIoControl(device.get(), kSmartGetVersion, nullptr, 0, &version, sizeof(version), &returned,
                               nullptr) ||
            version.bIDEDeviceMap == 0)
            return std::string();
        if ((version.bIDEDeviceMap >> (drive + 4)) & 1) command = kAtapiIdentify;
    }
    std::vector<uint8_t> identify;
    return SmartIdentify(device.get(), drive, command, identify) ? IdentifySerial(identify) : std::string();
}

std::string MiniportSerial(int port, int drive) {
    voro::UniqueFile device = OpenDevice(L"\\\\.\\Scsi" + std::to_wstring(port) + L":", GENERIC_READ | GENERIC_WRITE);
    if (!device) return std::string();
    const size_t outSize = sizeof(SENDCMDOUTPARAMS) - 1 + kIdentifySize;
    std::vector<uint8_t> buffer(sizeof(SRB_IO_CONTROL) + outSize);
    auto* control = reinterpret_cast<SRB_IO_CONTROL*>(buffer.data());
    control->HeaderLength = sizeof(SRB_IO_CONTROL);
    std::memcpy(control->Signature, "SCSIDISK", 8);
    control->Timeout = 10;
    control->ControlCode = kScsiMiniportIdentify;
    control->Length = static_cast<ULONG>(outSize);
    auto* in = reinterpret_cast<SENDCMDINPARAMS*>(buffer.data() + sizeof(SRB_IO_CONTROL));
    in->cBufferSize = kIdentifySize;
    in->irDriveRegs.bCommandReg = kAtaIdentify;
    in->bDriveNumber = static_cast<BYTE>(drive);
    DWORD returned = 0;
    if (!::DeviceIoControl(device.get(), kScsiMiniport, buffer.data(),
                           static_cast<DWORD>(sizeof(SRB_IO_CONTROL) + sizeof(SENDCMDINPARAMS) - 1), buffer.data(),
                           static_cast<DWORD>(buffer.size()), &returned, nullptr))
        return std::string();
    const size_t offset = sizeof(SRB_IO_CONTROL) + offsetof(SENDCMDOUTPARAMS, bBuffer);
    std::vector<uint8_t> identify(buffer.begin() + offset, buffer.begin() + offset + kIdentifySize);
    return IdentifySerial(identify);
}

// The storage device descriptor, cut to the bytes the driver returned.
bool QueryDescriptor(HANDLE device, StorageDescriptorInfo& info) {
    STORAGE_PROPERTY_QUERY query = {};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    std::vector<uint8_t> out(4096);
    DWORD returned = 0;
    if (!::DeviceIoControl(device, kStorageQueryProperty, &query, sizeof(query), out.data(),
                           static_cast<DWORD>(out.size()), &returned, nullptr))
        return false;
    size_t size = returned;
    if (size >= 8) {
        DWORD declared = 0;
        std::memcpy(&declared, out.data() + 4, sizeof(declared));
        if (declared < size) size = declared;
    }
    return ParseStorageDescriptor(out.data(), size, info);
}

std::string DescriptorSerialForMid(int drive) {
    voro::UniqueFile device = OpenDevice(DrivePath(drive), 0);
    StorageDescriptorInfo info;
    if (!device || !QueryDescriptor(device.get(), info)) return std::string();
    return MidDescriptorSerial(info.serial);
}

// ---- network --------------------------------------------------------------------------------

bool QueryOid(HANDLE device, DWORD oid, void* out, DWORD size, DWORD& returned) {
    returned = 0;
    return ::DeviceIoControl(device, kNdisQueryGlobalStats, &oid, sizeof(oid), out, size, &returned, nullptr) != 0;
}

bool QueryDword(HANDLE device, DWORD oid, uint32_t& value) {
    DWORD data = 0, returned = 0;
    if (!QueryOid(device, oid, &data, sizeof(data), returned) || returned < sizeof(data)) return false;
    value = data;
    return true;
}

std::string QueryPermanentAddress(HANDLE device) {
    uint8_t address[32] = {};
    DWORD returned = 0;
    if (!QueryOid(device, kOidPermanentAddress, address, sizeof(address), returned) || returned < 6)
        return std::string();
    return FormatMac(address);
}

std::vector<std::wstring> NetworkServiceNames(size_t limit) {
    std::vector<std::wstring> services;
    for (const std::wstring& card : SubKeyNames(kNetworkCardsKey, limit)) {
        std::wstring service;
        if (voro::reg::ReadString(HKEY_LOCAL_MACHINE, std::wstring(kNetworkCardsKey) + L"\\" + card, L"ServiceName",
                                  service) &&
            !service.empty())
            services.push_back(service);
    }
    return services;
}

std::wstring Upper(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(::towupper(c));
    return text;
}

struct NetClassTable {
    bool possible = false;
    std::map<std::wstring, AdapterClassInfo> byInstanceId;  // upper-case ids

    AdapterClassInfo Lookup(const std::wstring& id) const {
        auto it = byInstanceId.find(Upper(id));
        if (it != byInstanceId.end()) return it->second;
        AdapterClassInfo info;
        info.lookupPossible = possible;
        return info;
    }
};

NetClassTable LoadNetClassTable() {
    NetClassTable table;
    table.possible = voro::reg::KeyExists(HKEY_LOCAL_MACHINE, kNetClassKey);
    if (!table.possible) return table;
    for (const std::wstring& name : SubKeyNames(kNetClassKey, 256)) {
        std::wstring path = std::wstring(kNetClassKey) + L"\\" + name, id, text;
        if (!voro::reg::ReadString(HKEY_LOCAL_MACHINE, path, L"NetCfgInstanceId", id) || id.empty()) continue;
        AdapterClassInfo info;
        info.lookupPossible = true;
        info.found = true;
        DWORD number = 0;
        if (voro::reg::ReadString(HKEY_LOCAL_MACHINE, path, L"BusType", text)) {
            info.hasBusType = !text.empty();
            info.busType = static_cast<uint32_t>(::wcstoul(text.c_str(), nullptr, 10));
        } else if (voro::reg::ReadDword(HKEY_LOCAL_MACHINE, path, L"BusType", number)) {
            info.hasBusType = true;
            info.busType = number;
        }
        if (voro::reg::ReadString(HKEY_LOCAL_MACHINE, path, L"DriverDesc", text)) info.driverDesc = Ansi(text);
        if (voro::reg::ReadString(HKEY_LOCAL_MACHINE, path + L"\\Ndi\\Interfaces", L"LowerRange", text))
            info.lowerRange = Ansi(text);
        table.byInstanceId[Upper(id)] = info;
    }
    return table;
}

std::string AdaptersInfoAddress(const NetClassTable& table) {
    ULONG size = 0;
    if (::GetAdaptersInfo(nullptr, &size) != ERROR_BUFFER_OVERFLOW || size == 0) return std::string();
    std::vector<uint8_t> buffer(size);
    auto* adapters = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
    if (::GetAdaptersInfo(adapters, &size) != ERROR_SUCCESS) return std::string();
    std::vector<AdapterAddress> list;
    for (const IP_ADAPTER_INFO* adapter = adapters; adapter; adapter = adapter->Next) {
        if (adapter->AddressLength != 6) continue;
        std::string name(adapter->AdapterName);
        AdapterClassInfo info = table.Lookup(std::wstring(name.begin(), name.end()));
        if (!info.found || !info.hasBusType || info.busType != 5) continue;
        list.push_back({FormatMac(adapter->Address), IsWirelessDescription(adapter->Description)});
    }
    return ChooseAddress(list);
}

std::string NetbiosAddress() {
    voro::UniqueModule netapi(::LoadLibraryW(L"Netapi32.dll"));
    if (!netapi) return std::string();
    using NetbiosFn = UCHAR(APIENTRY*)(PNCB);
    auto netbios = reinterpret_cast<NetbiosFn>(reinterpret_cast<void*>(::GetProcAddress(netapi.get(), "Netbios")));
    if (!netbios) return std::string();
    LANA_ENUM lanas = {};
    NCB ncb = {};
    ncb.ncb_command = NCBENUM;
    ncb.ncb_buffer = reinterpret_cast<PUCHAR>(&lanas);
    ncb.ncb_length = sizeof(lanas);
    if (netbios(&ncb) != NRC_GOODRET || lanas.length == 0) return std::string();
    const UCHAR lana = lanas.lana[0];
    ncb = NCB();
    ncb.ncb_command = NCBRESET;
    ncb.ncb_lana_num = lana;
    if (netbios(&ncb) != NRC_GOODRET) return std::string();
    struct {
        ADAPTER_STATUS status;
        NAME_BUFFER names[30];
    } answer = {};
    ncb = NCB();
    ncb.ncb_command = NCBASTAT;
    ncb.ncb_lana_num = lana;
    std::memset(ncb.ncb_callname, ' ', NCBNAMSZ);
    ncb.ncb_callname[0] = '*';
    ncb.ncb_buffer = reinterpret_cast<PUCHAR>(&answer);
    ncb.ncb_length = sizeof(answer);
    if (netbios(&ncb) != NRC_GOODRET) return std::string();
    return FormatMac(answer.status.adapter_address);
}

bool Windows7OrEarlier() {
    WindowsVersion version;
    if (!GetWindowsVersion(version)) return false;
    return version.major < 6 || (version.major == 6 && version.minor <= 1);
}

}  // namespace

std::string QueryMidProcessorText() {
    static const std::string text = [] {
        CpuInfo cpu = ReadCpu();
        return cpu.available ? MidProcessorText(cpu.vendor, cpu.features) : std::string();
    }();
    return text;
}

std::string QueryMid2ProcessorText() {
    static const std::string text = [] {
        CpuInfo cpu = ReadCpu();
        return cpu.available ? Mid2ProcessorText(cpu.vendor, cpu.signature, cpu.brand) : std::string();
    }();
    return text;
}

std::string QueryMidDiskSerial() {
    std::string serial;
    for (int drive = 0; drive < kMaxDrives && serial.empty(); ++drive) serial = SmartSerial(drive, true);
    for (int port = 0; port < kMaxDrives && serial.empty(); ++port)
        for (int drive = 0; drive < 2 && serial.empty(); ++drive) serial = MiniportSerial(port, drive);
    for (int drive = 0; drive < kMaxDrives && serial.empty(); ++drive) serial = DescriptorSerialForMid(drive);
    for (int drive = 0; drive < kMaxDrives && serial.empty(); ++drive) serial = SmartSerial(drive, false);
    return TrimTrailingBlanks(serial);
}

std::string QueryMidNetworkAddress() {
    std::vector<AdapterAddress> list;
    for (const std::wstring& service : NetworkServiceNames(1000)) {
        voro::UniqueFile device = OpenDevice(L"\\\\.\\" + service, 0);
        if (!device) continue;
        std::string address = QueryPermanentAddress(device.get());
        if (!address.empty()) list.push_back({address, false});
    }
    std::string address = ChooseAddress(list);
    return address.empty() ? NetbiosAddress() : address;
}

std::string QueryMid2DiskSerial() {
    const bool oldWindows = Windows7OrEarlier();
    for (int drive = 0; drive < kMaxDrives; ++drive) {
        voro::UniqueFile device = OpenDevice(DrivePath(drive), 0);
        StorageDescriptorInfo info;
        if (!device || !QueryDescriptor(device.get(), info) || IsSkippedDrive(info)) continue;
        // The first accepted drive decides: its identify data when SMART answers, else its descriptor.
        GETVERSIONINPARAMS version = {};
        DWORD returned = 0;
        std::vector<uint8_t> identify;
        if (::DeviceIoControl(device.get(), kSmartGetVersion, nullptr, 0, &version, sizeof(version), &returned,
                              nullptr) &&
            SmartIdentify(device.get(), drive, kAtaIdentify, identify)) {
            std::string text = IdentifyDiskComponent(identify.data(), identify.size());
            if (!text.empty()) return text;
        }
        return DescriptorDiskComponent(info, oldWindows);
    }
    return std::string();
}

std::string QueryMid2NetworkAddress() {
    const NetClassTable table = LoadNetClassTable();
    std::vector<AdapterAddress> list;
    for (const std::wstring& service : NetworkServiceNames(100)) {
        AdapterClassInfo info = table.Lookup(service);
        if (!AdapterCounts(info)) continue;
        voro::UniqueFile device = OpenDevice(L"\\\\.\\" + service, GENERIC_READ);
        if (!device) continue;
        uint32_t mediumEx = 0, medium = 0;
        bool exOk = QueryDword(device.get(), kOidPhysicalMediumEx, mediumEx);
        bool mediumOk = (!exOk || mediumEx == 0) && QueryDword(device.get(), kOidPhysicalMedium, medium);
        AdapterKind kind = ClassifyAdapter(IsWirelessByClass(info), exOk, mediumEx, mediumOk, medium);
        if (kind == AdapterKind::Excluded) continue;
        std::string address = QueryPermanentAddress(device.get());
        if (!address.empty()) list.push_back({address, kind == AdapterKind::Wireless});
    }
    std::string address = ChooseAddress(list);
    return address.empty() ? AdaptersInfoAddress(table) : address;
}

}  // namespace mid
