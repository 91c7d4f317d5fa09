// The generators' length checks, short data and every truncation, and the
// NetApp record walk. Every expected UDID below was written out by hand from
// the bytes the test gives the device. The claim rules in the factory's
// order and the rules' variants are checked through kelm-host disks on
// disks described for them (tests/kelmhost/udid.cmake).
#include "udid/device_udid_generator.h"
#include "udid_test_util.h"

#include "platform/simhost.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace udid_test;

std::vector<std::unique_ptr<CUdidGenerator>> allGenerators() {
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

std::string udidOf(CUdidGenerator &g, CScsiDeviceData *d) {
    return UdidUpperCase(g.getUniqueDeviceIDPrefix(d) + g.getUniqueDeviceIDSuffix(d));
}

// ---- valid devices of each family ----

Device symmetrix() {
    return std::move(Device("EMC", "SYMMETRIX").inquiry(136).inquiryAt(124, {0, 1, 0x87, 0x90, 5})
                         .inquiryText(38, "1A2"));
}
Device hitachi() { return std::move(Device("HITACHI", "OPEN-V").inquiry(48).inquiryText(36, "50 123450A1F")); }
Device eva() {
    return std::move(Device("HP", "HSV210").inquiry(138).inquiryAt(130, hexBytes("50 00 1F E1 50 0A 2B 30"))
                         .naa("600508b4001019a20000900001230000"));
}
Device msa() {
    return std::move(Device("HP", "MSA2012fc").inquiry(120).inquiryText(96, "P5A9C2D4E6F8G0").page(0x83, 68)
                         .pageText(0x83, 36, "600508B4000F1A2B0000C00001230000"));
}
Device clariion() {
    return std::move(Device("DGC", "RAID 5").page(0xC0, 64).pageAt(0xC0, 49, {14})
                         .pageText(0xC0, 50, "APM00123456789").naa("600601601234567800abcdef01234567"));
}
Device lsi() {
    return std::move(Device("LSI", "INF-01-00").page(0xC8, 106).naa("600a0b800011223300004a5b6c7d0001")
                         .pageAt(0xC8, 90, hexBytes("600a0b80001f2e3d000000004a5b6c7d")));
}
Device ibm2107() {
    return std::move(Device("IBM", "2107900").inquiry(43).inquiryText(36, "75ABCD1")
                         .naa("6005076305ffc1a20000000000001234"));
}
Device ibmDs1724() {
    return std::move(Device("IBM", "1724-100 FAStT").inquiryText(36, "SV12345678")
                         .naa("600a0b80002904de000005a1469ce3a1"));
}
Device ibmDs1814() {
    return std::move(Device("IBM", "1814 FAStT").page(0x80, 14).pageText(0x80, 4, "SQ87654321").page(0xD0, 24)
                         .pageAt(0xD0, 8, hexBytes("600a0b80002904de00000000469ce3a2"))
                         .naa("600a0b80002904de000005a2469ce3a2"));
}
Device ibm3552() {
    return std::move(Device("IBM", "3552").page(0xC8, 106).naa("600a0b80000000000000000000000a0b")
                         .pageAt(0xC8, 90, hexBytes("00112233445566778899aabbccddeeff")));
}

// What a generator makes of a device: its UDID, or the exception's id.
std::string outcome(CUdidGenerator &g, CScsiDeviceData *d) {
    try {
        return udidOf(g, d);
    } catch (const CUdidGeneratorException &e) {
        return e.getMessageId();
    }
}

// The page `code` (0: standard inquiry) cut to `length` bytes with its own
// length field saying so, then `padding` zero bytes after it that the field
// does not count, as the SCSI tool stores a pass-through answer.
void answer(Device &d, uint32_t code, uint32_t length, uint32_t padding) {
    uint32_t stored = 0;
    const uint8_t *p = d->getModePage(code, stored);
    ASSERT_NE(p, nullptr);
    ASSERT_LE(length, stored);
    Bytes b(p, p + length);
    if (code == 0) b[4] = uint8_t(length - 5);
    else { b[2] = uint8_t((length - 4) >> 8); b[3] = uint8_t(length - 4); }
    b.resize(length + padding, 0);
    d->setModePage(code, b.data(), uint32_t(b.size()));
}

const std::string DEVICE = "MSG_UDID_ERROR_INVALID_SCSI_DEVICE_DATA", PAGE_DATA = "MSG_UDID_ERROR_INVALID_SCSI_PAGE_DATA",
                  PAGE_SIZE = "MSG_UDID_ERROR_INVALID_SCSI_PAGE_SIZE", ENCLOSURE = "MSG_UDID_ERROR_INVALID_SCSI_ENCLOSURE_DATA";

// Each rule's length check sits at the last byte the rule reads. Answered
// exactly that far the disk gets the rule's UDID; one byte short it gets the
// rule's exception (the factory then asks the next generator). With the
// SCSI tool's zero padding after a short answer, checks on the LUN's own
// bytes still refuse it, while the enclosure checks of rules whose LUN field
// is a world-wide name read on as the classic rules do.
TEST(UdidGenerators, LengthChecksFollowTheBytesEachRuleReads) {
    auto g = allGenerators();
    struct Case {
        const char *name;
        size_t generator;
        Device (*device)();
        uint32_t code, needed;
        std::string exact, shortBare, shortPadded;
    };
    const std::string wwn1724 = "##60:0A:0B:80:00:29:04:DE:00:00:05:A1:46:9C:E3:A1",
                      wwn1814 = "##60:0A:0B:80:00:29:04:DE:00:00:05:A2:46:9C:E3:A2",
                      clariionLun = "##60:06:01:60:12:34:56:78:00:AB:CD:EF:01:23:45:67",
                      lsiLun = "##600A0B800011223300004A5B6C7D0001",
                      evaLun = "##6005-08B4-0010-19A2-0000-9000-0123-0000",
                      msaLun = "##600508B4000F1A2B0000C00001230000";
    const std::vector<Case> cases = {
        {"msa inquiry", 0, msa, 0, 110, "UDID##HP##MSA##P5A9C2D4E6F8G0" + msaLun, DEVICE + ":HP:MSA",
         "UDID##HP##MSA##P5A9C2D4E6F8G" + msaLun},
        {"msa 0x83", 0, msa, 0x83, 68, "UDID##HP##MSA##P5A9C2D4E6F8G0" + msaLun, DEVICE + ":HP:MSA", DEVICE + ":HP:MSA"},
        {"eva inquiry", 1, eva, 0, 138, "UDID##HP##HSV##5000-1FE1-500A-2B30" + evaLun, ENCLOSURE + "::",
         "UDID##HP##HSV##5000-1FE1-500A-2B00" + evaLun},
        {"eva 0x83", 1, eva, 0x83, 24, "UDID##HP##HSV##5000-1FE1-500A-2B30" + evaLun, PAGE_DATA + ":HP:HSV",
         PAGE_DATA + ":HP:HSV"},
        {"2107 inquiry", 2, ibm2107, 0, 43, "UDID##IBM##TOTALSTORAGE##IBM.2107-75ABCD1##1234", PAGE_SIZE + "::",
         PAGE_SIZE + "::"},
        {"2107 0x83", 2, ibm2107, 0x83, 24, "UDID##IBM##TOTALSTORAGE##IBM.2107-75ABCD1##1234",
         PAGE_DATA + ":IBM:TOTALSTORAGE", PAGE_DATA + ":IBM:TOTALSTORAGE"},
        {"3552 0xC8", 2, ibm3552, 0xC8, 106, "UDID##IBM##TOTALSTORAGE##IBM.3552-00112233445566778899AABBCCDDEEFF##0A0B",
         PAGE_DATA + ":IBM:TOTALSTORAGE", PAGE_DATA + ":IBM:TOTALSTORAGE"},
        {"1724 inquiry", 3, ibmDs1724, 0, 43, "UDID##IBM##DISKSYSTEM##IBM.1724-SV12345" + wwn1724, PAGE_SIZE + "::",
         "UDID##IBM##DISKSYSTEM##IBM.1724-SV1234" + wwn1724},
        {"1724 0x83", 3, ibmDs1724, 0x83, 24, "UDID##IBM##DISKSYSTEM##IBM.1724-SV12345678" + wwn1724,
         PAGE_DATA + ":IBM:DISKSYSTEM", PAGE_DATA + ":IBM:DISKSYSTEM"},
        // Page 0xD0 is optional: short, it only drops out of the enclosure.
        {"1814 0xD0", 3, ibmDs1814, 0xD0, 24, "UDID##IBM##DISKSYSTEM##IBM.1814-600A0B80002904DE00000000469CE3A2" + wwn1814,
         "UDID##IBM##DISKSYSTEM##IBM.1814-" + wwn1814,
         "UDID##IBM##DISKSYSTEM##IBM.1814-600A0B80002904DE00000000469CE300" + wwn1814},
        {"clariion 0xC0", 4, clariion, 0xC0, 64, "UDID##DGC##CLARIION##APM00123456789" + clariionLun, PAGE_SIZE + "::",
         "UDID##DGC##CLARIION##APM0012345678" + clariionLun},
        {"clariion 0x83", 4, clariion, 0x83, 24, "UDID##DGC##CLARIION##APM00123456789" + clariionLun, DEVICE + ":DGC:",
         DEVICE + ":DGC:"},
        {"symmetrix inquiry", 5, symmetrix, 0, 136, "UDID##EMC##SYMMETRIX##000001879005##01A2",
         PAGE_DATA + ":EMC:SYMMETRIX", PAGE_DATA + ":EMC:SYMMETRIX"},
        {"hitachi inquiry", 6, hitachi, 0, 48, "UDID##HITACHI##HDS##74565##2591",
         PAGE_DATA + ":HITACHI:HDS", PAGE_DATA + ":HITACHI:HDS"},
        {"lsi 0xC8", 7, lsi, 0xC8, 106, "UDID##ENGENIO##UNIVERSAL##600A0B80001F2E3D000000004A5B6C7D" + lsiLun,
         ENCLOSURE + "::", "UDID##ENGENIO##UNIVERSAL##600A0B80001F2E3D000000004A5B6C00" + lsiLun},
        {"lsi 0x83", 7, lsi, 0x83, 24, "UDID##ENGENIO##UNIVERSAL##600A0B80001F2E3D000000004A5B6C7D" + lsiLun,
         PAGE_DATA + ":ENGENIO:UNIVERSAL", PAGE_DATA + ":ENGENIO:UNIVERSAL"},
    };
    for (const Case &c : cases) {
        for (uint32_t padding : {0u, 124u}) {
            Device exact = c.device();
            answer(exact, c.code, c.needed, padding);
            EXPECT_EQ(outcome(*g[c.generator], exact.get()), c.exact) << c.name << " padding " << padding;
            Device one = c.device();
            answer(one, c.code, c.needed - 1, padding);
            EXPECT_EQ(outcome(*g[c.generator], one.get()), padding ? c.shortPadded : c.shortBare)
                << c.name << " padding " << padding;
        }
    }
}

// Length fields that claim more than is stored, and missing pages.
TEST(UdidGenerators, ShortDataThrowsTheStatedIdentifier) {
    auto g = allGenerators();
    struct Case {
        size_t generator;
        Device (*device)();
        std::string id;
    };
    const std::vector<Case> cases = {
        {1, [] { Device d = eva(); d.pageAt(0x83, 2, {0x00, 0x13}); return d; }, PAGE_DATA + ":HP:HSV"},
        {2, [] { Device d("IBM", "2105800"); d.page(0x80, 11).pageAt(0x80, 3, {12}); return d; }, PAGE_SIZE + "::"},
        {3, [] { Device d = ibmDs1814(); d->removeModePage(0x80); return d; }, PAGE_DATA + ":IBM:DISKSYSTEM"},
        {4, [] { Device d = clariion(); d.pageAt(0xC0, 49, {15}); return d; }, PAGE_SIZE + "::"},
        {7, [] { Device d = lsi(); d->removeModePage(0x83); return d; }, PAGE_DATA + ":ENGENIO:UNIVERSAL"},
    };
    for (const Case &c : cases) {
        Device d = c.device();
        EXPECT_EQ(outcome(*g[c.generator], d.get()), c.id) << c.generator;
    }
}

// Every truncation of every stored page of a valid device: a UDID or the
// generator's own exception, never anything else (ASan checks the reads);
// no device at all is claimed by none and refused by all.
TEST(UdidGenerators, EveryTruncationOfEveryPageIsSafe) {
    auto g = allGenerators();
    const std::pair<size_t, Device (*)()> devices[] = {{0, msa},        {1, eva},       {2, ibm2107},   {3, ibmDs1724},
                                                       {3, ibmDs1814},  {4, clariion},  {5, symmetrix}, {6, hitachi},
                                                       {7, lsi},        {9, symmetrix}};
    for (auto [index, make] : devices) {
        Device device = make();
        for (uint32_t code : device->storedModePages()) {
            uint32_t full = 0;
            const uint8_t *p = device->getModePage(code, full);
            std::vector<uint8_t> original(p, p + full);
            for (uint32_t len = 0; len < full; ++len) {
                device->setModePage(code, original.data(), len);
                outcome(*g[index], device.get());
            }
            device->setModePage(code, original.data(), full);
        }
        EXPECT_NO_THROW(g[index]->getUniqueDeviceIDSuffix(device.get())) << g[index]->getGeneratorName();
    }
    for (auto &gen : g) {
        EXPECT_FALSE(gen->claimDevice(nullptr));
        EXPECT_THROW(gen->getUniqueDeviceIDSuffix(nullptr), CUdidGeneratorException);
    }
}

// ---- NetApp: the record walk and the query on a simulated disk ----

Bytes netappAnswer(const std::string &enclosure) {
    Bytes a(8 + 28 + enclosure.size() + 1, 0);
    a[8] = 0x22;
    for (size_t i = 0; i < enclosure.size(); ++i) a[36 + i] = uint8_t(enclosure[i]);
    return a;
}

TEST(UdidGenerators, NetAppRecordWalk) {
    Bytes a(300, 0);
    // A 0x10-byte record at 8, then the enclosure record at 24.
    a[8] = 0x01; a[10] = 0x00; a[11] = 0x10;
    a[24] = 0x22;
    std::string text = "filer01:/vol/vol1/lun0a-and-more";  // 23 characters are taken
    std::copy(text.begin(), text.end(), a.begin() + 24 + 28);
    EXPECT_EQ(CNetAppUdidGenerator::findEnclosureRecord(a.data(), uint32_t(a.size())), "filer01:/vol/vol1/lun0a");
    // The same answer cut inside the text, inside the record header, and
    // before the step bytes: clipped text, then nothing.
    EXPECT_EQ(CNetAppUdidGenerator::findEnclosureRecord(a.data(), 24 + 28 + 5), "filer");
    EXPECT_EQ(CNetAppUdidGenerator::findEnclosureRecord(a.data(), 24), "");
    EXPECT_EQ(CNetAppUdidGenerator::findEnclosureRecord(a.data(), 10), "");
    // A zero step ends the walk; a record past offset 256 is not looked at.
    a[11] = 0x00;
    EXPECT_EQ(CNetAppUdidGenerator::findEnclosureRecord(a.data(), uint32_t(a.size())), "");
    Bytes far(600, 0);
    far[8] = 0x01; far[10] = 0x01; far[11] = 0x00;  // step 256: lands on 264
    far[264] = 0x22; far[264 + 28] = 'X';
    EXPECT_EQ(CNetAppUdidGenerator::findEnclosureRecord(far.data(), uint32_t(far.size())), "");
    far[10] = 0x00; far[11] = 0xF8;  // step 248: lands on 256, still walked
    far[256] = 0x22; far[256 + 28] = 'Y';
    EXPECT_EQ(CNetAppUdidGenerator::findEnclosureRecord(far.data(), uint32_t(far.size())), "Y");
    EXPECT_EQ(CNetAppUdidGenerator::findEnclosureRecord(nullptr, 100), "");
}

TEST(UdidGenerators, NetAppQueriesTheDiskForItsEnclosure) {
    auto host = rendo_sim::Host::create("HOSTA");
    rendo_sim::ScopedHost use(host);
    const Bytes cdb(std::begin(NETAPP_ENCLOSURE_CDB), std::end(NETAPP_ENCLOSURE_CDB));
    rendo_sim::Lun &lun = host->addDisk(rendo_sim::DiskSpec::make("NETAPP", "LUN", "0.2").respond(cdb, netappAnswer("filer01:/vol/vol1/lun0a")));
    rendo_sim::Lun &silent = host->addDisk(rendo_sim::DiskSpec::make("NETAPP", "LUN", "0.2"));
    CNetAppUdidGenerator g("NETAPP", "LUN");

    Device d("NETAPP", "LUN", lun.devicePath());
    d.page(0x83, 33).pageText(0x83, 21, "P3OoG4WVLqdB");
    EXPECT_EQ(udidOf(g, d.get()), "UDID##NETAPP##LUN##FILER01:/VOL/VOL1/LUN0A##50334F6F473457564C716442");
    ASSERT_EQ(lun.disk()->commands().size(), 1u);
    const rendo_sim::CommandRecord sent = lun.disk()->commands()[0];
    EXPECT_EQ(sent.cdb, cdb);
    EXPECT_EQ(sent.dataLength, NETAPP_DATA_LENGTH);

    Device short83("NETAPP", "LUN", lun.devicePath());
    short83.page(0x83, 32);
    EXPECT_EQ(outcome(g, short83.get()), "MSG_UDID_ERROR_INVALID_SCSI_DEVICE_DATA:NETAPP:LUN");
    // A disk that rejects the vendor command.
    Device rejected("NETAPP", "LUN", silent.devicePath());
    rejected.page(0x83, 33);
    EXPECT_EQ(g.getEnclosureId(rejected.get()), "");
    EXPECT_EQ(outcome(g, rejected.get()), "MSG_UDID_ERROR_INVALID_SCSI_PAGE_DATA:NETAPP:LUN");
    lun.disk()->failCommand(0xC0);
    EXPECT_EQ(g.getEnclosureId(d.get()), "");
}

} // namespace
