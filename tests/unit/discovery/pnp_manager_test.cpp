// The PnP manager against the simulated host: Configuration Manager helpers,
// the adapter rescan, DOS device paths and the records it makes.
#include "discovery/pnp_manager.h"
#include "discovery_test_util.h"

namespace {

using namespace discovery_test;
using rendo_sim::DiskSpec;

const char kGrow[] = "WARNING: insufficient buffer for getting device list in CPnpManager::enumerateNativeDevicePaths";

using PnpManagerTest = PnpOnSimHost<CPnpManager>;

TEST_F(PnpManagerTest, DiskPathsAreThePhysicalDriveNamesUpperCasedOrNoneOnFailure) {
    host->addDisk(DiskSpec::make("ACME", "A", "1"));
    host->addDosName("CdRom0", "\\Device\\CdRom0");
    host->addDosName("physicaldrive7", "\\Device\\Harddisk7\\DR7");  // wrong case: skipped
    host->addDosName("PhysicalDrive12", "\\Device\\Harddisk12\\DR12");
    EXPECT_EQ(pnp.enumerateNativeDevicePaths(),
              (std::vector<std::string>{"\\\\.\\PHYSICALDRIVE12", "\\\\.\\PHYSICALDRIVE0"}));
    EXPECT_EQ(countOf(trace.take(), kGrow), 0u);

    // About 40000 characters of other names: read on the second try.
    for (int i = 0; i < 2000; ++i) host->addDosName("GLOBALROOTNAME" + std::to_string(10000 + i), "\\Device\\X");
    EXPECT_EQ(pnp.enumerateNativeDevicePaths().size(), 2u);
    EXPECT_EQ(countOf(trace.take(), kGrow), 1u);

    // Failures give an empty list.
    host->failCall("QueryDosDeviceW", 5 /* ERROR_ACCESS_DENIED */);
    EXPECT_TRUE(pnp.enumerateNativeDevicePaths().empty());

    // A list that never fits: two growths, then an error, not ever larger buffers.
    host->failCall("QueryDosDeviceW", ERROR_INSUFFICIENT_BUFFER, -1);
    EXPECT_TRUE(pnp.enumerateNativeDevicePaths().empty());
    EXPECT_EQ(countOf(trace.take(), kGrow), 2u);
}

TEST_F(PnpManagerTest, RecordsCarryThePathAndNoInquiryYet) {
    rendo_sim::Lun &lun = host->addDisk(DiskSpec::make("ACME", "A", "1"));
    Records all{pnp.enumerateDevices()}, one{pnp.validateEnumerateDevices("\\\\.\\PHYSICALDRIVE77")};  // need not exist
    ASSERT_TRUE(all.v.size() == 1 && one.v.size() == 1);
    for (const CScsiDeviceData *d : {all.v[0], one.v[0]})
        EXPECT_EQ(d->m_vendorId + d->m_productId + d->m_firmwareLevel, "");
    EXPECT_EQ(all.v[0]->m_deviceName + "|" + one.v[0]->m_deviceName, "\\\\.\\PHYSICALDRIVE0|\\\\.\\PHYSICALDRIVE77");
    EXPECT_TRUE(lun.disk()->commands().empty());
}

// The bus rescan re-enumerates each SCSI adapter, never the root (that a
// masked disk appears after its rescans is the discovery base's case).
TEST_F(PnpManagerTest, ConfigurationManagerFailures) {
    EXPECT_EQ(pnp.rescanScsiBus(false), 0);  // no adapters: nothing to re-enumerate
    host->addDisk(DiskSpec::make("ACME", "A", "1"));
    host->addDisk(DiskSpec::make("ACME", "B", "1"), rendo_sim::ScsiAddress{1, 0, 0, 0});

    host->failCall("CM_Get_Device_ID_List_Size", CR_FAILURE);
    EXPECT_EQ(pnp.rescanScsiBus(false), 6);
    EXPECT_EQ(severityOf(trace.take(), "libscsitool: ERROR: Unable to rescan, cannot get buffer size."), kLevel1);

    host->failCall("CM_Get_Device_ID_List", CR_REGISTRY_ERROR);
    wchar_t *list = reinterpret_cast<wchar_t *>(1);
    EXPECT_EQ(pnp.GetDeviceIDList(&list), CR_REGISTRY_ERROR);
    EXPECT_EQ(list, nullptr);

    // One adapter's failure is logged and the next is still asked.
    host->failCall("CM_Reenumerate_DevNode", CR_REMOVE_VETOED, 1);
    EXPECT_EQ(pnp.rescanScsiBus(false), 0);
    EXPECT_EQ(host->rescans(0) + host->rescans(1), 1u);
    EXPECT_EQ(host->rootRescans(), 0u);
    std::vector<std::string> failed =
        linesWith(trace.take(), "libscsitool: INFO: CPnpManager::ReenumerateDevNode() failed for device [PCI\\");
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_NE(failed[0].find("] with error [23]."), std::string::npos);

    // Unreadable class properties: nothing is re-enumerated, the rescan succeeds.
    host->failCall("CM_Get_DevNode_Registry_Property", CR_REGISTRY_ERROR, -1);
    EXPECT_EQ(pnp.rescanScsiBus(false), 0);
    EXPECT_EQ(host->rescans(0) + host->rescans(1), 1u);
}

// The SCSI adapter class is found by its GUID, in either case (the bus
// rescan above relies on it); unknown IDs and nodes give nothing back.
TEST_F(PnpManagerTest, DeviceIdsPropertiesAndGuids) {
    GUID upper, lower, g;
    ASSERT_TRUE(pnp.GuidFromString(L"{4D36E97B-E325-11CE-BFC1-08002BE10318}", &upper));
    ASSERT_TRUE(pnp.GuidFromString(L"{4d36e97b-e325-11ce-bfc1-08002be10318}", &lower));
    EXPECT_TRUE(pnp.GuidEqual(upper, lower));
    ASSERT_TRUE(pnp.GuidFromString(L"{4D36E967-E325-11CE-BFC1-08002BE10318}", &g));
    EXPECT_FALSE(pnp.GuidEqual(upper, g));
    for (const wchar_t *bad : {L"", L"4D36E97B-E325-11CE-BFC1-08002BE10318", L"{4D36E97B-E325-11CE-BFC1-08002BE10318",
                               L"{4D36E97B-E325-11CE-BFC1-08002BE10318}x", L"{4D36E97B-E325-11CE-BFC1-08002BE1031Z}"})
        EXPECT_FALSE(pnp.GuidFromString(bad, &g)) << std::wcslen(bad);
    EXPECT_EQ(pnp.DeviceIdToDeviceInstance(L"SCSI\\NOSUCH\\0"), 0u);
    EXPECT_THROW(pnp.DeviceIdToDeviceInstance(nullptr), int);
    wchar_t *value = reinterpret_cast<wchar_t *>(1);
    EXPECT_EQ(pnp.GetDevicePropertyString(0xDEAD, CM_DRP_CLASSGUID, &value), CR_INVALID_DEVNODE);
    EXPECT_EQ(value, nullptr);
}

} // namespace
