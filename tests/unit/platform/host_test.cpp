// The simulated host as discovery meets it: DOS names, rescans, removal and
// scripted faults (the device-tree rescan and the clock: the import and
// disk manager tests; Configuration Manager details: the PnP manager's).
#include "sim_test_util.h"

#include "discovery/pnp_manager.h"

#include <gtest/gtest.h>

using namespace rendo_sim;
using namespace simtest;

namespace {

TEST(SimHost, ADozenDisksOneLateOneBrokenEachWithItsOwnCommands) {
    auto host = Host::create("HOSTA");
    std::vector<Lun *> luns;
    for (int i = 0; i < 12; ++i)
        luns.push_back(&host->addDisk(DiskSpec::make(i % 2 ? "EMC" : "DGC", i % 2 ? "SYMMETRIX" : "RAID 5", "0001",
                                                     "SN" + std::to_string(i))
                                          .naa("6006016000000000000000000000000" + std::to_string(i % 10))));
    luns[4]->appearAfterRescans(3);
    luns[7]->disk()->failCommand(0x12, 0x04, 0x44, 0x00);  // hardware error on every INQUIRY
    ScopedHost use(host);
    CPnpManager pnp;
    EXPECT_EQ(pnp.enumerateNativeDevicePaths().size(), 11u);
    for (int rescan = 0; rescan < 3; ++rescan) {
        EXPECT_FALSE(luns[4]->present());
        EXPECT_EQ(pnp.rescanScsiBus(false), 0);
    }
    ASSERT_TRUE(luns[4]->present());
    auto drives = pnp.enumerateNativeDevicePaths();
    ASSERT_EQ(drives.size(), 12u);
    for (auto &name : drives) {
        HANDLE h = open(name);
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << name;
        inquiry(h);
        inquiry(h, 0x00);
        CloseHandle(h);
    }
    for (size_t i = 0; i < luns.size(); ++i) {
        auto cmds = luns[i]->disk()->commands();
        ASSERT_EQ(cmds.size(), 2u) << i;
        EXPECT_EQ(cmds[1].cdb, (std::vector<uint8_t>{0x12, 1, 0, 0, 255, 0}));
        EXPECT_EQ(cmds[0].initiator, host->initiator().initiatorName);
        EXPECT_EQ(cmds[0].status, i == 7 ? 0x02 : 0x00) << i;
    }
    // The late disk took the lowest free number when it arrived.
    EXPECT_EQ(luns[4]->dosName(), "PhysicalDrive4");
}

TEST(SimHost, DifRemoveUninstallsUntilPresentedAgain) {
    auto host = Host::create("H");
    Lun &lun = host->addDisk(DiskSpec::make("NETAPP", "LUN", "1"));
    ScopedHost use(host);
    HANDLE before = open("\\\\.\\PHYSICALDRIVE0");
    HDEVINFO set = SetupDiGetClassDevsExW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES, nullptr, nullptr, nullptr);
    SP_DEVINFO_DATA el{};
    el.cbSize = sizeof el;
    wchar_t id[200] = L"";
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &el); ++i)
        if (CM_Get_Device_ID_ExW(el.DevInst, id, 200, 0, nullptr) == CR_SUCCESS &&
            std::wstring(id).rfind(L"SCSI\\DISK&", 0) == 0)
            break;
    ASSERT_TRUE(SetupDiCallClassInstaller(DIF_REMOVE, set, &el));
    SetupDiDestroyDeviceInfoList(set);
    EXPECT_EQ(host->removedInstanceIds(), std::vector<std::string>{std::string(id, id + std::wcslen(id))});
    EXPECT_FALSE(lun.present());
    // The handle opened before the removal now fails.
    SCSI_ADDRESS a{};
    DWORD n = 0;
    EXPECT_FALSE(DeviceIoControl(before, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, &a, sizeof a, &n, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEV_NOT_EXIST));
    CloseHandle(before);
    // Rescans leave it away until the array presents it again.
    CPnpManager pnp;
    pnp.rescanScsiBus(false);
    EXPECT_FALSE(lun.present());
    lun.unmask();
    pnp.rescanScsiBus(false);
    EXPECT_TRUE(lun.present());
}

// A closed handle stays closed; a fault scripted for a call that does not
// exist is refused rather than silently never firing.
TEST(SimHost, ClosedHandlesAndMisnamedFaults) {
    auto host = Host::create("H");
    Lun &flaky = host->addDisk(DiskSpec::make("A", "FLAKY", "1")).failIoctl(IOCTL_SCSI_PASS_THROUGH, ERROR_IO_DEVICE, 1);
    ScopedHost use(host);
    HANDLE h = open(flaky.devicePath());
    Answer first = inquiry(h);
    EXPECT_TRUE(!first.ok && first.error == ERROR_IO_DEVICE) << first.error;
    EXPECT_TRUE(inquiry(h).ok);
    EXPECT_EQ(flaky.disk()->commands().size(), 1u);  // the failed IOCTL never reached the disk
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_FALSE(inquiry(h).ok);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_THROW(host->failCall("CM_Get_Device_ID_ListW", CR_FAILURE), std::invalid_argument);
}

} // namespace
