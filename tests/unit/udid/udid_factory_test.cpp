// The factory over simulated hosts: the embedded default host's disks with
// their hand-written UDIDs, fall-through on short data, the simulation map
// and the cached lookup's fresh, confirmed and missing paths.
#include "udid/device_udid_factory.h"
#include "udid_test_util.h"
#include "../scsitool/trace_capture.h"

#include "platform/simhost.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <string>

namespace {

using namespace scsitool_test;
using rendo_sim::DiskSpec;
using rendo_sim::Host;
using rendo_sim::Lun;

std::string hostName() {
    char host[512] = {};
    return gethostname(host, sizeof host - 1) == 0 ? host : "UNKNOWN";
}

// Commands every disk of the host has received.
size_t totalCommands(Host &host) {
    size_t n = 0;
    for (Lun *l : host.luns()) n += l->disk()->commands().size();
    return n;
}

class UdidFactory : public ::testing::Test {
protected:
    void SetUp() override { factory.registerTraceLog(trace.log()); }

    TraceCapture trace;
    CUDIDFactory factory;
};

TEST_F(UdidFactory, TheDefaultHostsDisksGetTheirFamiliesUdids) {
    std::string error;
    std::shared_ptr<Host> host = rendo_sim::parseHostDescription(rendo_sim::defaultHostDescription(), &error);
    ASSERT_TRUE(host) << error;
    rendo_sim::ScopedHost use(host);
    const std::string noPage00 = "UDID##ABC##X_100##";
    // By serial number; every identifier written out from the disk's bytes.
    const std::map<std::string, std::string> expected = {
        {"3CL8151MHS", "UDID##HP##MSA##P5A9C2D4E6F8G0##600508B4000F1A2B0000C00001230000"},
        {"P5B2C3D4E5F6G7", "UDID##HP##HSV##5000-1FE1-500A-2B30##6005-08B4-0010-19A2-0000-9000-0123-0000"},
        {"75ABCD11234", "UDID##IBM##TOTALSTORAGE##IBM.2107-75ABCD1##1234"},
        {"SV12345678", "UDID##IBM##DISKSYSTEM##IBM.1724-SV12345678##60:0A:0B:80:00:29:04:DE:00:00:05:A1:46:9C:E3:A1"},
        {"SQ87654321", "UDID##IBM##DISKSYSTEM##IBM.1814-600A0B80002904DE00000000469CE3A2##"
                       "60:0A:0B:80:00:29:04:DE:00:00:05:A2:46:9C:E3:A2"},
        {"CK200012345678", "UDID##DGC##CLARIION##APM00123456789##60:06:01:60:12:34:56:78:00:AB:CD:EF:01:23:45:67"},
        {"9005001A2000", "UDID##EMC##SYMMETRIX##000001879005##01A2"},
        {"50123450A1F", "UDID##HITACHI##HDS##74565##2591"},
        {"SL00112233", "UDID##ENGENIO##UNIVERSAL##600A0B80001F2E3D000000004A5B6C7D##600A0B800011223300004A5B6C7D0001"},
        {"P3OoG4WVLqdB", "UDID##NETAPP##LUN##FILER01:/VOL/VOL1/LUN0A##50334F6F473457564C716442"},
        {"AC0000000001", "UDID##ACME##STORAGE_ARRAY##00830014010300106001405A1B2C3D4E5F60718293A4B5C6"},
        {"ABC123", ""},  // path and host name, below
        {"9005002B3000", "UDID##EMC##SYMMETRIX##000001879005##02B3"},
        // Too short for their own rule: named by the default rule instead,
        // except where only an enclosure is short (read as zero padding).
        {"3CL8151SHT", "UDID##HP##MSA2012FC##0083001401030010600508B4000F1A2B0000C000012300FF"},
        {"P5B2C3D4E5F6SH", "UDID##HP##HSV##0000-0000-0000-0000##6005-08B4-0010-19A2-0000-9000-0123-00EE"},
        {"75ABCD1SHRT", "UDID##IBM##2107900##00830014010300106005076305FFC1A200000000000012FF"},
        {"SV1234SHRT", "UDID##IBM##DISKSYSTEM##IBM.1724-##60:0A:0B:80:00:29:04:DE:00:00:05:A1:46:9C:E3:FF"},
        {"CK2000SHORT", "UDID##DGC##RAID_5##0083001401030010600601601234567800ABCDEF012345FF"},
        {"9005003C4000", "UDID##EMC##SYMMETRIX##008300140103001060000970000192601234533030334341"},
        {"50123450B2F", "UDID##HITACHI##OPEN-V##008300140103001060060E80123450000001234500000B2F"},
        {"SL0011SHRT", "UDID##LSI##INF-01-00##0083001401030010600A0B800011223300004A5B6C7D0002"},
        {"P3OoG4WVLqdX", "UDID##NETAPP##LUN##0083001D020100194E45544150502020204C554E2050334F6F473457564C716458"},
        {"AC0000000002", "UDID##ACME##VIRTUAL_DISK##00830014010300106001405A1B2C3D4E5F60718293A4B5FF"},
    };
    DeviceMap map = factory.enumerateDeviceMap(false, false, false);
    EXPECT_EQ(map.size(), host->luns().size());
    for (Lun *lun : host->luns()) {
        const std::string &serial = lun->disk()->desc().serial;
        ASSERT_TRUE(expected.count(serial)) << serial;
        ASSERT_TRUE(map.count(lun->devicePath())) << lun->devicePath();
        const SDeviceInfo &info = map[lun->devicePath()];
        std::string want = expected.at(serial);
        if (serial == "ABC123") want = UdidUpperCase(noPage00 + lun->devicePath() + "@" + hostName());
        EXPECT_EQ(info.udid, want) << serial;
    }
    // Each refused disk was reported and handed on.
    int skipped = 0;
    for (const TraceLine &l : trace.take()) skipped += l.message == "WARNING: Invalid scsi device data, skipping device.";
    EXPECT_EQ(skipped, 8);
}

TEST_F(UdidFactory, SimulationMapAnswersOnlyTheNamesItHolds) {
    auto host = Host::create("HOSTA");
    rendo_sim::ScopedHost use(host);
    Lun &a = host->addDisk(DiskSpec::make("EMC", "SYMMETRIX", "5874").inquiryAt(124, {0, 1, 0x87, 0x90, 5}).inquiryTextAt(38, "1A2").inquiryAt(135, {0}));
    Lun &b = host->addDisk(DiskSpec::make("EMC", "SYMMETRIX", "5874").inquiryAt(124, {0, 1, 0x87, 0x90, 5}).inquiryTextAt(38, "1A3").inquiryAt(135, {0}));
    Lun &c = host->addDisk(DiskSpec::make("EMC", "SYMMETRIX", "5874").inquiryAt(124, {0, 1, 0x87, 0x90, 5}).inquiryTextAt(38, "1A4").inquiryAt(135, {0}));
    DeviceMap sim;
    sim[a.devicePath()] = SDeviceInfo{0, a.devicePath(), "udid##sim##one##e##1", {}};
    sim[c.devicePath()] = SDeviceInfo{0, c.devicePath(), "short", {}};
    factory.setSimulationMap(sim);
    DeviceMap map = factory.enumerateDeviceMap(false, false, false);
    EXPECT_EQ(map[a.devicePath()].udid, "UDID##SIM##ONE##E##1");
    EXPECT_EQ(map[b.devicePath()].udid, "UDID##EMC##SYMMETRIX##000001879005##01A3");
    // Under 8 characters: kept with an empty UDID, and said so.
    EXPECT_EQ(map[c.devicePath()].udid, "");
    EXPECT_EQ(factory.getCachedUniqueDeviceID(a.devicePath().c_str(), false), "UDID##SIM##ONE##E##1");
    std::string generator;
    udid_test::Device record("EMC", "SYMMETRIX", a.devicePath());
    EXPECT_EQ(factory.getUniqueDeviceID(record.get(), generator), "UDID##SIM##ONE##E##1");
    EXPECT_EQ(generator, "simulation");
    EXPECT_EQ(factory.getUniqueDeviceID(nullptr), "");
    EXPECT_EQ(factory.getCachedUniqueDeviceID(nullptr, true), "");
}

TEST_F(UdidFactory, ValidationAndTheCachedLookup) {
    auto host = Host::create("HOSTA");
    rendo_sim::ScopedHost use(host);
    Lun &a = host->addDisk(DiskSpec::make("ACME", "ARRAY", "1.0", "A1").naa("6001405a1b2c3d4e5f60718293a4b501"));
    Lun &b = host->addDisk(DiskSpec::make("ACME", "ARRAY", "1.0", "A2").naa("6001405a1b2c3d4e5f60718293a4b502"));
    const std::string udidA = "UDID##ACME##ARRAY##00830014010300106001405A1B2C3D4E5F60718293A4B501";
    // Validation reads the one disk and leaves the map alone.
    DeviceMap one = factory.validateDeviceMap(a.devicePath());
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one.begin()->second.udid, udidA);
    EXPECT_TRUE(factory.deviceMap().empty());

