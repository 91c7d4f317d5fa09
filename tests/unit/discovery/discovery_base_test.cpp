// The discovery base's rescan and validate flows on the simulated host.
#include "discovery/pnp_manager.h"
#include "../scsitool/trace_capture.h"

#include "platform/simhost.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace scsitool_test;
using rendo_sim::DiskSpec;

// Records the hooks the base calls; can be made to throw while enumerating.
class HookedPnp : public CPnpManager {
public:
    std::vector<std::string> removed;
    int deadCalls = 0;
    bool deadFlag = false;
    size_t deadListSize = 0;
    bool throwOnEnumerate = false;

    void removeDevice(const std::string &name) override { removed.push_back(name); }
    void removeDeadDevices(std::vector<CScsiDeviceData *> &list, bool flag) override {
        ++deadCalls;
        deadFlag = flag;
        deadListSize = list.size();
    }
    std::vector<CScsiDeviceData *> enumerateDevices() override {
        if (throwOnEnumerate) throw std::runtime_error("enumeration");
        return CPnpManager::enumerateDevices();
    }
    std::vector<CScsiDeviceData *> validateEnumerateDevices(const std::string &name) override {
        if (throwOnEnumerate) throw 6;
        return CPnpManager::validateEnumerateDevices(name);
    }
};

struct Records {
    std::vector<CScsiDeviceData *> v;
    ~Records() {
        for (CScsiDeviceData *d : v) delete d;
    }
    std::vector<std::string> vendors() const {
        std::vector<std::string> out;
        for (CScsiDeviceData *d : v) out.push_back(d->m_vendorId);
        return out;
    }
};

// The trace lines in order, without the entry/exit lines of other classes.
std::vector<std::string> messages(const std::vector<TraceLine> &lines, const std::string &containing) {
    std::vector<std::string> out;
    for (const TraceLine &l : lines)
        if (l.message.find(containing) != std::string::npos) out.push_back(l.message);
    return out;
}

class DiscoveryBase : public ::testing::Test {
protected:
    void SetUp() override { pnp.registerTraceLog(trace.log()); }

    std::shared_ptr<rendo_sim::Host> host = rendo_sim::Host::create("DISCHOST");
    rendo_sim::ScopedHost use{host};
    TraceCapture trace;
    HookedPnp pnp;
};

TEST_F(DiscoveryBase, RescanWithoutBusRescanReadsEveryDiskUnderTheLock) {
    rendo_sim::Lun &a = host->addDisk(DiskSpec::make("ACME", "A", "0001", "S1"));
    host->addDisk(DiskSpec::make("EMC", "SYMMETRIX", "5874", "S2"));
    Records r;
    r.v = pnp.rescan(false, true, true);
    EXPECT_EQ(r.vendors(), (std::vector<std::string>{"ACME", "EMC"}));
    EXPECT_EQ(r.v[0]->m_osName, "Windows");
    EXPECT_FALSE(a.disk()->commands().empty());
    EXPECT_EQ(host->rescans(0), 0u);
    EXPECT_EQ(pnp.deadCalls, 0);
    EXPECT_TRUE(pnp.removed.empty());

    std::vector<TraceLine> lines = trace.take();
    EXPECT_EQ(messages(lines, "CDeviceDiscoveryBase"),
              (std::vector<std::string>{
                  "Entering Function CDeviceDiscoveryBase::rescan",
                  "libscsitool: Info: CDeviceDiscoveryBase::rescan().",
                  "libscsitool: Info: CDeviceDiscoveryBase:: Getting data for disk \\\\.\\PHYSICALDRIVE0.",
                  "libscsitool: Info: CDeviceDiscoveryBase:: Getting data for disk \\\\.\\PHYSICALDRIVE1.",
                  "libscsitool: DEBUG : CDeviceDiscoveryBase::rescan Exit.",
                  "Exiting Function CDeviceDiscoveryBase::rescan",
              }));
    EXPECT_EQ(messages(lines, " lock ."),
              (std::vector<std::string>{"Acquring lock .", "Got the lock .", "Releasing the lock ."}));
    EXPECT_EQ(severityOf(lines, "Got the lock ."), kLevel3);
    EXPECT_EQ(severityOf(lines, "libscsitool: Info: CDeviceDiscoveryBase:: Getting data for disk \\\\.\\PHYSICALDRIVE0."),
              kLevel6);
    EXPECT_EQ(messages(lines, "CPnpManager::rescanScsiBus").size(), 0u);
    EXPECT_EQ(messages(lines, "CDmpPowerPathDiscovery::rescan").size(), 0u);
}

