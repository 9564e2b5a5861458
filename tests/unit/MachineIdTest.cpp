// Machine identifiers. Built twice: the derivations (no machine state) run in the shared prefix;
// with VORO_MACHINE_STATE_TESTS the cache rules and the global accessors run in fresh prefixes.
#include "report/Digests.h"
#include "report/MachineId.h"
#include "report/Md5.h"
#include "report/TvnMID2.h"
#include "app/Registry.h"
#include "TestSupport.h"
#include <gtest/gtest.h>
#include <cstring>
#include <vector>

namespace {

using namespace mid;

// Reference values below come from an independent implementation of the same rules.
const std::string kNet = "001122334455";
const std::string kDisk = "S123 WDC MODEL";
const std::string kCpu = "GenuineIntel,906ea,Intel(R) Core(TM) i7";

bool FixedGuid(uint8_t guid[16]) {
    for (int i = 0; i < 16; ++i) guid[i] = uint8_t(i);
    return true;
}
[[maybe_unused]] bool NoGuid(uint8_t*) { return false; }

#ifndef VORO_MACHINE_STATE_TESTS

TEST(Md5, PublishedVectorsAndTheDoubledFinal) {
    struct Case {
        std::string text, md5, md5x2;
    };
    const Case cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e", "e6765a052ce609ee5e2026d6872a98b6"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72", "7b64620c6b89d6317dde150f6de71ea5"},
        {"Mid2Failed", "", "e8638f734d8669e04256d6c8e8caf528"},
        {std::string(55, 'a'), "ef1772b6dff9a122358552954ad0df65", "5159f21ae738fc04e2c238e713bbeb8c"},
        {std::string(56, 'a'), "3b0c8ac703f828b04c6c197006d17218", "7db6b26e823275b69f4819f3deb5be03"},
        {std::string(63, 'a'), "", "505e06c34352c3c541d610dcc53a2808"},
        {std::string(64, 'a'), "014842d480b571495a4a0363793f7367", "85e4bd94d15386327ad31da0e10daac7"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a", ""},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0", ""},
    };
    for (const Case& c : cases) {
        if (!c.md5.empty()) {
            EXPECT_EQ(Md5Hex(c.text), c.md5) << c.text;
        }
        if (!c.md5x2.empty()) {
            EXPECT_EQ(MD5x2(c.text), c.md5x2) << c.text.size();
        }
        EXPECT_NE(MD5x2(c.text), Md5Hex(c.text)) << c.text;
    }
    // The text is limited to 259 characters.
    EXPECT_EQ(MD5x2(std::string(259, 'x')), "e8bd15444322ffdfff7754f21b5a8e92");
    EXPECT_EQ(MD5x2(std::string(300, 'x')), MD5x2(std::string(259, 'x')));
    EXPECT_NE(MD5x2(std::string(258, 'x')), MD5x2(std::string(259, 'x')));
}

