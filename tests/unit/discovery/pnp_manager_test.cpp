// The PnP manager against the simulated host: Configuration Manager helpers,
// the adapter rescan, DOS device paths and the records it makes.
#include "discovery/pnp_manager.h"
#include "../scsitool/trace_capture.h"

#include "platform/simhost.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using namespace scsitool_test;
using rendo_sim::DiskSpec;

size_t countOf(const std::vector<TraceLine> &lines, const std::string &text) {
    size_t n = 0;
    for (const TraceLine &l : lines) n += l.message == text;
    return n;
}

struct Records {
    std::vector<CScsiDeviceData *> v;
    ~Records() {
        for (CScsiDeviceData *d : v) delete d;
    }
};

class PnpManagerTest : public ::testing::Test {
protected:
    void SetUp() override { pnp.registerTraceLog(trace.log()); }

    std::shared_ptr<rendo_sim::Host> host = rendo_sim::Host::create("PNPHOST");
    rendo_sim::ScopedHost use{host};
    TraceCapture trace;
    CPnpManager pnp;
};

TEST_F(PnpManagerTest, DiskPathsAreThePhysicalDriveNamesUpperCased) {
    host->addDisk(DiskSpec::make("ACME", "A", "1"));
    host->addDisk(DiskSpec::make("ACME", "B", "1"));
    host->addDosName("CdRom0", "\\Device\\CdRom0");
    host->addDosName("physicaldrive7", "\\Device\\Harddisk7\\DR7");   // wrong case: skipped
    host->addDosName("PhysicalDrive12", "\\Device\\Harddisk12\\DR12");
    host->addDosName("PHYSICALDRIVE8", "\\Device\\Harddisk8\\DR8");   // wrong case: skipped
    std::vector<std::string> paths = pnp.enumerateNativeDevicePaths();
    // Extra names come first in the simulated DOS list.
    EXPECT_EQ(paths, (std::vector<std::string>{"\\\\.\\PHYSICALDRIVE12", "\\\\.\\PHYSICALDRIVE0",
                                               "\\\\.\\PHYSICALDRIVE1"}));
    std::vector<TraceLine> lines = trace.take();
    EXPECT_EQ(severityOf(lines, "INFO: adding device [\\\\.\\PHYSICALDRIVE12]"), kLevel3);
    EXPECT_EQ(countOf(lines, "WARNING: insufficient buffer for getting device list in "
                             "CPnpManager::enumerateNativeDevicePaths"),
              0u);
}

TEST_F(PnpManagerTest, ALongDosListIsReadOnTheSecondTry) {
    host->addDisk(DiskSpec::make("ACME", "A", "1"));
    // About 40000 characters of other names push the list past 32768.
    for (int i = 0; i < 2000; ++i) host->addDosName("GLOBALROOTNAME" + std::to_string(10000 + i), "\\Device\\X");
    host->addDosName("PhysicalDrive42", "\\Device\\Harddisk42\\DR42");
    std::vector<std::string> paths = pnp.enumerateNativeDevicePaths();
    EXPECT_EQ(paths, (std::vector<std::string>{"\\\\.\\PHYSICALDRIVE42", "\\\\.\\PHYSICALDRIVE0"}));
    std::vector<TraceLine> lines = trace.take();
    EXPECT_EQ(countOf(lines, "WARNING: insufficient buffer for getting device list in "
                             "CPnpManager::enumerateNativeDevicePaths"),
              1u);
    EXPECT_EQ(severityOf(lines, "WARNING: insufficient buffer for getting device list in "
                                "CPnpManager::enumerateNativeDevicePaths"),
              kLevel2);
}

TEST_F(PnpManagerTest, QueryDosDeviceFailuresGiveAnEmptyList) {
    host->addDisk(DiskSpec::make("ACME", "A", "1"));
    host->failCall("QueryDosDeviceW", 5 /* ERROR_ACCESS_DENIED */);
    EXPECT_TRUE(pnp.enumerateNativeDevicePaths().empty());
    EXPECT_EQ(severityOf(trace.take(),
                         "ERROR: QueryDosDevice failed in CPnpManager::enumerateNativeDevicePaths with lasterror 5l"),
              kLevel1);

    // A list that never fits: three growths, then an error rather than
    // ever larger buffers.
    host->failCall("QueryDosDeviceW", ERROR_INSUFFICIENT_BUFFER, -1);
    EXPECT_TRUE(pnp.enumerateNativeDevicePaths().empty());
    std::vector<TraceLine> lines = trace.take();
    EXPECT_EQ(countOf(lines, "WARNING: insufficient buffer for getting device list in "
                             "CPnpManager::enumerateNativeDevicePaths"),
              2u);
    EXPECT_EQ(severityOf(lines,
                         "ERROR: QueryDosDevice failed in CPnpManager::enumerateNativeDevicePaths with lasterror 122l"),
              kLevel1);
}

