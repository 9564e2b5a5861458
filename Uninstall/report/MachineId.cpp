#include "report/MachineId.h"
#include "app/Handles.h"
#include "app/InstallFacts.h"
#include "app/Registry.h"
#include "report/Digests.h"
#include "report/Md5.h"
#include <objbase.h>
#include <algorithm>
#include <cstring>

namespace mid {

namespace {

constexpr char kMidCacheKey[] = "Software\\QuonSafe\\Liveup";
constexpr wchar_t kMid2CacheKey[] = L"SOFTWARE\\Halvane";
constexpr char kHexDigits[] = "0123456789abcdef";

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool ContainsNoCase(const std::string& text, const char* part) {
    std::string haystack(text), needle(part);
    std::transform(haystack.begin(), haystack.end(), haystack.begin(), Lower);
    std::transform(needle.begin(), needle.end(), needle.begin(), Lower);
    return haystack.find(needle) != std::string::npos;
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    size_t length = std::strlen(prefix);
    return text.size() >= length && EqualsNoCase(text.substr(0, length), prefix);
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Decodes a text made only of hex digit pairs; false for anything else.
bool DecodeHexPairs(const std::string& text, std::string& bytes) {
    if (text.empty() || text.size() % 2 != 0) return false;
    std::string decoded;
    for (size_t i = 0; i < text.size(); i += 2) {
        int high = HexValue(text[i]), low = HexValue(text[i + 1]);
        if (high < 0 || low < 0) return false;
        decoded += char(high * 16 + low);
    }
    bytes = decoded;
    return true;
}

std::string CutAtZero(std::string text) {
    size_t zero = text.find('\0');
    if (zero != std::string::npos) text.resize(zero);
    return text;
}

void SwapPairs(std::string& text) {
    for (size_t i = 0; i + 1 < text.size(); i += 2) std::swap(text[i], text[i + 1]);
}

// A zero-terminated text at `offset` inside the descriptor; offset 0 means the text is absent.
bool DescriptorText(const uint8_t* data, size_t size, uint32_t offset, std::string& text) {
    text.clear();
    if (offset == 0) return true;
    if (offset >= size) return false;
    const char* begin = reinterpret_cast<const char*>(data + offset);
    const char* end = static_cast<const char*>(std::memchr(begin, 0, size - offset));
    text.assign(begin, end ? end : reinterpret_cast<const char*>(data + size));
    return true;
}

uint32_t ReadU32(const uint8_t* data) {
    return uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 | uint32_t(data[3]) << 24;
}

std::string Narrow(const std::wstring& text, bool& ascii) {
    std::string result;
    ascii = true;
    for (wchar_t c : text) {
        if (c > 0x7F) ascii = false;
        result += c > 0x7F ? '?' : char(c);
    }
    return result;
}

}  // namespace

// ---- text helpers -----------------------------------------------------------------------

std::string TrimBlanks(const std::string& text) {
    size_t begin = text.find_first_not_of(' ');
    if (begin == std::string::npos) return std::string();
    size_t end = text.find_last_not_of(' ');
    return text.substr(begin, end - begin + 1);
}

std::string TrimTrailingBlanks(const std::string& text) {
    size_t end = text.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(b[i])) return false;
    return true;
}

std::string HexByte(uint8_t value) { return {kHexDigits[value >> 4], kHexDigits[value & 15]}; }

std::string FormatMac(const uint8_t address[6]) {
    char text[16];
    wsprintfA(text, "%02X%02X%02X%02X%02X%02X", address[0], address[1], address[2], address[3], address[4],
              address[5]);
    return text;
}

// ---- processor text -----------------------------------------------------------------------

std::string FixCpuVendor(const std::string& vendor) { return vendor == "GenuineIotel" ? "GenuineIntel" : vendor; }

std::string MidProcessorText(const std::string& vendor, uint32_t featuresEdx) {
    char suffix[16];
    wsprintfA(suffix, ":%08x", featuresEdx);
    return FixCpuVendor(vendor) + suffix;
}

std::string Mid2ProcessorText(const std::string& vendor, uint32_t signature, const std::string& brand) {
    char number[16];
    wsprintfA(number, "%x", signature);
    std::string text = TrimBlanks(FixCpuVendor(vendor)) + "," + number + "," + TrimBlanks(brand);
    if (text.size() > 127) text.resize(127);
    return text;
}

// ---- disk serial texts --------------------------------------------------------------------

std::string AtaString(const uint8_t* identify, size_t size, int firstWord, int lastWord) {
    std::string text;
    for (int word = firstWord; word <= lastWord && size_t(word) * 2 + 1 < size; ++word) {
        text += char(identify[word * 2 + 1]);
        text += char(identify[word * 2]);
    }
    return CutAtZero(text);
}

std::string MidDescriptorSerial(const std::string& serial) {
    std::string text;
    if (!DecodeHexPairs(serial, text)) {
        for (char c : serial)
            if (c >= 0x20 && c <= 0x7E) text += c;
    }
    text = CutAtZero(text);
    SwapPairs(text);
    return TrimTrailingBlanks(text);
}

std::string PrepareStorageSerial(const std::string& serial, bool windows7OrEarlier) {
    if (serial.size() < 4 || serial.size() > 40) return std::string();
    std::string text = serial;
    std::string decoded;
    if (serial.size() == 40 && DecodeHexPairs(serial, decoded)) text = CutAtZero(decoded);
    if (windows7OrEarlier && text.size() % 2 == 0) {
        // These systems return the ATA serial with its bytes still swapped and blank-padded in front.
        size_t blanks = text.find_first_not_of(' ');
        if (blanks == std::string::npos) blanks = text.size();
        text = text.substr(blanks) + std::string(blanks, ' ');
        SwapPairs(text);
    }
    return TrimBlanks(text);
}

bool ParseStorageDescriptor(const uint8_t* data, size_t size, StorageDescriptorInfo& info) {
    info = StorageDescriptorInfo();
    constexpr size_t kHeader = 32;  // up to and including BusType
    if (!data || size < kHeader) return false;
    info.removable = data[10] != 0;
    info.busType = ReadU32(data + 28);
    return DescriptorText(data, size, ReadU32(data + 12), info.vendor) &&
           DescriptorText(data, size, ReadU32(data + 16), info.product) &&
           DescriptorText(data, size, ReadU32(data + 24), info.serial);
}

bool IsSkippedDrive(const StorageDescriptorInfo& info) {
    if (info.removable) return true;
    switch (info.busType) {
        case 1:   // SCSI
        case 4:   // 1394
        case 7:   // USB
        case 10:  // SAS
        case 14:  // virtual
        case 15:  // file-backed virtual
            return true;
        default:
            return false;
    }
}

std::string DescriptorDiskComponent(const StorageDescriptorInfo& info, bool windows7OrEarlier) {
    std::string text = PrepareStorageSerial(info.serial, windows7OrEarlier);
    if (!text.empty()) text += TrimBlanks(info.vendor + info.product);
    return text;
}

std::string IdentifyDiskComponent(const uint8_t* identify, size_t size) {
    return TrimBlanks(AtaString(identify, size, 10, 19)) + TrimBlanks(AtaString(identify, size, 27, 46));
}

// ---- network adapters ---------------------------------------------------------------------

bool AdapterCounts(const AdapterClassInfo& info) {
    if (!info.lookupPossible) return true;
    return info.found && info.hasBusType && info.busType == 5;
}

bool IsWirelessByClass(const AdapterClassInfo& info) {
    return ContainsNoCase(info.driverDesc, "Wireless") || ContainsNoCase(info.lowerRange, "wlan") ||
           ContainsNoCase(info.lowerRange, "vwifi");
}

AdapterKind ClassifyAdapter(bool wirelessByClass, bool exOk, uint32_t mediumEx, bool mediumOk, uint32_t medium) {
    const AdapterKind byClass = wirelessByClass ? AdapterKind::Wireless : AdapterKind::Wired;
    if (exOk && mediumEx != 0) {
        if (mediumEx == 1 || mediumEx == 9) return AdapterKind::Wireless;  // wireless LAN, native 802.11
        if (mediumEx == 14) return byClass;                                // 802.3
        return AdapterKind::Excluded;
    }
    if (!mediumOk) return byClass;
    switch (medium) {
        case 2: case 3: case 7: case 8: case 10: case 12: case 16: case 17: case 18:
            return AdapterKind::Excluded;
        case 1: case 9:
            return AdapterKind::Wireless;
        default:
            return AdapterKind::Wired;
    }
}

std::string ChooseAddress(const std::vector<AdapterAddress>& adapters) {
    std::string wired, wireless;
    for (const AdapterAddress& adapter : adapters) {
        if (adapter.address.empty()) continue;
        std::string& best = adapter.wireless ? wireless : wired;
        if (best.empty() || adapter.address < best) best = adapter.address;
    }
    return wired.empty() ? wireless : wired;
}

bool IsWirelessDescription(const std::string& description) {
    return ContainsNoCase(description, "wifi") || ContainsNoCase(description, "wireless");
}

// ---- mid ------------------------------------------------------------------------------------

std::string MidHardwareText(const std::string& processor, const std::string& disk, const std::string& address) {
    std::string text = processor + TrimTrailingBlanks(disk) + address;
    return text.empty() ? std::string(kMidFailedText) : text;
}

std::string MidCacheText(const std::string& mid) { return mid + MD5x2(mid); }

bool MidFromCache(const std::string& cache, std::string& mid) {
    if (cache.size() != 64) return false;
    std::string first = cache.substr(0, 32);
    if (!EqualsNoCase(MD5x2(first), cache.substr(32))) return false;
    mid = first;
    return true;
}

bool ReadMidCacheValue(const char* name, size_t maxBytes, std::string& value) {
    value.clear();
    HKEY raw = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMidCacheKey, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &raw) !=
        ERROR_SUCCESS)
        return false;
    voro::UniqueHKey key(raw);
    std::string buffer(maxBytes, '\0');
    DWORD type = 0, size = static_cast<DWORD>(maxBytes);
    if (::RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&buffer[0]), &size) !=
            ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || size > maxBytes)
        return false;
    buffer.resize(size);
    value = CutAtZero(buffer);
    return true;
}