TEST(Digests, Sha1FipsVectorsAndCrc8) {
    struct Case {
        std::string text, sha1;
    };
    const Case cases[] = {
        {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    };
    for (const Case& c : cases) {
        std::string hex;
        ASSERT_TRUE(Sha1Hex(c.text, hex));
        EXPECT_EQ(hex, c.sha1) << c.text.size();
    }
    EXPECT_EQ(Crc8Maxim("123456789"), 0xA1);
    EXPECT_EQ(Crc8Maxim(""), 0x00);
    EXPECT_EQ(Crc8Maxim(std::string(1, '\x01')), 0x5E);
}

TEST(Mid2Compose, ShaBodyForEveryComponentCombination) {
    struct Case {
        std::string net, disk, cpu, elevated, limited;
    };
    const Case cases[] = {
        {kNet, kDisk, kCpu, "2c03f812c6366c14625f96d40426a94e5b6c6dc42bf3",
         "eeeeeeeec6366c14625f96d40426a94e5b6c6dc42bc3"},
        {kNet, "", kCpu, "5b5105ae66ca5a7ba1fdd80b2ed445d2374454dd2924", "eeeeeeee66ca5a7ba1fdd80b2ed445d2374454dd294c"},
        {"", kDisk, kCpu, "5be0b015895d302e8a78cd37fae48cd392ed10722a76", "eeeeeeee895d302e8a78cd37fae48cd392ed10722a5c"},
        {kNet, kDisk, "", "4470b5faaaff25ab6681e284df4bdcb4c0776ec223b6", "eeeeeeeeaaff25ab6681e284df4bdcb4c0776ec2237d"},
        {kNet, "", "", "e86351511f18e28217f0daeb53a814592caf25ec21fe", "eeeeeeee1f18e28217f0daeb53a814592caf25ec21cc"},
    };
    for (const Case& c : cases) {
        Mid2Components components{c.net, c.disk, c.cpu};
        Mid2Value elevated = ComposeMid2(components, true, NoGuid);
        Mid2Value limited = ComposeMid2(components, false, NoGuid);
        EXPECT_TRUE(elevated.computed);
        EXPECT_EQ(elevated.text, c.elevated);
        EXPECT_EQ(limited.text, c.limited);
        EXPECT_TRUE(IsValidMid2(elevated.text));
        EXPECT_TRUE(IsValidMid2(limited.text));
    }
}

TEST(Mid2Compose, RandomAndZeroBodies) {
    // No network address and no disk serial: a random body, whatever the processor text.
    Mid2Value random = ComposeMid2({"", "", kCpu}, false, FixedGuid);
    EXPECT_FALSE(random.computed);
    EXPECT_EQ(random.text, "ffffffff000102030405060708090a0b0c0d0e0f10f4") << "never prefixed with eeeeeeee";
    EXPECT_EQ(ComposeMid2({"", "", ""}, true, FixedGuid).text, random.text);
    Mid2Value zero = ComposeMid2({"", "", kCpu}, true, NoGuid);
    EXPECT_FALSE(zero.computed);
    EXPECT_EQ(zero.text, "00000000000000000000000000000000000000000065");
    EXPECT_EQ(ComposeMid2({"", "", ""}, false, NoGuid).text, "eeeeeeee00000000000000000000000000000000001e");
}

TEST(Mid2Compose, CheckDigitValidation) {
    struct Case {
        std::string text;
        bool valid;
    };
    const Case cases[] = {
        {"2c03f812c6366c14625f96d40426a94e5b6c6dc42bf3", true},
        {"2c03f812c6366c14625f96d40426a94e5b6c6dc42bF3", true},  // check digits in either case
        {"2c03f812c6366c14625f96d40426a94e5b6c6dc42bf4", false},
        {"3c03f812c6366c14625f96d40426a94e5b6c6dc42bf3", false},
        {"2c03f812c6366c14625f96d40426a94e5b6c6dc42bzz", false},
        {"2c03f812c6366c14625f96d40426a94e5b6c6dc42bf", false},
        {"2c03f812c6366c14625f96d40426a94e5b6c6dc42bf30", false},
        {"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsValidMid2(c.text), c.valid) << c.text;
}

TEST(DiskSerial, StorageDescriptorTextPreparation) {
    struct Case {
        std::string serial;
        bool oldWindows;
        std::string expected;
    };
    const Case cases[] = {
        {"abc", false, ""},                                                  // fewer than 4
        {std::string(41, 'A'), false, ""},                                   // more than 40
        {"WD-WCC4N1234567", false, "WD-WCC4N1234567"},                       // used unchanged
        {"  WD-WCC4N1234567  ", false, "WD-WCC4N1234567"},                   // trimmed
        {"2020202057442d57434334", false, "2020202057442d57434334"},         // hex, but not 40 digits
        {"5744202d5743433431323334353637383930" "4142", false, "WD -WCC4123456789" "0AB"},
        {"574420" "2D57434334" "3132333435363738393041" "42", false, "WD -WCC4123456789" "0AB"},  // either case
        {"  DWW-CCN", true, "DWW-CCN"},     // odd length: no exchange
        {"  DWW-CCN4", true, "WD-WCC4N"},   // blanks to the end, then pairs exchanged
        {"DWW-CCN4", true, "WD-WCC4N"},
        {"DWW-CCN4", false, "DWW-CCN4"},
        {"    ", false, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PrepareStorageSerial(c.serial, c.oldWindows), c.expected) << "'" << c.serial << "' " << c.oldWindows;
}

// A STORAGE_DEVICE_DESCRIPTOR with its texts placed after the header.
std::vector<uint8_t> Descriptor(const std::string& vendor, const std::string& product, const std::string& serial,
                                uint32_t busType, bool removable) {
    std::vector<uint8_t> data(40, 0);
    auto put = [&](size_t at, uint32_t value) { std::memcpy(&data[at], &value, 4); };
    auto text = [&](size_t field, const std::string& s) {
        put(field, static_cast<uint32_t>(data.size()));
        data.insert(data.end(), s.begin(), s.end());
        data.push_back(0);
    };
    text(12, vendor);
    text(16, product);
    text(24, serial);
    put(0, 1);
    put(4, static_cast<uint32_t>(data.size()));
    data[10] = removable ? 1 : 0;
    put(28, busType);
    return data;
}

TEST(DiskSerial, DescriptorParsingAndDriveSelection) {
    std::vector<uint8_t> d = Descriptor("ATA     ", "ST1000DM003 ", "  Z1D5ABCD", 11, false);
    StorageDescriptorInfo info;
    ASSERT_TRUE(ParseStorageDescriptor(d.data(), d.size(), info));
    EXPECT_EQ(info.serial, "  Z1D5ABCD");
    EXPECT_EQ(info.busType, 11u);
    EXPECT_FALSE(IsSkippedDrive(info));
    EXPECT_EQ(DescriptorDiskComponent(info, false), "Z1D5ABCDATA     ST1000DM003");

    StorageDescriptorInfo cut;
    EXPECT_FALSE(ParseStorageDescriptor(d.data(), d.size() - 12, cut)) << "serial offset outside the returned bytes";
    EXPECT_FALSE(ParseStorageDescriptor(d.data(), 31, cut)) << "shorter than the header";
    std::vector<uint8_t> bad = d;
    uint32_t outside = 5000;
    std::memcpy(&bad[16], &outside, 4);
    EXPECT_FALSE(ParseStorageDescriptor(bad.data(), bad.size(), cut)) << "product offset outside";
    std::vector<uint8_t> noVendor = d;
    std::memset(&noVendor[12], 0, 4);
    ASSERT_TRUE(ParseStorageDescriptor(noVendor.data(), noVendor.size(), cut));
    EXPECT_EQ(cut.vendor, "") << "offset 0 means the text is absent";

    StorageDescriptorInfo noSerial;
    noSerial.vendor = "ATA";
    EXPECT_EQ(DescriptorDiskComponent(noSerial, false), "") << "vendor and product only follow a serial";

    struct Bus {
        uint32_t type;
        bool removable, skipped;
    };
    const Bus buses[] = {{1, false, true},  {3, false, false}, {4, false, true},  {7, false, true},
                         {10, false, true}, {11, false, false}, {14, false, true}, {15, false, true},
                         {17, false, false}, {11, true, true}};
    for (const Bus& b : buses) {
        StorageDescriptorInfo drive;
        drive.busType = b.type;
        drive.removable = b.removable;
        EXPECT_EQ(IsSkippedDrive(drive), b.skipped) << b.type << " " << b.removable;
    }
}

TEST(DiskSerial, AtaIdentifyWordsAndMidDescriptorSerial) {
    std::vector<uint8_t> identify(512, 0);
    auto putWords = [&](int firstWord, const std::string& text) {  // ATA strings store each word byte-swapped
        for (size_t i = 0; i < text.size(); ++i) identify[firstWord * 2 + (i ^ 1)] = uint8_t(text[i]);
    };
    putWords(10, "    WD-WCC4N1234567 ");
    putWords(27, "WDC WD10EZEX-08WN4A0                    ");
    EXPECT_EQ(AtaString(identify.data(), identify.size(), 10, 19), "    WD-WCC4N1234567 ");
    EXPECT_EQ(IdentifyDiskComponent(identify.data(), identify.size()), "WD-WCC4N1234567WDC WD10EZEX-08WN4A0");
    EXPECT_EQ(AtaString(identify.data(), 30, 10, 19), "    WD-WCC") << "never reads past the data";

    struct Case {
        std::string serial, expected;
    };
    const Case cases[] = {
        {"4457572d43434e34", "WD-WCC4N"},  // hex pairs decoded, then adjacent characters exchanged
        {"DWW-CCN4  ", "WD-WCC4N"},
        {"DW\x01W-CCN4", "WD-WCC4N"},  // unprintable characters dropped
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(MidDescriptorSerial(c.serial), c.expected) << c.serial;
}

TEST(NetworkAddress, AdapterClassification) {
    struct Case {
        bool wirelessByClass, exOk;
        uint32_t ex;
        bool mediumOk;
        uint32_t medium;
        AdapterKind kind;
    };
    const Case cases[] = {
        {false, true, 1, false, 0, AdapterKind::Wireless},   {false, true, 9, false, 0, AdapterKind::Wireless},
        {true, true, 14, false, 0, AdapterKind::Wireless},   {false, true, 14, false, 0, AdapterKind::Wired},
        {false, true, 2, true, 0, AdapterKind::Excluded},    {false, true, 0, true, 0, AdapterKind::Wired},
        {true, true, 0, true, 0, AdapterKind::Wired},        {false, false, 0, true, 1, AdapterKind::Wireless},
        {false, false, 0, true, 9, AdapterKind::Wireless},   {false, false, 0, true, 8, AdapterKind::Excluded},
        {false, false, 0, true, 18, AdapterKind::Excluded},  {false, false, 0, true, 4, AdapterKind::Wired},
        {true, false, 0, false, 0, AdapterKind::Wireless},   {false, false, 0, false, 0, AdapterKind::Wired},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ClassifyAdapter(c.wirelessByClass, c.exOk, c.ex, c.mediumOk, c.medium), c.kind)
            << c.wirelessByClass << " " << c.exOk << " " << c.ex << " " << c.mediumOk << " " << c.medium;

    AdapterClassInfo info;
    EXPECT_TRUE(AdapterCounts(info)) << "no class lookup possible";
    info.lookupPossible = true;
    EXPECT_FALSE(AdapterCounts(info)) << "not found";
    info.found = info.hasBusType = true;
    info.busType = 15;
    EXPECT_FALSE(AdapterCounts(info));
    info.busType = 5;
    EXPECT_TRUE(AdapterCounts(info));
    EXPECT_FALSE(IsWirelessByClass(info));
    info.driverDesc = "Intel(R) WIRELESS-AC 9560";
    EXPECT_TRUE(IsWirelessByClass(info));
    info.driverDesc = "Realtek";
    info.lowerRange = "ethernet,VWiFi";
    EXPECT_TRUE(IsWirelessByClass(info));
    EXPECT_TRUE(IsWirelessDescription("Qualcomm WiFi adapter"));
    EXPECT_FALSE(IsWirelessDescription("Realtek PCIe GbE"));

    EXPECT_EQ(ChooseAddress({{"BB0000000000", false}, {"000000000001", true}, {"AA0000000000", false}}),
              "AA0000000000");
    EXPECT_EQ(ChooseAddress({{"CC0000000000", true}, {"BB0000000000", true}}), "BB0000000000");
    EXPECT_EQ(ChooseAddress({}), "");
    const uint8_t mac[6] = {0x00, 0x1a, 0x2B, 0xc3, 0x04, 0xff};
    EXPECT_EQ(FormatMac(mac), "001A2BC304FF");
}

TEST(ProcessorText, VendorFixAndFormats) {
    EXPECT_EQ(MidProcessorText("GenuineIotel", 0x1f8bfbff), "GenuineIntel:1f8bfbff");
    EXPECT_EQ(MidProcessorText("AuthenticAMD", 0x10), "AuthenticAMD:00000010");
    EXPECT_EQ(Mid2ProcessorText("GenuineIotel", 0x906ea, "  Intel(R) Core(TM) i7  "),
              "GenuineIntel,906ea,Intel(R) Core(TM) i7");
    EXPECT_EQ(Mid2ProcessorText("AuthenticAMD", 0, ""), "AuthenticAMD,0,");
    EXPECT_EQ(Mid2ProcessorText("GenuineIntel", 0x906ea, std::string(200, 'b')).size(), 127u);
}

TEST(MidDerivation, HardwareTextAndCacheCheck) {
    EXPECT_EQ(MidHardwareText("GenuineIntel:1f8bfbff", "WD123  ", "001122334455"),
              "GenuineIntel:1f8bfbffWD123001122334455");
    EXPECT_EQ(MidHardwareText("", "", ""), "Mid2Failed");
    const std::string mid = MD5x2("GenuineIntel:1f8bfbff");
    std::string cache = MidCacheText(mid), found;
    ASSERT_EQ(cache.size(), 64u);
    EXPECT_TRUE(MidFromCache(cache, found));
    EXPECT_EQ(found, mid);
    std::string upper = cache;
    for (size_t i = 32; i < 64; ++i) upper[i] = char(::toupper(upper[i]));
    EXPECT_TRUE(MidFromCache(upper, found)) << "the check half compares without regard to case";
    std::string garbage = cache;
    garbage[40] = garbage[40] == '0' ? '1' : '0';
    EXPECT_FALSE(MidFromCache(garbage, found));
    EXPECT_FALSE(MidFromCache(cache + "0", found));
    EXPECT_FALSE(MidFromCache(mid, found));
}

TEST(Elevation, RuleOverVersionAndTokenQuery) {
    EXPECT_TRUE(ElevationRule(true, false, false));
    EXPECT_TRUE(ElevationRule(false, false, false)) << "the token could not be queried";
    EXPECT_TRUE(ElevationRule(false, true, true));
    EXPECT_FALSE(ElevationRule(false, true, false));
}

TEST(TvnMID2, InterfacesAndArguments) {
    static CTvnMID2 object;
    void* out = reinterpret_cast<void*>(1);
    ASSERT_EQ(object.QueryInterface(IID_INewMID, &out), S_OK);
    EXPECT_EQ(out, static_cast<INewMID*>(&object));
    out = nullptr;
    ASSERT_EQ(static_cast<INewMID&>(object).QueryInterface(IID_IUnknown, &out), S_OK);
    EXPECT_EQ(out, static_cast<INewMID*>(&object));
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(object.QueryInterface(IID_IDispatch, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(object.AddRef(), 2u);
    EXPECT_EQ(object.Release(), 1u);
    IExtend& extend = object;
    EXPECT_EQ(extend.ExtendOp1(0, 0), E_NOTIMPL);
    EXPECT_EQ(extend.ExtendOp7(0, 0), E_NOTIMPL);
    EXPECT_EQ(extend.ExtendOp8(0, 0, 0), E_NOTIMPL);

    wchar_t buffer[64];
    EXPECT_EQ(GetMid2(nullptr, 64), E_INVALIDARG);
    EXPECT_EQ(GetMid2(buffer, 49), E_INVALIDARG);
    EXPECT_FALSE(GetMid(nullptr, 64));
    EXPECT_FALSE(GetMid(buffer, 0));
}

#else  // VORO_MACHINE_STATE_TESTS

constexpr wchar_t kMid2Key[] = L"SOFTWARE\\Halvane";
constexpr char kMidKey[] = "Software\\QuonSafe\\Liveup";

// Answers from fixed texts; a component may appear only on a later call.
class FakeMid2Collector : public IMid2Collector {
public:
    std::vector<std::string> networks{""}, disks{""};
    std::string processor = kCpu;
    int calls = 0;
    std::string NetworkAddress() override { return Next(networks, networkCall); }
    std::string DiskSerial() override { return Next(disks, diskCall); }
    std::string ProcessorText() override { return processor; }

private:
    size_t networkCall = 0, diskCall = 0;
    std::string Next(const std::vector<std::string>& answers, size_t& index) {
        ++calls;
        std::string answer = answers[index < answers.size() ? index : answers.size() - 1];
        ++index;
        return answer;
    }
};

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::string ReadM2(const wchar_t* name) {
    std::wstring value;
    if (!voro::reg::ReadString(HKEY_LOCAL_MACHINE, kMid2Key, name, value, voro::reg::View::Wow32)) return "<none>";
    return std::string(value.begin(), value.end());
}

void SetM2(const std::string& value) {
    ASSERT_TRUE(voro::reg::WriteString(HKEY_LOCAL_MACHINE, kMid2Key, L"m2", Wide(value), voro::reg::View::Wow32));
}

struct Mid2Run {
    std::string result;
    bool collected = false;
    std::vector<DWORD> sleeps;
};

Mid2Run RunMid2(FakeMid2Collector& collector, bool elevated) {
    Mid2Run run;
    Mid2Context context;
    context.elevated = elevated;
    context.collector = &collector;
    context.newGuid = FixedGuid;
    context.sleep = [&](DWORD ms) { run.sleeps.push_back(ms); };
    run.result = ComputeMid2(context);
    run.collected = collector.calls > 0;
    return run;
}

const std::string kFullElevated = "2c03f812c6366c14625f96d40426a94e5b6c6dc42bf3";
const std::string kFullLimited = "eeeeeeeec6366c14625f96d40426a94e5b6c6dc42bc3";
const std::string kNetOnly = "5b5105ae66ca5a7ba1fdd80b2ed445d2374454dd2924";
const std::string kRandom = "ffffffff000102030405060708090a0b0c0d0e0f10f4";

TEST(Mid2Cache, FirstComputationIsWrittenInThe32BitView) {
    FakeMid2Collector collector;
    collector.networks = {kNet};
    collector.disks = {kDisk};
    Mid2Run run = RunMid2(collector, true);
    EXPECT_EQ(run.result, kFullElevated);
    EXPECT_TRUE(run.sleeps.empty()) << "both components present: no retry";
    EXPECT_EQ(ReadM2(L"m2"), kFullElevated);
    EXPECT_EQ(ReadM2(L"m2_old"), "<none>");
    std::wstring other;
    EXPECT_FALSE(voro::reg::ReadString(HKEY_LOCAL_MACHINE, kMid2Key, L"m2", other, voro::reg::View::Wow64));
}

TEST(Mid2Cache, ValidCacheAnswersALimitedProcessWithoutCollecting) {
    SetM2(kNetOnly);
    FakeMid2Collector collector;
    collector.networks = {kNet};
    collector.disks = {kDisk};
    Mid2Run run = RunMid2(collector, false);
    EXPECT_EQ(run.result, kNetOnly);
    EXPECT_FALSE(run.collected);
}

TEST(Mid2Cache, LimitedProcessWithoutCacheWritesThePrefixedValue) {
    FakeMid2Collector collector;
    collector.networks = {kNet};
    collector.disks = {kDisk};
    EXPECT_EQ(RunMid2(collector, false).result, kFullLimited);
    EXPECT_EQ(ReadM2(L"m2"), kFullLimited);
}

TEST(Mid2Cache, BadCachesAreIgnoredAndOverwritten) {
    const std::string badCheck = kFullElevated.substr(0, 42) + "00";
    const std::string garbage(44, 'z');
    for (const std::string& stored : {badCheck, garbage, std::string("short")}) {
        SetM2(stored);
        FakeMid2Collector collector;
        collector.networks = {kNet};
        collector.disks = {kDisk};
        Mid2Run run = RunMid2(collector, false);  // a valid cache would have been answered
        EXPECT_TRUE(run.collected) << stored;
        EXPECT_EQ(run.result, kFullLimited) << stored;
        EXPECT_EQ(ReadM2(L"m2"), kFullLimited) << stored;
        EXPECT_EQ(ReadM2(L"m2_old"), "<none>") << "an invalid value is not kept: " << stored;
    }
    // Another data type counts as absent.
    ASSERT_TRUE(voro::reg::WriteDword(HKEY_LOCAL_MACHINE, kMid2Key, L"m2", 44, voro::reg::View::Wow32));
    FakeMid2Collector collector;
    collector.networks = {kNet};
    collector.disks = {kDisk};
    EXPECT_EQ(RunMid2(collector, true).result, kFullElevated);
    EXPECT_EQ(ReadM2(L"m2"), kFullElevated);
}

TEST(Mid2Cache, OldValueKeptOnlyWhenTheValueChanges) {
    SetM2(kFullElevated);
    FakeMid2Collector same;
    same.networks = {kNet};
    same.disks = {kDisk};
    EXPECT_EQ(RunMid2(same, true).result, kFullElevated);
    EXPECT_EQ(ReadM2(L"m2_old"), "<none>");

    FakeMid2Collector changed;  // the disk is gone: retried once, then the network-only value
    changed.networks = {kNet};
    Mid2Run run = RunMid2(changed, true);
    EXPECT_EQ(run.result, kNetOnly);
    EXPECT_EQ(run.sleeps, std::vector<DWORD>{500});
    EXPECT_EQ(ReadM2(L"m2"), kNetOnly);
    EXPECT_EQ(ReadM2(L"m2_old"), kFullElevated);
}

TEST(Mid2Cache, RetryPicksUpALateComponent) {
    FakeMid2Collector collector;
    collector.networks = {kNet};
    collector.disks = {"", kDisk};
    Mid2Run run = RunMid2(collector, true);
    EXPECT_EQ(run.sleeps, std::vector<DWORD>{500});
    EXPECT_EQ(run.result, kFullElevated);
    EXPECT_EQ(ReadM2(L"m2"), kFullElevated);
}

TEST(Mid2Cache, RandomValuesNeverReplaceARandomCache) {
    const std::string cachedRandom = ComposeMid2({"", "", ""}, true, [](uint8_t g[16]) {
                                         std::memset(g, 0xab, 16);
                                         return true;
                                     }).text;
    SetM2(cachedRandom);
    FakeMid2Collector none;
    EXPECT_EQ(RunMid2(none, true).result, cachedRandom);
    EXPECT_EQ(ReadM2(L"m2"), cachedRandom);

    FakeMid2Collector hardware;  // hardware found later replaces the random value
    hardware.networks = {kNet};
    hardware.disks = {kDisk};
    EXPECT_EQ(RunMid2(hardware, true).result, kFullElevated);
    EXPECT_EQ(ReadM2(L"m2_old"), cachedRandom);
}

TEST(Mid2Cache, NoHardwareAndNoCacheWritesARandomValue) {
    FakeMid2Collector none;
    Mid2Run run = RunMid2(none, true);
    EXPECT_EQ(run.result, kRandom);
    EXPECT_EQ(run.sleeps, std::vector<DWORD>{500});
    EXPECT_EQ(ReadM2(L"m2"), kRandom);
}

// ---- mid ------------------------------------------------------------------------------------

class FakeMidCollector : public IMidCollector {
public:
    std::string processor, disk, address;
    int calls = 0;
    std::string ProcessorText() override { return ++calls, processor; }
    std::string DiskSerial() override { return ++calls, disk; }
    std::string NetworkAddress() override { return ++calls, address; }
};

// The stored value's characters.
bool ReadMidRaw(const char* name, std::string& text) {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMidKey, 0, KEY_QUERY_VALUE | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS)
        return false;
    wchar_t buffer[1024];
    DWORD type = 0, size = sizeof(buffer);
    std::wstring wideName(name, name + std::strlen(name));
    LONG r = ::RegQueryValueExW(key, wideName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    ::RegCloseKey(key);
    if (r != ERROR_SUCCESS || type != REG_SZ) return false;
    text.assign(buffer, buffer + size / sizeof(wchar_t));
    // The program writes no terminator; the system may add one when it stores the text.
    if (!text.empty() && text.back() == '\0') text.pop_back();
    return true;
}

TEST(MidCache, ComputedOnceThenAnsweredFromTheCache) {
    FakeMidCollector collector;
    collector.processor = "GenuineIntel:1f8bfbff";
    collector.disk = "WD123  ";
    collector.address = "001122334455";
    const std::string expected = MD5x2("GenuineIntel:1f8bfbffWD123001122334455");
    EXPECT_EQ(ComputeMid(collector), expected);
    std::string raw;
    ASSERT_TRUE(ReadMidRaw("mid", raw));
    EXPECT_EQ(raw, expected + MD5x2(expected));
    EXPECT_FALSE(ReadMidRaw("mid_old", raw));

    FakeMidCollector second;
    second.processor = "AuthenticAMD:00000000";
    EXPECT_EQ(ComputeMid(second), expected);
    EXPECT_EQ(second.calls, 0);
}

TEST(MidCache, GarbageCacheIsReplacedAndKeptAsOld) {
    const std::string garbage(64, 'g');
    ASSERT_TRUE(WriteMidCacheValue("mid", garbage));
    FakeMidCollector collector;
    collector.processor = "GenuineIntel:1f8bfbff";
    const std::string expected = MD5x2("GenuineIntel:1f8bfbff");
    EXPECT_EQ(ComputeMid(collector), expected);
    std::string raw;
    ASSERT_TRUE(ReadMidRaw("mid", raw));
    EXPECT_EQ(raw, MidCacheText(expected));
    ASSERT_TRUE(ReadMidRaw("mid_old", raw));
    EXPECT_EQ(raw, garbage);
}

TEST(MidCache, NothingFoundGivesThePlaceholderAndNoCache) {
    FakeMidCollector collector;
    EXPECT_EQ(ComputeMid(collector), MD5x2("Mid2Failed"));
    std::string raw;
    EXPECT_FALSE(ReadMidRaw("mid", raw));
}

// ---- global accessors -------------------------------------------------------------------------

bool IsLowerHex(const std::wstring& text) {
    return text.find_first_not_of(L"0123456789abcdef") == std::wstring::npos;
}

TEST_CHILD_ROLE(ReportIds) {
    std::wstring text = GetMid() + L"|" + GetMid2();
    HANDLE file = ::CreateFileW(argument.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 2;
    DWORD written = 0;
    ::WriteFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
    ::CloseHandle(file);
    return 0;
}

TEST(MachineIds, AccessorsProduceWellFormedValuesAndCacheThem) {
    std::wstring mid = GetMid(), mid2 = GetMid2();
    ASSERT_EQ(mid.size(), 32u) << "mid";
    EXPECT_TRUE(IsLowerHex(mid));
    ASSERT_EQ(mid2.size(), 44u);
    EXPECT_TRUE(IsLowerHex(mid2));
    EXPECT_TRUE(IsValidMid2(std::string(mid2.begin(), mid2.end())));
    EXPECT_EQ(GetMid2(), mid2) << "computed once per process";
    wchar_t small[8];
    ASSERT_TRUE(GetMid(small, 8));
    EXPECT_EQ(std::wstring(small), mid.substr(0, 7));
    wchar_t exact[50];
    ASSERT_EQ(GetMid2(exact, 50), S_OK);
    EXPECT_EQ(std::wstring(exact), mid2);

    std::string raw;
    if (mid != Wide(MD5x2("Mid2Failed"))) {
        ASSERT_TRUE(ReadMidRaw("mid", raw));
        EXPECT_EQ(Wide(raw), mid + Wide(MD5x2(std::string(mid.begin(), mid.end()))));
    }
    EXPECT_EQ(Wide(ReadM2(L"m2")), mid2);

    // A second process answers from the caches: give them values no collection could produce.
    const std::string otherMid = MD5x2("another machine");
    ASSERT_TRUE(WriteMidCacheValue("mid", MidCacheText(otherMid)));
    const std::string otherMid2 = ComposeMid2({"", "", ""}, true, [](uint8_t g[16]) {
                                      std::memset(g, 0x5a, 16);
                                      return true;
                                  }).text;
    SetM2(otherMid2);
    testsupport::TempFolder temp;
    ASSERT_EQ(testsupport::RunChild("ReportIds", temp.File(L"ids.txt")), 0);
    std::string bytes = testsupport::ReadBytes(temp.File(L"ids.txt"));
    std::wstring reported(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    std::wstring expectedMid2 = Wide(otherMid2);
    if (!IsProcessElevated() || mid2.compare(0, 8, L"ffffffff") == 0) {
        // Limited processes always answer from the cache; elevated ones do when no hardware
        // identifies the machine and the cache holds a random value.
        EXPECT_EQ(reported, Wide(otherMid) + L"|" + expectedMid2);
    } else {
        EXPECT_EQ(reported.substr(0, 32), Wide(otherMid));
    }
    std::printf("mid=%ls mid2=%ls elevated=%d\n", mid.c_str(), mid2.c_str(), IsProcessElevated() ? 1 : 0);
}

#endif  // VORO_MACHINE_STATE_TESTS

}  // namespace
