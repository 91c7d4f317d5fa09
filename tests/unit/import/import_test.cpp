// Import of snapshot devices on the host's virtual clock: the whole wait
// sequence, LUNs that appear on a given rescan, the map lookup that costs
// nothing, claim levels, and the framework operations built on the import.
#include "../device/plugin_fixture.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace kelm_pdk_4_4;
using rendo_sim::DiskSpec;
using rendo_sim::ScsiAddress;
using Sleeps = std::vector<uint32_t>;

using namespace rendo_test;
const char kAbsent[] = "UDID##ACME##NONE##1";

struct Import : PluginOnSimHost {
    Import() : PluginOnSimHost("IMPHOST") {}

    std::string import(CFiSmartPtr<CDevicePlugin> &plugin, const std::string &udid, uint32_t flags) {
        return plugin->importDevice(CFiStringTool::toWide(udid), 1, flags);
    }
};

// A UDID that never appears: the initial delay, then one doubling delay per
// attempt, the device-tree rescan only before the last enumeration.
TEST_F(Import, AbsentUdidSleepsTheWholeSequenceAndGivesUp) {
    host->addDisk(DiskSpec::make("ACME", "OTHER", "1", "O1"));
    const struct {
        std::string tuning;
        Sleeps sleeps;
        unsigned treeRescans;
        std::string givingUp;
    } cases[] = {
        {"", {5000, 10000, 20000, 40000, 80000}, 1, "retry attempt (5) waited for (155) sec."},
        {attempts(0), {5000}, 0, "retry attempt (1) waited for (5) sec."},
    };
    for (const auto &c : cases) {
        SetUp();
        CFiSmartPtr<CDevicePlugin> plugin = start(c.tuning);
        EXPECT_EQ("", import(plugin, kAbsent, 0));
        EXPECT_EQ(c.sleeps, host->sleeps()) << c.tuning;
        EXPECT_EQ(c.treeRescans, host->rootRescans()) << c.tuning;
        EXPECT_EQ(std::vector<std::string>{std::string("Giving Up for UDID ") + kAbsent + ", " + c.givingUp},
                  lines({"Giving Up"}));
    }
}

// Found on the attempt where the LUN appears, with the time waited so far:
// after the second bus rescan, or only by the device-tree rescan before the
// last enumeration (and with a single attempt, before that one).
TEST_F(Import, LateLunIsFoundOnTheAttemptItAppears) {
    const struct {
        int rescans; // -1: only a device-tree rescan shows it
        std::string tuning;
        Sleeps sleeps;
        int waited;
    } cases[] = {
        {2, "", {5000, 10000}, 15},
        {-1, "", {5000, 10000, 20000, 40000}, 75},
        {-1, attempts(1), {5000}, 5},
    };
    for (const auto &c : cases) {
        SetUp();
        rendo_sim::Lun &lun = host->attach(lunA(), ScsiAddress{0, 0, 0, 0});
        c.rescans < 0 ? lun.appearOnTreeRescan() : lun.appearAfterRescans(static_cast<unsigned>(c.rescans));
        CFiSmartPtr<CDevicePlugin> plugin = start(c.tuning);
        EXPECT_EQ(lun.devicePath(), import(plugin, kUdidA, 0));
        EXPECT_EQ(c.sleeps, host->sleeps()) << c.rescans;
        const std::string found = "importDevice: device found successful returning device [" + lun.devicePath() + "]";
        EXPECT_EQ(std::vector<std::string>{found + " total time waited [" + std::to_string(c.waited) + "] sec."},
                  lines({found + " total"}));
    }
}