TEST_F(PnpManagerTest, RecordsCarryThePathTheHostAndNoInquiryYet) {
    rendo_sim::Lun &lun = host->addDisk(DiskSpec::make("ACME", "A", "1"));
    Records all;
    all.v = pnp.enumerateDevices();
    ASSERT_EQ(all.v.size(), 1u);
    const CScsiDeviceData &d = *all.v[0];
    EXPECT_EQ(d.m_deviceName, "\\\\.\\PHYSICALDRIVE0");
    EXPECT_EQ(d.m_alternateDevicePath, d.m_deviceName);
    EXPECT_EQ(d.m_hostName, "PNPHOST");
    EXPECT_EQ(d.m_portNumber, 0xFFFFFFFFu);
    EXPECT_EQ(d.m_targetId + d.m_pathId + d.m_lun, 0u);
    EXPECT_EQ(d.m_vendorId + d.m_productId + d.m_firmwareLevel, "");
    EXPECT_EQ(d.m_capacity, 0u);
    EXPECT_TRUE(lun.disk()->commands().empty());
    std::vector<TraceLine> lines = trace.take();
    EXPECT_EQ(severityOf(lines, "libscsitool: DEBUG: Enetering CPnpManager::enumerateDevices()."), kLevel6);
    EXPECT_EQ(severityOf(lines, "libscsitool: DEBUG: Exiting CPnpManager::enumerateDevices()."), kLevel6);

    Records one;
    one.v = pnp.validateEnumerateDevices("\\\\.\\PHYSICALDRIVE77");  // need not exist
    ASSERT_EQ(one.v.size(), 1u);
    EXPECT_EQ(one.v[0]->m_deviceName, "\\\\.\\PHYSICALDRIVE77");
    lines = trace.take();
    EXPECT_EQ(severityOf(lines, "libscsitool: DEBUG: Enetering CPnpManager::validateenumerateDevices()."), kLevel6);
    EXPECT_EQ(severityOf(lines, "libscsitool: DEBUG: Exiting CPnpManager::enumerateDevices()."), kLevel6);
}

TEST_F(PnpManagerTest, BusRescanReenumeratesEveryScsiAdapter) {
    EXPECT_EQ(pnp.rescanScsiBus(false), 0);  // no adapters: nothing to re-enumerate
    EXPECT_EQ(countOf(trace.take(), "libscsitool: DEBUG: Entering CPnpManager::ReenumerateDevNode()"), 0u);

    host->addDisk(DiskSpec::make("ACME", "A", "1"), rendo_sim::ScsiAddress{0, 0, 0, 0});
    rendo_sim::Lun &late = host->addDisk(DiskSpec::make("ACME", "B", "1"), rendo_sim::ScsiAddress{2, 0, 0, 0});
    late.appearAfterRescans(2);
    EXPECT_EQ(pnp.rescanScsiBus(true), 0);
    EXPECT_FALSE(late.present());
    EXPECT_EQ(pnp.rescanScsiBus(true), 0);
    EXPECT_TRUE(late.present());
    EXPECT_EQ(host->rescans(0), 2u);
    EXPECT_EQ(host->rescans(2), 2u);
    EXPECT_EQ(host->rootRescans(), 0u);
    std::vector<TraceLine> lines = trace.take();
    EXPECT_EQ(countOf(lines, "libscsitool: DEBUG: Entering CPnpManager::ReenumerateDevNode()"), 4u);
    EXPECT_EQ(countOf(lines, "libscsitool: DEBUG: Exiting CPnpManager::ReenumerateDevNode()"), 4u);
    EXPECT_EQ(countOf(lines, "libscsitool: DEBUG: Exiting CPnpManager::rescanScsiBus()"), 2u);
    EXPECT_EQ(countOf(lines, "libscsitool: DEBUG: Exiting CPnpManager::GetDeviceIDList()"), 2u);
}