    // Empty map: one enumeration, no bus rescan, both disks read.
    EXPECT_EQ(factory.getCachedUniqueDeviceID(a.devicePath().c_str(), false), udidA);
    EXPECT_EQ(host->rescans(0), 0u);
    EXPECT_EQ(factory.deviceMap().size(), 2u);
    size_t bBefore = b.disk()->commands().size(), aBefore = a.disk()->commands().size();
    EXPECT_GT(bBefore, 0u);

    // Cached: only that disk is read again; the map is not rebuilt.
    EXPECT_EQ(factory.getCachedUniqueDeviceID(a.devicePath().c_str(), false), udidA);
    EXPECT_EQ(b.disk()->commands().size(), bBefore);
    EXPECT_GT(a.disk()->commands().size(), aBefore);

    // A disk that has gone is not confirmed with a made-up identifier.
    std::string nameA = a.devicePath();
    host->unplug(a);
    EXPECT_EQ(factory.getCachedUniqueDeviceID(nameA.c_str(), false), "");
    EXPECT_EQ(host->rescans(0), 0u);

    // Unknown name without rescan: no command at all.
    size_t before = totalCommands(*host);
    EXPECT_EQ(factory.getCachedUniqueDeviceID("\\\\.\\PHYSICALDRIVE7", false), "");
    EXPECT_EQ(totalCommands(*host), before);