TEST_F(DiscoveryBase, BusRescanFindsAMaskedDiskAfterItsRescansAndOnTheVirtualClock) {
    host->setVirtualClock(true);
    host->addDisk(DiskSpec::make("ACME", "A", "0001", "S1"));
    rendo_sim::Lun &late = host->addDisk(DiskSpec::make("HITACHI", "OPEN-V", "6008", "S3"));
    rendo_sim::Lun &timed = host->addDisk(DiskSpec::make("NETAPP", "LUN", "7340", "S4"));
    late.appearAfterRescans(3);
    timed.appearAt(host->nowMs() + 20000);
    for (int i = 0; i < 2; ++i) {
        Records r;
        r.v = pnp.rescan(true, false, false);
        EXPECT_EQ(r.vendors(), std::vector<std::string>{"ACME"}) << "rescan " << i + 1;
    }
    Records third;
    third.v = pnp.rescan(true, false, true);
    EXPECT_EQ(third.vendors(), (std::vector<std::string>{"ACME", "HITACHI"}));
    EXPECT_EQ(pnp.deadCalls, 3);
    EXPECT_TRUE(pnp.deadFlag);
    EXPECT_EQ(pnp.deadListSize, 2u);

    Sleep(20000);  // the array unmasks the LUN; the next rescan finds it
    Records fourth;
    fourth.v = pnp.rescan(true, false, false);
    EXPECT_EQ(fourth.vendors(), (std::vector<std::string>{"ACME", "HITACHI", "NETAPP"}));
    EXPECT_EQ(host->sleeps(), std::vector<uint32_t>{20000});
    std::vector<TraceLine> lines = trace.take();
    EXPECT_EQ(messages(lines, "Entering Function CDmpPowerPathDiscovery::rescan").size(), 4u);
    EXPECT_EQ(messages(lines, "libscsitool: DEBUG: Exiting CPnpManager::rescanScsiBus()").size(), 4u);
}

TEST_F(DiscoveryBase, FailingAndVanishingDisksStayWithWhatWasRead) {
    host->addDisk(DiskSpec::make("ACME", "A", "0001", "S1")).disk()->failCommand(0x12, 0x05, 0x24, 0, -1, -2);
    host->addDisk(DiskSpec::make("ACME", "B", "0001", "S2")).vanishAfterListing();
    host->addDisk(DiskSpec::make("ACME", "C", "0001", "S3"));
    Records r;
    r.v = pnp.rescan(false, false, false);
    ASSERT_EQ(r.v.size(), 3u);
    EXPECT_EQ(r.vendors(), (std::vector<std::string>{"", "", "ACME"}));
    EXPECT_EQ(pnp.removed, (std::vector<std::string>{"\\\\.\\PHYSICALDRIVE0", "\\\\.\\PHYSICALDRIVE1"}));
    std::vector<TraceLine> lines = trace.take();
    EXPECT_EQ(messages(lines, "FAILED - Remove disk"),
              (std::vector<std::string>{
                  "libscsitool: Info: CDeviceDiscoveryBase::rescan FAILED - Remove disk \\\\.\\PHYSICALDRIVE0.",
                  "libscsitool: Info: CDeviceDiscoveryBase::rescan FAILED - Remove disk \\\\.\\PHYSICALDRIVE1."}));
    EXPECT_EQ(severityOf(lines, "libscsitool: Info: CDeviceDiscoveryBase::rescan FAILED - Remove disk "
                                "\\\\.\\PHYSICALDRIVE1."),
              kLevel3);
}

TEST_F(DiscoveryBase, AnExceptionEndsTheRescanAndReleasesTheLock) {
    host->addDisk(DiskSpec::make("ACME", "A", "0001", "S1"));
    pnp.throwOnEnumerate = true;
    Records r;
    r.v = pnp.rescan(true, false, false);
    EXPECT_TRUE(r.v.empty());
    std::vector<TraceLine> lines = trace.take();
    EXPECT_EQ(severityOf(lines, "libscsitool: ERROR: CDeviceDiscoveryBase::rescan() failed."), kLevel1);
    EXPECT_EQ(severityOf(lines, "Releasing the lock ."), kLevel3);
    EXPECT_EQ(severityOf(lines, "libscsitool: DEBUG : CDeviceDiscoveryBase::rescan Exit."), kLevel3);
    EXPECT_EQ(pnp.deadCalls, 0);  // the exception skipped it

    pnp.throwOnEnumerate = false;  // the lock was given back: this does not hang
    Records again;
    again.v = pnp.rescan(false, false, false);
    EXPECT_EQ(again.vendors(), std::vector<std::string>{"ACME"});
}

TEST_F(DiscoveryBase, ValidateReadsOneDiskWithoutLockOrBusRescan) {
    host->addDisk(DiskSpec::make("ACME", "A", "0001", "S1"));
    rendo_sim::Lun &b = host->addDisk(DiskSpec::make("DGC", "RAID 5", "0326", "S2"));
    Records r;
    r.v = pnp.validateDevice(b.devicePath());
    EXPECT_EQ(r.vendors(), std::vector<std::string>{"DGC"});
    EXPECT_EQ(host->rescans(0), 0u);
    std::vector<TraceLine> lines = trace.take();
    EXPECT_TRUE(messages(lines, " lock .").empty());
    EXPECT_EQ(severityOf(lines, "Entering Function CDeviceDiscoveryBase::validateDevice"), kLevel6);
    EXPECT_EQ(severityOf(lines, "Exiting Function CDeviceDiscoveryBase::validateDevice"), kLevel6);

    Records missing;
    missing.v = pnp.validateDevice("\\\\.\\PHYSICALDRIVE9");
    ASSERT_EQ(missing.v.size(), 1u);
    EXPECT_EQ(missing.v[0]->m_vendorId, "");
    EXPECT_EQ(severityOf(trace.take(), "libscsitool: Info: CDeviceDiscoveryBase:: validateDevice FAILED - Remove "
                                       "disk \\\\.\\PHYSICALDRIVE9."),
              kLevel3);
    EXPECT_TRUE(pnp.removed.empty());  // validation only reports

    pnp.throwOnEnumerate = true;
    Records thrown;
    thrown.v = pnp.validateDevice(b.devicePath());
    EXPECT_TRUE(thrown.v.empty());
    EXPECT_EQ(severityOf(trace.take(), "libscsitool: ERROR: CDeviceDiscoveryBase:: validateDevice() failed."),
              kLevel1);
}

} // namespace
