// The factory over simulated hosts: the simulation map and the cached
// lookup's fresh, confirmed and missing paths. The default host's disks with
// their hand-written UDIDs, and the fall-through on short data, are checked
// through kelm-host disks (tests/kelmhost/udid.cmake).
#include "udid/device_udid_factory.h"
#include "udid_test_util.h"
#include "../scsitool/trace_capture.h"

#include "platform/simhost.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace scsitool_test;
using rendo_sim::DiskSpec;
using rendo_sim::Host;
using rendo_sim::Lun;

// Commands every disk of the host has received.
size_t totalCommands(Host &host) {
    size_t n = 0;
    for (Lun *l : host.luns()) n += l->disk()->commands().size();
    return n;
}

struct UdidFactory : ::testing::Test {
    void SetUp() override { factory.registerTraceLog(trace.log()); }
    std::shared_ptr<Host> host = Host::create("HOSTA");
    rendo_sim::ScopedHost use{host};
    TraceCapture trace;
    CUDIDFactory factory;
};

TEST_F(UdidFactory, SimulationMapAnswersOnlyTheNamesItHolds) {
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
    Lun &a = host->addDisk(DiskSpec::make("ACME", "ARRAY", "1.0", "A1").naa("6001405a1b2c3d4e5f60718293a4b501"));
    Lun &b = host->addDisk(DiskSpec::make("ACME", "ARRAY", "1.0", "A2").naa("6001405a1b2c3d4e5f60718293a4b502"));
    const std::string udid = "UDID##ACME##ARRAY##00830014010300106001405A1B2C3D4E5F60718293A4B50", udidA = udid + "1";
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
        EXPECT_EQ(probe[lateName].udid, udid + "3");
    }
    EXPECT_GE(host->rescans(0), 1u);
    late.mask();
    unsigned rescans = host->rescans(0);
    EXPECT_EQ(factory.getCachedUniqueDeviceID(lateName.c_str(), true), "");
    EXPECT_GT(host->rescans(0), rescans);
    late.unmask();
    EXPECT_EQ(factory.getCachedUniqueDeviceID(lateName.c_str(), true), udid + "3");
}

} // namespace