bool WriteMidCacheValue(const char* name, const std::string& value) {
    HKEY raw = nullptr;
    if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, kMidCacheKey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr,
                          &raw, nullptr) != ERROR_SUCCESS)
        return false;
    voro::UniqueHKey key(raw);
    // Other programs of the maker write the text without its terminator; so do we.
    return ::RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.data()),
                            static_cast<DWORD>(value.size())) == ERROR_SUCCESS;
}

std::string ComputeMid(IMidCollector& collector) {
    std::string cache, mid;
    if (ReadMidCacheValue("mid", 1024, cache) && MidFromCache(cache, mid)) return mid;
    std::string processor = collector.ProcessorText();
    std::string disk = collector.DiskSerial();
    std::string address = collector.NetworkAddress();
    bool nothingFound = processor.empty() && TrimTrailingBlanks(disk).empty() && address.empty();
    mid = MD5x2(MidHardwareText(processor, disk, address));
    if (nothingFound) return mid;  // a placeholder identity is never cached
    std::string value = MidCacheText(mid), old;
    if (ReadMidCacheValue("mid", 256, old) && old != value) WriteMidCacheValue("mid_old", old);
    WriteMidCacheValue("mid", value);
    return mid;
}

// ---- mid2 -----------------------------------------------------------------------------------

