// The device-UDID map: primary devices by claim level, lookups with their
// refreshes and rescans, disk validation on the host's virtual clock, and
// partition names.
#include "plugin_fixture.h"

#include <string>
#include <vector>

namespace {

using namespace kelm_pdk_4_4;
using rendo_sim::DiskSpec;
using rendo_sim::ScsiAddress;

using rendo_test::kUdidA;
using rendo_test::lunA;

struct DeviceMap : rendo_test::PluginOnSimHost {
    DeviceMap() : PluginOnSimHost("MAPHOST") {}
};

// Two paths of one LUN: the higher claim level is primary, the later path on
// a tie; both paths are listed in map order either way.
TEST_F(DeviceMap, PrimaryDeviceByClaimLevel) {
    const struct {
        uint32_t first, second;
        int primary;
    } cases[] = {{2, 1, 0}, {1, 2, 1}, {1, 1, 1}};
    for (const auto &c : cases) {
        newHost();
        auto disk = lunA();
        std::string paths[] = {host->attach(disk, ScsiAddress{0, 0, 0, 0}).claimLevel(c.first).devicePath(),
                               host->attach(disk, ScsiAddress{1, 0, 0, 0}).claimLevel(c.second).devicePath()};
        CFiSmartPtr<CDevicePlugin> plugin = start();
        ASSERT_EQ(0, plugin->FillDeviceUdidMapping(false, false, false));
        ASSERT_EQ(1u, plugin->deviceUdidMap().count(kUdidA));
        const SDeviceInfo &entry = plugin->deviceUdidMap().at(kUdidA);
        EXPECT_EQ(paths[c.primary], entry.deviceName) << c.first << "/" << c.second;
        EXPECT_EQ(std::max(c.first, c.second), entry.dmpClaimLevel);
        EXPECT_EQ(std::vector<std::string>(paths, paths + 2), entry.nativeDevicePaths);
        std::string found;
        EXPECT_EQ(0, plugin->getDeviceNameForUDID(kUdidA, found, false));
        EXPECT_EQ(paths[c.primary], found);
    }
}

TEST_F(DeviceMap, AbsentUdidLooksThreeTimesRefreshingOnceAndRescanningOnlyWhenAsked) {
    const std::string path = host->attach(lunA(), ScsiAddress{0, 0, 0, 0}).devicePath();
    const std::string absent = "UDID##ACME##NONE##1";
    const std::vector<std::string> flow = {"Device ", "As rescan", "Dumping", "UDID = ", "\t\t ", "Printing m_deviceMap"};
    const std::vector<std::string> dump = {"Device mapping not available from m_deviceudidMap",
                                           "Dumping Device Map:",
                                           std::string("UDID = [") + kUdidA + "]",
                                           "\t\t deviceName = [" + path + "]",
                                           "\t\t dmpClaimLevel = [1]",
                                           "\t\t nativeDevicePaths = [" + path + "]"};
    for (bool rescan : {false, true}) {
        CFiSmartPtr<CDevicePlugin> plugin = start();
        unsigned busRescans = host->rescans(0);
        std::string name = "unchanged";
        EXPECT_EQ(6, plugin->getDeviceNameForUDID(absent, name, rescan));
        EXPECT_EQ("unchanged", name);
        const std::string retry = "Device not available for udid [" + absent + "], hence retrying by rebuilding map";
        // The first fill of the empty map, then the refresh.
        std::vector<std::string> expected = {"Printing m_deviceMap", retry + " after refreshingnative devices",
                                             "Printing m_deviceMap"};
        if (rescan)
            expected.insert(expected.end(), {retry + " after device rescan", "Printing m_deviceMap"});
        else
            expected.push_back("As rescan flag is not set, skipping the rescan itteration.");
        expected.insert(expected.end(), dump.begin(), dump.end());
        EXPECT_EQ(expected, lines(flow)) << "rescan " << rescan;
        EXPECT_EQ(rescan, host->rescans(0) > busRescans);
    }
}

// A disk that goes between enumeration and validation is not handed out.
TEST_F(DeviceMap, DiskGoneAfterEnumerationIsNotFound) {
    rendo_sim::Lun &lun = host->attach(lunA(), ScsiAddress{0, 0, 0, 0});
    CFiSmartPtr<CDevicePlugin> plugin = start();
    ASSERT_EQ(0, plugin->FillDeviceUdidMapping(false, false, false));
    const std::string path = lun.devicePath();
    host->unplug(lun);
    bool valid = true;
    EXPECT_EQ(0, plugin->isValidDisk(kUdidA, path, valid));
    EXPECT_FALSE(valid);
    std::string name;
    EXPECT_EQ(6, plugin->getDeviceNameForUDID(kUdidA, name, false));
    EXPECT_TRUE(name.empty());
}

// Validation reads the disk up to SCSI_INQ_RETRY_ATTEMPTS times, sleeping
// SCSI_INQ_RETRY_DELAY_IN_SEC on the host's clock after every mismatch; an
// unclaimed disk, or no attempts, reads nothing.
TEST_F(DeviceMap, ValidationRetriesAndSleepsOnTheVirtualClock) {
    const std::string three = "\"SCSI_INQ_RETRY_ATTEMPTS\"=dword:00000003\n", other = "UDID##OTHER##DISK##1";
    const struct {
        std::string tuning;
        uint32_t level;
        std::string udid;
        bool valid;
        std::vector<uint32_t> sleeps;
        bool reads;
    } cases[] = {
        {"", 1, other, false, {0}, true},  // the defaults: one read, one sleep of 0
        {three + "\"SCSI_INQ_RETRY_DELAY_IN_SEC\"=dword:00000002\n", 1, other, false, {2000, 2000, 2000}, true},
        {three + "\"SCSI_INQ_RETRY_DELAY_IN_SEC\"=dword:00000002\n", 1, kUdidA, true, {}, true},
        {three, 0, other, false, {}, false},
        {"\"SCSI_INQ_RETRY_ATTEMPTS\"=dword:00000000\n", 1, kUdidA, false, {}, false},
    };
    for (const auto &c : cases) {
        newHost();
        rendo_sim::Lun &lun = host->attach(lunA(), ScsiAddress{0, 0, 0, 0}).claimLevel(c.level);
        CFiSmartPtr<CDevicePlugin> plugin = start(c.tuning);
        lun.disk()->clearCommands();
        host->clearSleeps();
        bool valid = !c.valid;
        EXPECT_EQ(0, plugin->isValidDisk(c.udid, lun.devicePath(), valid));
        EXPECT_EQ(c.valid, valid) << c.tuning << c.udid;
        EXPECT_EQ(c.sleeps, host->sleeps()) << c.tuning << c.udid;
        EXPECT_EQ(c.reads, !lun.disk()->commands().empty()) << c.tuning << c.udid;
    }
}

// Reduces every name to an empty disk name.
struct EmptyingClaim : CDmpDeviceClaimBase {
    std::vector<std::string> getDeviceClaimStrings() override { return {}; }
    uint32_t claim(const std::string &) override { return 0; }
    bool isPartition(const std::string &) override { return true; }
    std::string appendPartitionSuffix(const std::string &, uint32_t) override { return ""; }
    std::string removePartitionSuffix(const std::string &, uint32_t &p) override { return p = 1, ""; }
};

TEST_F(DeviceMap, PartitionNamesBecomeDiskNamesOrAnError) {
    host->attach(lunA(), ScsiAddress{0, 0, 0, 0});
    CFiSmartPtr<CDevicePlugin> plugin = start();
    std::string disk;
    EXPECT_EQ(0, plugin->getDeviceNameFromPartition("\\\\.\\PHYSICALDRIVE3\\PARTITION2", disk));
    EXPECT_EQ("\\\\.\\PHYSICALDRIVE3", disk);
    EXPECT_EQ(0, plugin->getDeviceNameFromPartition("\\\\.\\PHYSICALDRIVE3", disk));
    EXPECT_EQ("\\\\.\\PHYSICALDRIVE3", disk);

    auto error = [&](const std::string &name) -> std::string {
        try {
            plugin->getDeviceNameFromPartition(name, disk);
        } catch (const CFiError &e) {
            EXPECT_EQ(6, e.code());
            EXPECT_EQ("CDevicePlugin::getDeviceNameFromPartition", CFiStringTool::toNarrow(e.function()));
            EXPECT_EQ("providers\\device\\device_plugin", CFiStringTool::toNarrow(e.file()));
            return CFiStringTool::toNarrow(e.text());
        }
        return "no error";
    };
    EXPECT_EQ("Error: Invalid rawprt name [], cannot initNode().", error(""));
    plugin->dmpManager().registerClaimModule(new EmptyingClaim);
    EXPECT_EQ("Error: Invalid device subobj from rawprt name [x\\PARTITION1], cannot initNode().",
              error("x\\PARTITION1"));
    // The map cannot be built then: its guard answers.
    EXPECT_EQ(6, plugin->FillDeviceUdidMapping(true, false, false));
}

} // namespace
