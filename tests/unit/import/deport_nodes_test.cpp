// Deport (release, removal, forgetting the UDID) and the node operations
// (initNode, initAltNode, buildAltTree, checkNodeExistence) on a simulated host.
#include "../device/plugin_fixture.h"

#include <string>
#include <vector>

namespace {

using namespace kelm_pdk_4_4;
using rendo_sim::ScsiAddress;
using namespace rendo_test;

struct DeportNodes : PluginOnSimHost {
    DeportNodes() : PluginOnSimHost("DEPHOST") {}
};

// Removal needs the UDID form and a pre-deport record; 0x400 skips both
// steps unless 0x40 forces removal; every removal re-enumerates with a rescan.
TEST_F(DeportNodes, DeportRemovesOnlyWhatWasPreparedAndAskedFor) {
    const struct {
        bool byUdid;
        int flags;
        bool recorded, removed, forgotten, rescanned;
    } cases[] = {
        {true, 0x40, true, true, true, true},          {true, 0x10, true, true, true, true},
        {true, 0x400 | 0x10, false, false, false, false}, {false, 0x10, true, false, false, true},
        {true, 0x400 | 0x40, false, false, true, true}, {true, 0, true, false, false, false},
    };
    for (const auto &c : cases) {
        newHost();
        rendo_sim::Lun &lun = host->attach(lunA(), ScsiAddress{0, 0, 0, 0});
        CFiSmartPtr<CDevicePlugin> plugin = start(attempts(1));
        ASSERT_EQ(0, plugin->FillDeviceUdidMapping(false, false, false));
        std::wstring name = wide(c.byUdid ? kUdidA : lun.devicePath());
        EXPECT_EQ(0, plugin->preDeportResource(&name[0], c.flags, nullptr)) << c.flags;
        EXPECT_EQ(c.recorded ? 1u : 0u, host->openDeviceInfoSets()) << c.flags;
        const unsigned rescans = host->rescans(0);
        EXPECT_EQ(0, plugin->deportResource(&name[0], nullptr, nullptr, nullptr, c.flags)) << c.flags;
        EXPECT_EQ(c.removed, !lun.present()) << c.flags;
        EXPECT_EQ(c.removed ? 1u : 0u, host->removals().size()) << c.flags;
        EXPECT_EQ(c.forgotten ? 0u : 1u, plugin->deviceUdidMap().count(kUdidA)) << c.flags;
        EXPECT_EQ(c.rescanned, host->rescans(0) > rescans) << c.flags;
        EXPECT_EQ(c.recorded && !c.removed ? 1u : 0u, host->openDeviceInfoSets()) << c.flags;
        EXPECT_EQ(KEL_EINVAL, plugin->deportResource(nullptr, nullptr, nullptr, nullptr, c.flags));
    }
}

// Reserved on import with this host's key when none is given (the key
// derived from its address, eight characters as eight bytes), released on
// deport with it; a failed release stops before removal.
TEST_F(DeportNodes, ReleaseUndoesTheImportReservation) {
    host->addIpAddress("10.9.8.7");
    rendo_sim::Lun &lun = host->attach(lunA(), ScsiAddress{0, 0, 0, 0});
    CFiSmartPtr<CDevicePlugin> plugin = start(attempts(1));
    std::wstring udid = wide(kUdidA);
    wchar_t *name = nullptr;
    ASSERT_EQ(0, plugin->importResource(&name, &udid[0], nullptr, nullptr, 0x1000 | 0x4000, nullptr, nullptr));
    CFiStringTool::tstrfree(name);
    rendo_sim::ReservationState held = lun.disk()->reservation();
    ASSERT_EQ(1u, held.registrations.size());
    EXPECT_EQ(0x3061303930383037ull, held.registrations[0].key); // "0a090807"
    ASSERT_TRUE(held.reserved);
    ASSERT_EQ(0, plugin->preDeportResource(&udid[0], 0x10, nullptr));
    // A step of the release failing: its status, and the disk stays.
    lun.disk()->failCommand(0x5F, 0x05, 0x24, 0x00, 1);
    EXPECT_EQ(CDevicePlugin::kStatusReleaseFailed,
              plugin->deportResource(&udid[0], nullptr, nullptr, nullptr, 0x800 | 0x4000 | 0x10));
    EXPECT_TRUE(lun.present());
    EXPECT_EQ(0, plugin->deportResource(&udid[0], nullptr, nullptr, nullptr, 0x800 | 0x4000 | 0x10));
    EXPECT_FALSE(lun.disk()->reservation().reserved);
    EXPECT_TRUE(lun.disk()->reservation().registrations.empty());
    EXPECT_FALSE(lun.present());
}

// initNode: the node prepared and the disk's UDID its only sub-object; a
// claimed UDID adds none; an empty name is a guarded error. initAltNode
// needs a target with a UDID.
TEST_F(DeportNodes, InitNodeAndInitAltNodeRecordTheDiskUdidOnce) {
    rendo_sim::Lun &lun = host->attach(lunA(), ScsiAddress{0, 0, 0, 0});
    CFiSmartPtr<CDevicePlugin> plugin = start(attempts(1));
    const struct {
        std::string name;
        int rc;
        int subobjs;
    } cases[] = {{lun.devicePath(), 0, 1}, {kUdidA, 0, 0}, {"\\\\.\\PHYSICALDRIVE9", 0, 0}, {"", 6, 0}};
    for (const auto &c : cases) {
        Objid id(c.name);
        kel_domain node{};
        node.obj = id.id;
        node.field11 = &node;
        for (int round = 0; round < 2; ++round) EXPECT_EQ(c.rc, plugin->initNode(&node, nullptr, 0, nullptr)) << c.name;
        EXPECT_EQ(0x1002u, node.state);
        EXPECT_EQ(id.id->name, node.name);
        EXPECT_EQ(nullptr, node.field11);
        CFiPrivateDataPtr data = privateData->getFactory()->get(&node);
        ASSERT_FALSE(data.isNull());
        ASSERT_EQ(c.subobjs, data->getSubObjectListLength()) << c.name;
        if (c.subobjs == 1) {
            EXPECT_EQ(wide(kUdidA), std::wstring(data->getSubObjectList()[0]->name));
        }
        data.reset();
        privateData->getFactory()->release(&node);
    }
    EXPECT_EQ("MSG_ERROR_UNHANDLED_FIERROR_EXCEPTION", lastMessageId());

    EXPECT_EQ(6, plugin->initAltNode(nullptr, nullptr, nullptr, false));
    Objid missing("\\\\.\\PHYSICALDRIVE9"), disk(lun.devicePath());
    kel_domain target{};
    target.obj = missing.id;
    EXPECT_EQ(6, plugin->initAltNode(nullptr, nullptr, &target, false));
    EXPECT_EQ("MSG_ERROR_UDID_NOT_FOUND", lastMessageId());
    privateData->getFactory()->release(&target);
    kel_domain present{};
    present.obj = disk.id;
    present.state = 0x4;
    capture.take();
    EXPECT_EQ(0, plugin->initAltNode(nullptr, nullptr, &present, false));
    EXPECT_EQ(1u, scsitool_test::countOf(capture.take(), "initAltNode: targetName " + lun.devicePath() +
                                                             " parentName null primaryName null"));
    EXPECT_EQ(0x1002u, present.state);
    CFiPrivateDataPtr data = privateData->getFactory()->get(&present);
    ASSERT_FALSE(data.isNull());
    EXPECT_EQ(1, data->getSubObjectListLength());
    data.reset();
    privateData->getFactory()->release(&present);
}

// checkNodeExistence: a child's "text>UDID" names the UDID; the higher claim
// level wins, the first in key order on a tie; the node then names the disk.
TEST_F(DeportNodes, CheckNodeExistencePointsTheNodeAtTheDevice) {
    const struct {
        uint32_t first, second;
        int chosen;
    } cases[] = {{1, 1, 0}, {1, 2, 1}, {2, 1, 0}};
    for (const auto &c : cases) {
        newHost();
        auto d = lunA();
        std::string paths[] = {host->attach(d, ScsiAddress{0, 0, 0, 0}).claimLevel(c.first).devicePath(),
                               host->attach(d, ScsiAddress{0, 0, 1, 0}).claimLevel(c.second).devicePath()};
        CFiSmartPtr<CDevicePlugin> plugin = start(attempts(1));
        Objid self("anything"), childName(std::string("vol>") + kUdidA);
        kel_domain node{}, child{};
        node.obj = self.id;
        child.obj = childName.id;
        node.child = &child;
        int exists = -1;
        ASSERT_EQ(0, plugin->checkNodeExistence(&node, &exists)) << lastMessageId();
        EXPECT_EQ(1, exists);
        ASSERT_NE(self.id, node.obj);
        EXPECT_EQ(1u, node.obj->flags);
        EXPECT_EQ(wide(paths[c.chosen]), std::wstring(node.obj->name));
        kelm_free_objid(node.obj);
    }
    CFiSmartPtr<CDevicePlugin> plugin = start(attempts(1));
    Objid claimed(kUdidA), absent("UDID##ACME##NONE##1");
    kel_domain node{}, child{};
    node.obj = claimed.id;
    int exists = 0;
    EXPECT_EQ(0, plugin->checkNodeExistence(&node, &exists));
    EXPECT_EQ(1, exists);
    Objid self("plain");
    node.obj = self.id;
    child.obj = absent.id;
    kel_domain alt{}, altChild{};
    node.altnode = &alt;
    alt.child = &altChild;
    altChild.altnode = &child;
    EXPECT_EQ(0, plugin->checkNodeExistence(&node, &exists));
    EXPECT_EQ(0, exists);
    EXPECT_EQ(self.id, node.obj);
}

TEST_F(DeportNodes, BuildAltTreeFindsMappedDevicesWithoutWaiting) {
    rendo_sim::Lun &lun = host->attach(lunA(), ScsiAddress{0, 0, 0, 0});
    CFiSmartPtr<CDevicePlugin> plugin = start(attempts(1));
    ASSERT_EQ(0, plugin->FillDeviceUdidMapping(false, false, false));
    Objid udid(kUdidA), absent("UDID##ACME##NONE##1");
    kelm_objid *out = nullptr;
    ASSERT_EQ(0, plugin->buildAltTree(nullptr, nullptr, nullptr, &udid.id, 0, &out));
    ASSERT_NE(nullptr, out);
    EXPECT_EQ(wide(lun.devicePath()), std::wstring(out->name));
    EXPECT_TRUE(host->sleeps().empty());
    kelm_free_objid(out);
    out = nullptr;
    EXPECT_EQ(3, plugin->buildAltTree(nullptr, nullptr, nullptr, &absent.id, 0, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ("MSG_ERROR_DEVICE_NOT_FOUND", lastMessageId());
    // Both import calls slept their initial delay, the full one its retry too.
    EXPECT_EQ((std::vector<uint32_t>{5000, 5000, 10000}), host->sleeps());
}

} // namespace
