// Machine identifiers: the mid (32 hex digits) and the mid2 (44 characters), derived from the
// hardware and shared with the maker's other programs through machine-wide registry caches.
// This file holds the derivations (pure functions over plain data) and the cache logic; the
// hardware queries live in HardwareCollectors, the global accessors in TvnMID2.
#pragma once
#include <windows.h>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace mid {

// ---- text helpers -----------------------------------------------------------------------
std::string TrimBlanks(const std::string& text);          // spaces at both ends
std::string TrimTrailingBlanks(const std::string& text);  // spaces at the end
bool EqualsNoCase(const std::string& a, const std::string& b);
std::string HexByte(uint8_t value);  // "%02x"
std::string FormatMac(const uint8_t address[6]);  // "%02X" six times

// ---- processor text -----------------------------------------------------------------------
// Some virtual machines report the vendor misspelt; the identifiers use the real one.
std::string FixCpuVendor(const std::string& vendor);
std::string MidProcessorText(const std::string& vendor, uint32_t featuresEdx);  // "%s:%08x"
// "%s,%x,%s" of the trimmed vendor, the signature and the trimmed brand, cut to 127 characters.
std::string Mid2ProcessorText(const std::string& vendor, uint32_t signature, const std::string& brand);

// ---- disk serial texts --------------------------------------------------------------------
// Words first..last of ATA identify data, the two bytes of every word exchanged.
std::string AtaString(const uint8_t* identify, size_t size, int firstWord, int lastWord);
// Serial of a storage descriptor as the mid uses it: decoded from hex digit pairs when it is made
// of them only, otherwise its printable characters; adjacent characters exchanged pairwise;
// trailing blanks removed.
std::string MidDescriptorSerial(const std::string& serial);
// Serial of a storage descriptor as the mid2 uses it (length limits, 40-digit hex decoding, the
// pair exchange of Windows 7 and earlier, trimming). Empty when unusable.
std::string PrepareStorageSerial(const std::string& serial, bool windows7OrEarlier);

// The parts of a STORAGE_DEVICE_DESCRIPTOR the identifiers read.
struct StorageDescriptorInfo {
    bool removable = false;
    uint32_t busType = 0;
    std::string serial, vendor, product;
};
// Parses a returned descriptor; false when it is too short or one of the serial-number, vendor
// and product offsets lies outside the returned bytes.
bool ParseStorageDescriptor(const uint8_t* data, size_t size, StorageDescriptorInfo& info);
// Drives the mid2 skips: removable ones and those on SCSI, 1394, USB, SAS and virtual buses.
bool IsSkippedDrive(const StorageDescriptorInfo& info);
// Disk component from a descriptor alone: prepared serial, then vendor and product trimmed.
std::string DescriptorDiskComponent(const StorageDescriptorInfo& info, bool windows7OrEarlier);
// Disk component from ATA identify data: serial (words 10-19) and model (27-46), each trimmed.
std::string IdentifyDiskComponent(const uint8_t* identify, size_t size);

// ---- network adapters ---------------------------------------------------------------------
enum class AdapterKind { Excluded, Wired, Wireless };
// What the network Class key says about an adapter.
struct AdapterClassInfo {
    bool lookupPossible = false;  // the Class key could be read
    bool found = false;           // a sub-key with the adapter's NetCfgInstanceId exists
    uint32_t busType = 0;
    bool hasBusType = false;
    std::string driverDesc, lowerRange;
};
bool AdapterCounts(const AdapterClassInfo& info);            // PCI, or no lookup possible
bool IsWirelessByClass(const AdapterClassInfo& info);        // "Wireless", "wlan", "vwifi"
// Medium queries: a failed query is passed as ok = false.
AdapterKind ClassifyAdapter(bool wirelessByClass, bool exOk, uint32_t mediumEx, bool mediumOk, uint32_t medium);
struct AdapterAddress {
    std::string address;  // "%02X" x 6
    bool wireless = false;
};
// Smallest wired address, else the smallest wireless one; empty when there is none.
std::string ChooseAddress(const std::vector<AdapterAddress>& adapters);
bool IsWirelessDescription(const std::string& description);  // "wifi" or "wireless"

// ---- mid ------------------------------------------------------------------------------------
class IMidCollector {
public:
    virtual ~IMidCollector() = default;
    virtual std::string ProcessorText() = 0;   // MidProcessorText form
    virtual std::string DiskSerial() = 0;
    virtual std::string NetworkAddress() = 0;
};
constexpr char kMidFailedText[] = "Mid2Failed";
// Processor text, disk serial and address concatenated; "Mid2Failed" when all are empty.
std::string MidHardwareText(const std::string& processor, const std::string& disk, const std::string& address);
// The cache content for a mid: the mid followed by MD5x2 of the mid.
std::string MidCacheText(const std::string& mid);
// True when the cache holds exactly 64 characters whose second half is MD5x2 of the first.
bool MidFromCache(const std::string& cache, std::string& mid);
// The mid from the cache, or collected and then cached (not cached when nothing was found).
std::string ComputeMid(IMidCollector& collector);
// Single-byte cache values under HKLM\Software\QuonSafe\Liveup in the 32-bit view.
bool ReadMidCacheValue(const char* name, size_t maxBytes, std::string& value);
bool WriteMidCacheValue(const char* name, const std::string& value);

// ---- mid2 -----------------------------------------------------------------------------------
constexpr uint8_t kFlagNetwork = 0x01;
constexpr uint8_t kFlagDisk = 0x02;
constexpr uint8_t kFlagProcessor = 0x08;
constexpr uint8_t kFlagRandom = 0x10;
constexpr uint8_t kFlagSha1 = 0x20;

struct Mid2Components {
    std::string network, disk, processor;  // present when not empty
};
class IMid2Collector {
public:
    virtual ~IMid2Collector() = default;
    virtual std::string NetworkAddress() = 0;
    virtual std::string DiskSerial() = 0;
    virtual std::string ProcessorText() = 0;  // Mid2ProcessorText form
};
using GuidSource = std::function<bool(uint8_t guid[16])>;
bool NewSystemGuid(uint8_t guid[16]);  // CoCreateGuid

struct Mid2Value {
    std::string text;       // 44 characters
    bool computed = false;  // false for a random or an all-zero body
};
Mid2Value ComposeMid2(const Mid2Components& components, bool elevated, const GuidSource& newGuid);
// 44 characters whose last two are the hex CRC-8 of the first 42.
bool IsValidMid2(const std::string& text);

// Elevation as the mid2 sees it: always before Vista; afterwards unless the token query worked
// and reported a limited token.
bool ElevationRule(bool beforeVista, bool queried, bool tokenElevated);
bool IsProcessElevated();

struct Mid2Context {
    bool elevated = false;
    IMid2Collector* collector = nullptr;
    GuidSource newGuid = NewSystemGuid;
    std::function<void(DWORD)> sleep = ::Sleep;
};
// The mid2 with the cache rules: a valid cache answers a limited process, a change moves the old
// value to "m2_old", a random value never replaces a random cache.
std::string ComputeMid2(const Mid2Context& context);
// "m2" under HKLM\SOFTWARE\Halvane in the 32-bit view.
bool ReadMid2Cache(std::string& value);
// Writes "m2" (and the valid old value to "m2_old" when it differs); true when "m2" was set.
bool WriteMid2Cache(const std::string& value, const std::string& validOld);

}  // namespace mid