bool NewSystemGuid(uint8_t guid[16]) {
    GUID value;
    if (FAILED(::CoCreateGuid(&value))) return false;
    std::memcpy(guid, &value, 16);
    return true;
}

Mid2Value ComposeMid2(const Mid2Components& components, bool elevated, const GuidSource& newGuid) {
    Mid2Value result;
    std::string body;
    uint8_t flags = 0;
    if (!components.network.empty() || !components.disk.empty()) {
        std::string hex;
        if (Sha1Hex(components.network + components.disk + components.processor, hex)) {
            body = hex;
            flags = kFlagSha1;
            if (!components.network.empty()) flags |= kFlagNetwork;
            if (!components.disk.empty()) flags |= kFlagDisk;
            if (!components.processor.empty()) flags |= kFlagProcessor;
            result.computed = true;
        }
    } else {
        uint8_t guid[16];
        if (newGuid && newGuid(guid)) {
            body = "ffffffff";
            for (uint8_t byte : guid) body += HexByte(byte);
            flags = kFlagRandom;
        }
    }
    if (body.empty()) body.assign(40, '0');
    if (!elevated && !StartsWithNoCase(body, "ffffffff")) body.replace(0, 8, "eeeeeeee");
    result.text = body + HexByte(flags);
    result.text += HexByte(Crc8Maxim(result.text));
    return result;
}

