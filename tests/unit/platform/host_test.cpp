// The simulated host as discovery meets it: DOS names, rescans, removal and
// scripted faults (the device-tree rescan and the clock: the import and
// disk manager tests; Configuration Manager details: the PnP manager's).
#include "sim_test_util.h"

#include "discovery/pnp_manager.h"

#include <gtest/gtest.h>

using namespace rendo_sim;
using namespace simtest;

namespace {

// A disk that shows only after a rescan takes the lowest free drive number,
// not the next one (that it shows after the rescan: kelm-host import's case).
TEST(SimHost, ALateDiskTakesTheLowestFreeDriveNumber) {
    auto host = Host::create("HOSTA");
    for (const char *serial : {"SN0", "SN1", "SN2"}) host->addDisk(DiskSpec::make("DGC", "RAID 5", "0001", serial));
    Lun &late = *host->luns()[1];
    late.appearAfterRescans(1);
    ScopedHost use(host);
    EXPECT_FALSE(late.present());
    EXPECT_EQ(CPnpManager().rescanScsiBus(false), 0);
    ASSERT_TRUE(late.present());
    EXPECT_EQ(late.dosName(), "PhysicalDrive1");
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