TEST_F(PnpManagerTest, ConfigurationManagerFailures) {
    host->addDisk(DiskSpec::make("ACME", "A", "1"));
    host->addDisk(DiskSpec::make("ACME", "B", "1"), rendo_sim::ScsiAddress{1, 0, 0, 0});

    host->failCall("CM_Get_Device_ID_List_Size", CR_FAILURE);
    EXPECT_EQ(pnp.rescanScsiBus(false), 6);
    std::vector<TraceLine> lines = trace.take();
    EXPECT_EQ(severityOf(lines, "libscsitool: ERROR: Unable to rescan, cannot get buffer size."), kLevel1);
    EXPECT_EQ(severityOf(lines, "libscsitool: ERROR: GetDeviceIDList() failed."), kLevel1);
    EXPECT_EQ(severityOf(lines, "libscsitool: ERROR: CPnpManager::rescanScsiBus() failed."), kLevel1);

    host->failCall("CM_Get_Device_ID_List", CR_REGISTRY_ERROR);
    wchar_t *list = reinterpret_cast<wchar_t *>(1);
    EXPECT_EQ(pnp.GetDeviceIDList(&list), CR_REGISTRY_ERROR);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(severityOf(trace.take(), "libscsitool: ERROR: CPnpManager::GetDeviceIDList() failed."), kLevel1);

    // One adapter's failure is logged and the next is still asked.
    host->failCall("CM_Reenumerate_DevNode", CR_REMOVE_VETOED, 1);
    EXPECT_EQ(pnp.rescanScsiBus(false), 0);
    EXPECT_EQ(host->rescans(0) + host->rescans(1), 1u);
    lines = trace.take();
    size_t failed = 0;
    for (const TraceLine &l : lines)
        failed += l.message.rfind("libscsitool: INFO: CPnpManager::ReenumerateDevNode() failed for device [PCI\\VEN_1077", 0) == 0 &&
                  l.message.find("] with error [23].") != std::string::npos && l.severity == kLevel6;
    EXPECT_EQ(failed, 1u);

    // Unreadable class properties: nothing is re-enumerated, the rescan succeeds.
    host->failCall("CM_Get_DevNode_Registry_Property", CR_REGISTRY_ERROR, -1);
    EXPECT_EQ(pnp.rescanScsiBus(false), 0);
    EXPECT_EQ(host->rescans(0) + host->rescans(1), 1u);
}

TEST_F(PnpManagerTest, DeviceIdsPropertiesAndGuids) {
    host->addDisk(DiskSpec::make("ACME", "A", "1"));
    wchar_t *list = nullptr;
    ASSERT_EQ(pnp.GetDeviceIDList(&list), CR_SUCCESS);
    std::wstring adapter;
    for (const wchar_t *id = list; *id != L'\0'; id += std::wcslen(id) + 1)
        if (std::wstring(id).rfind(L"PCI\\", 0) == 0) adapter = id;
    HeapFree(GetProcessHeap(), 0, list);
    ASSERT_FALSE(adapter.empty());

    DEVINST inst = pnp.DeviceIdToDeviceInstance(adapter.c_str());
    ASSERT_NE(inst, 0u);
    EXPECT_EQ(pnp.DeviceIdToDeviceInstance(L"SCSI\\NOSUCH\\0"), 0u);
    wchar_t *value = reinterpret_cast<wchar_t *>(1);
    ASSERT_EQ(pnp.GetDevicePropertyString(inst, CM_DRP_CLASSGUID, &value), CR_SUCCESS);
    EXPECT_EQ(std::wstring(value), L"{4D36E97B-E325-11CE-BFC1-08002BE10318}");
    GUID parsed, lower;
    EXPECT_TRUE(pnp.GuidFromString(value, &parsed));
    EXPECT_TRUE(pnp.GuidFromString(L"{4d36e97b-e325-11ce-bfc1-08002be10318}", &lower));
    EXPECT_TRUE(pnp.GuidEqual(parsed, lower));
    HeapFree(GetProcessHeap(), 0, value);
    value = reinterpret_cast<wchar_t *>(1);
    EXPECT_EQ(pnp.GetDevicePropertyString(0xDEAD, CM_DRP_CLASSGUID, &value), CR_INVALID_DEVNODE);
    EXPECT_EQ(value, nullptr);

    GUID g;
    for (const wchar_t *bad : {L"", L"4D36E97B-E325-11CE-BFC1-08002BE10318", L"{4D36E97B-E325-11CE-BFC1-08002BE10318",
                               L"{4D36E97B-E325-11CE-BFC1-08002BE10318}x", L"{4D36E97B-E325-11CE-BFC1-08002BE1031}",
                               L"{4D36E97B-E325-11CE-BFC1-08002BE1031Z}", L"{}"})
        EXPECT_FALSE(pnp.GuidFromString(bad, &g)) << std::string(bad, bad + std::wcslen(bad));
    GUID other;
    ASSERT_TRUE(pnp.GuidFromString(L"{4D36E967-E325-11CE-BFC1-08002BE10318}", &other));
    EXPECT_FALSE(pnp.GuidEqual(parsed, other));

    trace.take();
    try {
        pnp.DeviceIdToDeviceInstance(nullptr);
        ADD_FAILURE() << "a null ID must throw";
    } catch (int status) {
        EXPECT_EQ(status, 6);
    }
    std::vector<TraceLine> lines = trace.take();
    EXPECT_EQ(severityOf(lines, "libscsitool: ERROR: Invalid DeviceId."), kLevel1);
    EXPECT_EQ(severityOf(lines, "libscsitool: ERROR: CPnpManager::DeviceIdToDeviceInstance() failed."), kLevel1);
}

} // namespace