bool IsValidMid2(const std::string& text) {
    if (text.size() != 44) return false;
    int high = HexValue(text[42]), low = HexValue(text[43]);
    return high >= 0 && low >= 0 && uint8_t(high * 16 + low) == Crc8Maxim(text.substr(0, 42));
}

bool ElevationRule(bool beforeVista, bool queried, bool tokenElevated) {
    return beforeVista || !queried || tokenElevated;
}

bool IsProcessElevated() {
    WindowsVersion version;
    bool beforeVista = GetWindowsVersion(version) && version.major < 6;
    bool queried = false, tokenElevated = false;
    if (!beforeVista) {
        voro::UniqueKernelHandle token;
        if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) {
            TOKEN_ELEVATION elevation = {};
            DWORD size = 0;
            if (::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &size)) {
                queried = true;
                tokenElevated = elevation.TokenIsElevated != 0;
            }
        } else {
            token.reset();
        }
    }
    return ElevationRule(beforeVista, queried, tokenElevated);
}

bool ReadMid2Cache(std::string& value) {
    value.clear();
    std::wstring text;
    if (!voro::reg::ReadString(HKEY_LOCAL_MACHINE, kMid2CacheKey, L"m2", text, voro::reg::View::Wow32)) return false;
    bool ascii = false;
    value = Narrow(text, ascii);
    return ascii;
}

bool WriteMid2Cache(const std::string& value, const std::string& validOld) {
    voro::UniqueHKey key = voro::reg::Open(HKEY_LOCAL_MACHINE, kMid2CacheKey, KEY_SET_VALUE, voro::reg::View::Wow32);
    if (!key) {
        if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kMid2CacheKey, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_32KEY, nullptr,
                              key.put(), nullptr) != ERROR_SUCCESS) {
            key.reset();
            return false;
        }
    }
    auto set = [&](const wchar_t* name, const std::string& text) {
        std::wstring wide(text.begin(), text.end());
        return ::RegSetValueExW(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(wide.c_str()),
                                static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
    };
    if (!validOld.empty() && !EqualsNoCase(validOld, value)) set(L"m2_old", validOld);
    return set(L"m2", value);
}

std::string ComputeMid2(const Mid2Context& context) {
    std::string cache;
    const bool cacheValid = ReadMid2Cache(cache) && IsValidMid2(cache);
    const bool cacheRandom = cacheValid && StartsWithNoCase(cache, "ffffffff");
    const std::string validOld = cacheValid ? cache : std::string();
    if (cacheValid && !context.elevated) return cache;
    if (!context.collector) return cacheValid ? cache : std::string();

    IMid2Collector& collector = *context.collector;
    Mid2Components components;
    components.network = collector.NetworkAddress();
    components.disk = collector.DiskSerial();
    components.processor = collector.ProcessorText();

    Mid2Value computed;
    bool haveComputed = false;
    const bool hardware = !components.network.empty() || !components.disk.empty();
    if (hardware && cacheValid) {
        computed = ComposeMid2(components, context.elevated, context.newGuid);
        if (!computed.computed) return cache;
        if (EqualsNoCase(computed.text, cache)) return computed.text;
        haveComputed = true;
    } else if (!hardware && cacheRandom) {
        return cache;
    }

    bool foundNew = false;
    if (components.network.empty() || components.disk.empty()) {
        // Devices may still be starting up: one more look after a short pause.
        if (context.sleep) context.sleep(500);
        if (components.network.empty()) {
            components.network = collector.NetworkAddress();
            foundNew = foundNew || !components.network.empty();
        }
        if (components.disk.empty()) {
            components.disk = collector.DiskSerial();
            foundNew = foundNew || !components.disk.empty();
        }
    }
    if (!foundNew && haveComputed) {
        WriteMid2Cache(computed.text, validOld);
        return computed.text;
    }
    Mid2Value value = ComposeMid2(components, context.elevated, context.newGuid);
    if (value.computed || !cacheValid || !cacheRandom) {
        WriteMid2Cache(value.text, validOld);
        return value.text;
    }
    return cache;
}

}  // namespace mid