    // With rescanIfMissing: the buses are rescanned and a new disk is found.
    Lun &late = host->addDisk(DiskSpec::make("ACME", "ARRAY", "1.0", "A3").naa("6001405a1b2c3d4e5f60718293a4b503"));
    late.appearAfterRescans(1);
    EXPECT_EQ(late.devicePath(), "");
    host->addDisk(DiskSpec::make("ZZZ", "Z", "1.0", "Z"));  // takes the next drive number now
    std::string lateName;
    {
        // The late disk's name is known only once it is there.
        DeviceMap probe = factory.enumerateDeviceMap(true, false, false);
        lateName = late.devicePath();
        ASSERT_FALSE(lateName.empty());
        EXPECT_EQ(probe[lateName].udid, "UDID##ACME##ARRAY##00830014010300106001405A1B2C3D4E5F60718293A4B503");
    }
    EXPECT_GE(host->rescans(0), 1u);
    late.mask();
    unsigned rescans = host->rescans(0);
    EXPECT_EQ(factory.getCachedUniqueDeviceID(lateName.c_str(), true), "");
    EXPECT_GT(host->rescans(0), rescans);
    late.unmask();
    EXPECT_EQ(factory.getCachedUniqueDeviceID(lateName.c_str(), true),
              "UDID##ACME##ARRAY##00830014010300106001405A1B2C3D4E5F60718293A4B503");
}

} // namespace