// A UDID already mapped and valid: any bit of 0x700 returns it with no
// sleep, no rescan and no command to any other disk; flags 0 still sleep the
// initial delay; KEL_RESCAN_SKIP with a failed lookup gives up after it.
TEST_F(Import, MappedUdidCostsNothingWithLookupFlags) {
    rendo_sim::Lun &lun = host->attach(lunA(), ScsiAddress{0, 0, 0, 0});
    rendo_sim::Lun &other = host->addDisk(DiskSpec::make("ACME", "OTHER", "1", "O1"), ScsiAddress{0, 0, 1, 0});
    CFiSmartPtr<CDevicePlugin> plugin = start();
    ASSERT_EQ(0, plugin->FillDeviceUdidMapping(false, false, false));
    for (uint32_t flags : {0x100u, 0x200u, 0x400u, 0x700u}) {
        host->clearSleeps();
        const unsigned busRescans = host->rescans(0);
        const size_t otherCommands = other.disk()->commands().size();
        EXPECT_EQ(lun.devicePath(), import(plugin, kUdidA, flags)) << flags;
        EXPECT_TRUE(host->sleeps().empty()) << flags;
        EXPECT_EQ(busRescans, host->rescans(0)) << flags;
        EXPECT_EQ(otherCommands, other.disk()->commands().size()) << flags;
    }
    host->clearSleeps();
    EXPECT_EQ(lun.devicePath(), import(plugin, kUdidA, 0));
    EXPECT_EQ(Sleeps{5000}, host->sleeps());

    host->clearSleeps();
    const unsigned busRescans = host->rescans(0);
    capture.take();
    EXPECT_EQ("", import(plugin, kAbsent, KEL_RESCAN_SKIP));
    EXPECT_EQ(Sleeps{5000}, host->sleeps());
    EXPECT_EQ(busRescans, host->rescans(0));
    EXPECT_EQ(1u, lines({"KEL_RESCAN_SKIP is set so skipping rescan operations returning failure."}).size());
}

// Two paths carrying one UDID: the higher claim level wins, the first in key
// order on a tie; flags 0x300 record the match in the device-UDID map.
TEST_F(Import, ClaimLevelsChooseThePathAndLookupFlagsRecordIt) {
    const struct {
        uint32_t first, second;
        int chosen;
        uint32_t flags;
    } cases[] = {{2, 3, 1, 0}, {3, 2, 0, 0}, {2, 2, 0, 0}, {1, 3, 1, 0x200}};
    for (const auto &c : cases) {
        SetUp();
        auto disk = lunA();
        std::string paths[] = {host->attach(disk, ScsiAddress{0, 0, 0, 0}).claimLevel(c.first).devicePath(),
                               host->attach(disk, ScsiAddress{0, 0, 1, 0}).claimLevel(c.second).devicePath()};
        std::sort(paths, paths + 2);
        CFiSmartPtr<CDevicePlugin> plugin = start();
        // The map lookup is by exact key: asked in lower case it misses and
        // the import runs, recording the match under the discovered UDID.
        std::string udid = kUdidA;
        if (c.flags != 0) std::transform(udid.begin(), udid.end(), udid.begin(), ::tolower);
        EXPECT_EQ(paths[c.chosen], import(plugin, udid, c.flags)) << c.first << "/" << c.second;
        if (c.flags != 0) {
            ASSERT_EQ(1u, plugin->deviceUdidMap().count(kUdidA));
            EXPECT_EQ(std::max(c.first, c.second), plugin->deviceUdidMap().at(kUdidA).dmpClaimLevel);
        }
    }
}

