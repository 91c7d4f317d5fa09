// The discovery base's rescan and validate flows on the simulated host.
#include "discovery/pnp_manager.h"
#include "discovery_test_util.h"

#include <stdexcept>

namespace {

using namespace discovery_test;
using rendo_sim::DiskSpec;

// Records the hooks the base calls; can be made to throw while enumerating.
struct HookedPnp : CPnpManager {
    std::vector<std::string> removed;
    int deadCalls = 0;
    bool deadFlag = false;
    bool throwOnEnumerate = false;

    void removeDevice(const std::string &name) override { removed.push_back(name); }
    void removeDeadDevices(std::vector<CScsiDeviceData *> &, bool flag) override { ++deadCalls, deadFlag = flag; }
    std::vector<CScsiDeviceData *> enumerateDevices() override {
        if (throwOnEnumerate) throw std::runtime_error("enumeration");
        return CPnpManager::enumerateDevices();
    }
    std::vector<CScsiDeviceData *> validateEnumerateDevices(const std::string &name) override {
        if (throwOnEnumerate) throw 6;
        return CPnpManager::validateEnumerateDevices(name);
    }
};

struct DiscoveryBase : PnpOnSimHost<HookedPnp> {
    // Either way of setting the log reaches the SCSI tool (asserted below).
    void SetUp() override { pnp.setTraceLog(trace.log()); }
};

TEST_F(DiscoveryBase, RescanWithoutBusRescanReadsEveryDiskUnderTheLock) {
    host->addDisk(DiskSpec::make("ACME", "A", "0001", "S1"));
    host->addDisk(DiskSpec::make("EMC", "SYMMETRIX", "5874", "S2"));
    Records r{pnp.rescan(false, true, true)};
    EXPECT_EQ(r.vendors(), (std::vector<std::string>{"ACME", "EMC"}));
    EXPECT_EQ(host->rescans(0), 0u);
    EXPECT_EQ(pnp.deadCalls, 0);
    EXPECT_TRUE(pnp.removed.empty());

    std::vector<TraceLine> lines = trace.take();
    EXPECT_EQ(linesWith(lines, " lock ."),
              (std::vector<std::string>{"Acquring lock .", "Got the lock .", "Releasing the lock ."}));
    EXPECT_TRUE(linesWith(lines, "rescanScsiBus").empty());
    EXPECT_TRUE(linesWith(lines, "CDmpPowerPathDiscovery::rescan").empty());
}

// A disk found after some bus rescans is kelm-host import's case
// (tests/CMakeLists.txt, appear-after-rescans); here the array unmasks one
// on the virtual clock.
TEST_F(DiscoveryBase, BusRescanFindsADiskUnmaskedOnTheVirtualClock) {
    host->setVirtualClock(true);
    host->addDisk(DiskSpec::make("ACME", "A", "0001", "S1"));
    host->addDisk(DiskSpec::make("NETAPP", "LUN", "7340", "S4")).appearAt(host->nowMs() + 20000);
    Records first{pnp.rescan(true, false, true)};
    EXPECT_EQ(first.vendors(), std::vector<std::string>{"ACME"});
    EXPECT_EQ(pnp.deadCalls, 1);
    EXPECT_TRUE(pnp.deadFlag);

    Sleep(20000);
    Records second{pnp.rescan(true, false, false)};
    EXPECT_EQ(second.vendors(), (std::vector<std::string>{"ACME", "NETAPP"}));
    EXPECT_EQ(host->sleeps(), std::vector<uint32_t>{20000});
    EXPECT_EQ(pnp.deadCalls, 2);
    EXPECT_FALSE(pnp.deadFlag);
    EXPECT_EQ(countOf(trace.take(), "Entering Function CDmpPowerPathDiscovery::rescan"), 2u);
}

TEST_F(DiscoveryBase, FailingAndVanishingDisksStayWithWhatWasRead) {
    host->addDisk(DiskSpec::make("ACME", "A", "0001", "S1")).disk()->failCommand(0x12, 0x05, 0x24, 0, -1, -2);
    host->addDisk(DiskSpec::make("ACME", "B", "0001", "S2")).vanishAfterListing();
    host->addDisk(DiskSpec::make("ACME", "C", "0001", "S3"));
    Records r{pnp.rescan(false, false, false)};
    EXPECT_EQ(r.vendors(), (std::vector<std::string>{"", "", "ACME"}));
    EXPECT_EQ(pnp.removed, (std::vector<std::string>{"\\\\.\\PHYSICALDRIVE0", "\\\\.\\PHYSICALDRIVE1"}));
    EXPECT_EQ(linesWith(trace.take(), "FAILED - Remove disk").size(), 2u);
}

TEST_F(DiscoveryBase, AnExceptionEndsTheRescanAndReleasesTheLock) {
    host->addDisk(DiskSpec::make("ACME", "A", "0001", "S1"));
    pnp.throwOnEnumerate = true;
    Records r{pnp.rescan(true, false, false)};
    EXPECT_TRUE(r.v.empty());
    EXPECT_EQ(severityOf(trace.take(), "libscsitool: ERROR: CDeviceDiscoveryBase::rescan() failed."), kLevel1);
    EXPECT_EQ(pnp.deadCalls, 0);  // the exception skipped it

    pnp.throwOnEnumerate = false;  // the lock was given back: this does not hang
    Records again{pnp.rescan(false, false, false)};
    EXPECT_EQ(again.vendors(), std::vector<std::string>{"ACME"});
}

TEST_F(DiscoveryBase, ValidateReadsOneDiskWithoutLockOrBusRescan) {
    host->addDisk(DiskSpec::make("ACME", "A", "0001", "S1"));
    rendo_sim::Lun &b = host->addDisk(DiskSpec::make("DGC", "RAID 5", "0326", "S2"));
    Records r{pnp.validateDevice(b.devicePath())};
    EXPECT_EQ(r.vendors(), std::vector<std::string>{"DGC"});
    EXPECT_EQ(host->rescans(0), 0u);
    EXPECT_TRUE(linesWith(trace.take(), " lock .").empty());

    Records missing{pnp.validateDevice("\\\\.\\PHYSICALDRIVE9")};
    ASSERT_EQ(missing.vendors(), std::vector<std::string>{""});
    EXPECT_TRUE(pnp.removed.empty());  // validation only reports

    pnp.throwOnEnumerate = true;
    Records thrown{pnp.validateDevice(b.devicePath())};
    EXPECT_TRUE(thrown.v.empty());
}

} // namespace
