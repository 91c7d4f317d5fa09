// Fuzzes the UDID generators and the factory's choice among them with random
// standard inquiry data and VPD pages of random lengths.
//
// Input: byte 0 picks the vendor and product (one of each generator's
// families, or text taken from the input); byte 1 holds flags (bit 0: page
// 0x00 listed, bit 1: page 0x83 listed). Then records, each a code byte, a
// 16-bit big-endian length and that many bytes (cut short at the end of the
// input): code 0 is the standard inquiry data, others a VPD page; code 0xFE
// is a NetApp enclosure-query answer, walked on its own.
//
// Every generator must return a suffix or throw CUdidGeneratorException (any
// other exception escapes and fails the run); the factory must always end
// with a UDID. Stored pages are copied into exactly-sized buffers, so ASan
// catches a read one byte past what is stored.
#include "fuzz_target.h"
#include "udid/device_udid_factory.h"
#include "udid/device_udid_generator.h"

#include "scsitool/scsi_bytes.h"

#include <memory>
#include <string>
#include <vector>

namespace {

const struct {
    const char *vendor, *product;
} kFamilies[] = {
    {"HP", "MSA2012fc"},   {"COMPAQ", "HSV110"},  {"IBM", "2107900"},    {"IBM", "2105800"},    {"IBM", "3542"},
    {"IBM", "1724-100"},   {"IBM", "1814 FAStT"}, {"DGC", "RAID 5"},     {"ACME", "VDISK"},     {"EMC", "SYMMETRIX"},
    {"HITACHI", "OPEN-V"}, {"HITACHI", "9970V"},  {"LSI", "INF-01-00"}, {"NETAPP", "LUN"},     {"ABC", "X 100"},
};
constexpr size_t kFamilyCount = sizeof kFamilies / sizeof kFamilies[0];

std::vector<std::unique_ptr<CUdidGenerator>> makeGenerators() {
    std::vector<std::unique_ptr<CUdidGenerator>> g;
    g.emplace_back(new CHpMsaUdidGenerator("HP", "MSA"));
    g.emplace_back(new CHpEvaUdidGenerator("HP", "HSV"));
    g.emplace_back(new CIbmUdidGenerator("IBM", "TOTALSTORAGE"));
    g.emplace_back(new CIbmDsUdidGenerator("IBM", "DISKSYSTEM"));
    g.emplace_back(new CEmcClariionUdidGenerator("DGC", ""));
    g.emplace_back(new CEmcSymmetrixUdidGenerator("EMC", "SYMMETRIX"));
    g.emplace_back(new CHitachiUdidGenerator("HITACHI", "HDS"));
    g.emplace_back(new CLsiUdidGenerator("ENGENIO", "UNIVERSAL"));
    g.emplace_back(new CNetAppUdidGenerator("NETAPP", "LUN"));
    g.emplace_back(new CDefaultUdidGenerator("", ""));
    return g;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static std::vector<std::unique_ptr<CUdidGenerator>> generators = makeGenerators();
    static CUDIDFactory *factory = new CUDIDFactory;
    if (size < 2) return 0;

    // No such disk: the NetApp query fails to open and its walk is fuzzed
    // through the 0xFE records instead.
    CScsiDeviceData device(L"\\\\.\\PHYSICALDRIVE999", L"", L"FUZZ", 0, 0, 0, 0xFFFFFFFFu, L"", L"", L"", 0);
    size_t pos = 2;
    uint8_t pick = data[0];
    if (pick < 0xF0) {
        const auto &f = kFamilies[pick % kFamilyCount];
        device.m_vendorId = f.vendor;
        device.m_productId = f.product;
    } else {
        // Vendor and product as text from the input, up to 8 and 16 bytes.
        size_t v = std::min<size_t>(pick & 0x07, size - pos);
        device.m_vendorId.assign(reinterpret_cast<const char *>(data + pos), v);
        pos += v;
        size_t p = std::min<size_t>(16, size - pos);
        device.m_productId.assign(reinterpret_cast<const char *>(data + pos), p);
        pos += p;
    }
    if (data[1] & 1) device.m_supportedModePageList.push_back(0x00);
    if (data[1] & 2) device.m_supportedModePageList.push_back(0x83);

    while (pos + 3 <= size) {
        uint8_t code = data[pos];
        size_t length = std::min<size_t>(LoadBe16(data + pos + 1), size - pos - 3);
        const uint8_t *bytes = data + pos + 3;
        pos += 3 + length;
        if (code == 0xFE) {
            // An exactly-sized copy, so the walk cannot read past it unnoticed.
            std::unique_ptr<uint8_t[]> answer(new uint8_t[length ? length : 1]);
            std::copy(bytes, bytes + length, answer.get());
            std::string text = CNetAppUdidGenerator::findEnclosureRecord(answer.get(), uint32_t(length));
            require(text.size() <= 23);
            continue;
        }
        device.setModePage(code, bytes, uint32_t(length));
    }

    for (std::unique_ptr<CUdidGenerator> &g : generators) {
        if (!g->claimDevice(&device)) continue;
        try {
            std::string udid = g->getUniqueDeviceIDPrefix(&device) + g->getUniqueDeviceIDSuffix(&device);
            require(udid.compare(0, 6, "UDID##") == 0);
        } catch (const CUdidGeneratorException &e) {
            require(e.getMessageId().compare(0, 15, "MSG_UDID_ERROR_") == 0);
        }
    }
    std::string generator;
    std::string udid = factory->getUniqueDeviceID(&device, generator);
    require(udid.compare(0, 6, "UDID##") == 0 && !generator.empty());
    return 0;
}