// importResource: 20 for a UDID that never appears; with 0x1000 the disk is
// reserved with the given key and the name handed out; a failed reservation
// returns its own status and no name.
TEST_F(Import, ImportResourceReservesAndReportsMissingDevices) {
    rendo_sim::Lun &lun = host->attach(lunA(), ScsiAddress{0, 0, 0, 0});
    CFiSmartPtr<CDevicePlugin> plugin = start(attempts(1));
    std::wstring udid = wide(kUdidA), absent = wide(kAbsent), key = L"c0a80001";
    wchar_t *name = nullptr;
    EXPECT_EQ(KEL_ENODEV, plugin->importResource(&name, &absent[0], nullptr, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(nullptr, name);
    // The replacement UDID wins over the given one.
    wchar_t *replacement = &udid[0];
    ASSERT_EQ(0, plugin->importResource(&name, &absent[0], nullptr, &key[0], 0x1000 | 0x4000, &replacement, nullptr));
    ASSERT_NE(nullptr, name);
    EXPECT_EQ(lun.devicePath(), CFiStringTool::toNarrow(name));
    CFiStringTool::tstrfree(name);
    name = nullptr;
    rendo_sim::ReservationState held = lun.disk()->reservation();
    ASSERT_EQ(1u, held.registrations.size());
    EXPECT_EQ(0x6330613830303031ull, held.registrations[0].key); // the key's eight characters are its eight bytes
    EXPECT_TRUE(held.reserved);

    lun.disk()->failCommand(0x5F);
    EXPECT_EQ(CDevicePlugin::kStatusReserveFailed,
              plugin->importResource(&name, &udid[0], nullptr, &key[0], 0x1000 | 0x4000, nullptr, nullptr));
    EXPECT_EQ(nullptr, name);
    EXPECT_EQ(KEL_EINVAL, plugin->importResource(nullptr, &udid[0], nullptr, nullptr, 0, nullptr, nullptr));
}

// importTreeNode and enableAccess: invalid identifiers, the device's
// identifier handed out, renaming only what changed, the two-UDID stop.
TEST_F(Import, TreeNodeAndEnableAccessNameTheImportedDevice) {
    rendo_sim::Lun &lun = host->attach(lunA(), ScsiAddress{0, 0, 0, 0});
    CFiSmartPtr<CDevicePlugin> plugin = start(attempts(1));
    const std::wstring path = wide(lun.devicePath());
    Objid udidId(kUdidA), nullName("x"), oldId("OLD");
    wchar_t *keep = nullName.id->name;
    nullName.id->name = nullptr;
    kel_domain node{};
    kelm_objid *out = nullptr, *none[] = {nullptr}, *bad[] = {nullName.id}, *good[] = {udidId.id};
    EXPECT_EQ(KEL_EINVAL, plugin->importTreeNode(&node, nullptr, nullptr, 0, &out));
    EXPECT_EQ(KEL_EINVAL, plugin->importTreeNode(&node, nullptr, none, 0, &out));
    EXPECT_EQ(KEL_EINVAL, plugin->importTreeNode(&node, nullptr, bad, 0, &out));
    nullName.id->name = keep;
    ASSERT_EQ(0, plugin->importTreeNode(&node, nullptr, good, 0, &out));
    ASSERT_NE(nullptr, out);
    EXPECT_EQ(path, std::wstring(out->name));
    EXPECT_EQ(3u, out->flags);
    kelm_free_objid(out);

    // enableAccess: the object named by another text takes the device's identifier.
    kel_domain object{}, sub{}, sub2{};
    object.obj = oldId.id;
    sub.obj = sub2.obj = udidId.id;
    kel_domain *subs[] = {&sub, &sub2};
    kel_node_subobj_list element{&object, subs, 1, 0, nullptr};
    EXPECT_EQ(0, plugin->enableAccess(&element, 0, 0, 0x1));
    EXPECT_EQ(oldId.id, object.obj);
    EXPECT_EQ(0, plugin->enableAccess(&element, 0, 0, 0));
    ASSERT_NE(oldId.id, object.obj);
    EXPECT_EQ(path, std::wstring(object.obj->name));
    kelm_objid *renamed = object.obj;
    capture.take();
    EXPECT_EQ(0, plugin->enableAccess(&element, 0, 0, 0));
    EXPECT_EQ(renamed, object.obj);
    EXPECT_EQ(1u, lines({"CDevicePlugin::enableAccess - no change in namespace"}).size());
    element.subobj_count = 2;
    EXPECT_EQ(KEL_EFAIL, plugin->enableAccess(&element, 0, 0, 0));
    kelm_free_objid(renamed);
}

} // namespace
