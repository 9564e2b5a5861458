// Thin hardware queries behind the machine identifiers. Each returns an empty text when the
// device or the query is unavailable (the usual case without administrator rights or in a
// virtual machine); the derivations in MachineId decide what an empty text means.
#pragma once
#include "report/MachineId.h"
#include <string>

namespace mid {

// CPUID texts, each computed once per process under a lock.
std::string QueryMidProcessorText();   // vendor and leaf-1 features, "%s:%08x"
std::string QueryMid2ProcessorText();  // vendor, signature and brand, "%s,%x,%s"

// mid: ATA identify through SMART, then the SCSI miniport, then the storage descriptor, then
// SMART issued directly; the first drive that yields a serial.
std::string QueryMidDiskSerial();
// mid: smallest NDIS permanent address over the NetworkCards adapters, else NetBIOS.
std::string QueryMidNetworkAddress();

// mid2: the first fixed drive on an accepted bus.
std::string QueryMid2DiskSerial();
// mid2: smallest wired (else wireless) PCI adapter address, else the same over GetAdaptersInfo.
std::string QueryMid2NetworkAddress();

class CMidHardwareCollector : public IMidCollector {
public:
    std::string ProcessorText() override { return QueryMidProcessorText(); }
    std::string DiskSerial() override { return QueryMidDiskSerial(); }
    std::string NetworkAddress() override { return QueryMidNetworkAddress(); }
};

class CMid2HardwareCollector : public IMid2Collector {
public:
    std::string NetworkAddress() override { return QueryMid2NetworkAddress(); }
    std::string DiskSerial() override { return QueryMid2DiskSerial(); }
    std::string ProcessorText() override { return QueryMid2ProcessorText(); }
};

}  // namespace mid
