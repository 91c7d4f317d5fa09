// The simulated host as discovery meets it: DOS names, the device tree, rescans,
// removal and scripted faults (the clock and the asynchronous device-tree
// rescan: the import wait and disk manager tests).
#include "sim_test_util.h"

#include <gtest/gtest.h>

using namespace rendo_sim;
using namespace simtest;

namespace {

// A bus rescan the way discovery does one: every device of the SCSI adapter
// class is re-enumerated synchronously.
int rescanAdapters() {
    ULONG size = 0;
    if (CM_Get_Device_ID_List_Size_ExW(&size, nullptr, 0, nullptr) != CR_SUCCESS) return -1;
    std::vector<wchar_t> list(size);
    if (CM_Get_Device_ID_List_ExW(nullptr, list.data(), size, 0, nullptr) != CR_SUCCESS) return -1;
    GUID adapterClass;
    wchar_t text[] = L"4D36E97B-E325-11CE-BFC1-08002BE10318";
    UuidFromStringW(text, &adapterClass);
    int count = 0;
    for (auto &id : multiString(list.data())) {
        DEVINST inst = 0;
        if (CM_Locate_DevNodeW(&inst, &id[0], CM_LOCATE_DEVNODE_PHANTOM) != CR_SUCCESS) continue;
        ULONG bytes = 0;
        if (CM_Get_DevNode_Registry_Property_ExW(inst, CM_DRP_CLASSGUID, nullptr, nullptr, &bytes, 0, nullptr) !=
            CR_BUFFER_SMALL)
            continue;
        std::vector<wchar_t> guid(bytes / sizeof(wchar_t) + 1, 0);
        if (CM_Get_DevNode_Registry_Property_ExW(inst, CM_DRP_CLASSGUID, nullptr, guid.data(), &bytes, 0, nullptr) !=
            CR_SUCCESS)
            continue;
        std::wstring g(guid.data());
        GUID parsed;
        RPC_STATUS st;
        if (g.size() != 38 || UuidFromStringW(&g.substr(1, 36)[0], &parsed) != RPC_S_OK ||
            !UuidEqual(&parsed, &adapterClass, &st))
            continue;
        if (CM_Reenumerate_DevNode_Ex(inst, CM_REENUMERATE_SYNCHRONOUS, nullptr) == CR_SUCCESS) ++count;
    }
    return count;
}

std::vector<std::string> physicalDrives() {
    std::vector<wchar_t> buf(32768);
    DWORD n = QueryDosDeviceW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    std::vector<std::string> out;
    if (n == 0) return out;
    for (auto &name : multiString(buf.data()))
        if (name.rfind(L"PhysicalDrive", 0) == 0) out.emplace_back(name.begin(), name.end());
    return out;
}

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

    EXPECT_EQ(physicalDrives().size(), 11u);
    EXPECT_EQ(rescanAdapters(), 1);
    EXPECT_EQ(rescanAdapters(), 1);
    EXPECT_FALSE(luns[4]->present());
    EXPECT_EQ(rescanAdapters(), 1);
    ASSERT_TRUE(luns[4]->present());
    auto drives = physicalDrives();
    ASSERT_EQ(drives.size(), 12u);

    for (auto &name : drives) {
        HANDLE h = open("\\\\.\\" + name);
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << name;
        inquiry(h);
        inquiry(h, 0x00);
        CloseHandle(h);
    }
    for (size_t i = 0; i < luns.size(); ++i) {
        auto cmds = luns[i]->disk()->commands();
        ASSERT_EQ(cmds.size(), 2u) << i;
        EXPECT_EQ(cmds[0].cdb, (std::vector<uint8_t>{0x12, 0, 0, 0, 255, 0}));
        EXPECT_EQ(cmds[1].cdb, (std::vector<uint8_t>{0x12, 1, 0, 0, 255, 0}));
        EXPECT_EQ(cmds[0].direction, DataDirection::In);
        EXPECT_EQ(cmds[0].initiator, host->initiator().initiatorName);
        EXPECT_EQ(cmds[0].status, i == 7 ? 0x02 : 0x00) << i;
    }
    // The late disk took the lowest free number when it arrived.
    EXPECT_EQ(luns[4]->dosName(), "PhysicalDrive4");
}

// Removal as the disk manager does it (whose tests cover the reboot flag).
void removeFirstDisk(bool &needReboot, std::string &removedId) {
    HDEVINFO set = SetupDiGetClassDevsExW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES, nullptr, nullptr, nullptr);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    SP_DEVINFO_DATA el{};
    el.cbSize = sizeof el;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &el); ++i) {
        wchar_t id[200];
        ASSERT_EQ(CM_Get_Device_ID_ExW(el.DevInst, id, 200, 0, nullptr), CR_SUCCESS);
        if (std::wstring(id).rfind(L"SCSI\\DISK&", 0) != 0) continue;
        removedId.assign(id, id + std::wcslen(id));
        SP_REMOVEDEVICE_PARAMS p{};
        p.ClassInstallHeader.cbSize = sizeof(SP_CLASSINSTALL_HEADER);
        p.ClassInstallHeader.InstallFunction = DIF_REMOVE;
        p.Scope = DI_REMOVEDEVICE_GLOBAL;
        ASSERT_TRUE(SetupDiSetClassInstallParamsW(set, &el, &p.ClassInstallHeader, sizeof p));
        ASSERT_TRUE(SetupDiCallClassInstaller(DIF_REMOVE, set, &el));
        SP_DEVINSTALL_PARAMS_W ip{};
        ip.cbSize = sizeof ip;
        ASSERT_TRUE(SetupDiGetDeviceInstallParamsW(set, &el, &ip));
        needReboot = (ip.Flags & (DI_NEEDREBOOT | DI_NEEDRESTART)) != 0;
        break;
    }
    SetupDiDestroyDeviceInfoList(set);
}

TEST(SimHost, DifRemoveUninstallsUntilPresentedAgain) {
    auto host = Host::create("H");
    Lun &lun = host->addDisk(DiskSpec::make("NETAPP", "LUN", "1"));
    ScopedHost use(host);
    HANDLE open1 = open("\\\\.\\PHYSICALDRIVE0");
    bool reboot = true;
    std::string id;
    removeFirstDisk(reboot, id);
    EXPECT_FALSE(reboot);
    EXPECT_EQ(host->removedInstanceIds(), std::vector<std::string>{id});
    EXPECT_FALSE(lun.present());
    EXPECT_TRUE(physicalDrives().empty());
    // The handle opened before the removal now fails.
    SCSI_ADDRESS a{};
    DWORD n = 0;
    EXPECT_FALSE(DeviceIoControl(open1, IOCTL_SCSI_GET_ADDRESS, nullptr, 0, &a, sizeof a, &n, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DEV_NOT_EXIST));
    CloseHandle(open1);

    // Rescans leave it away until the array presents it again.
    rescanAdapters();
    EXPECT_FALSE(lun.present());
    EXPECT_EQ(host->openDeviceInfoSets(), 0u);
    lun.unmask();
    rescanAdapters();
    EXPECT_TRUE(lun.present());
}

TEST(SimHost, ScriptedFaults) {
    auto host = Host::create("H");
    Lun &gone = host->addDisk(DiskSpec::make("A", "GONE", "1")).vanishAfterListing();
    Lun &locked = host->addDisk(DiskSpec::make("A", "LOCKED", "1")).failOpen(ERROR_ACCESS_DENIED, 1);
    Lun &flaky = host->addDisk(DiskSpec::make("A", "FLAKY", "1")).failIoctl(IOCTL_SCSI_PASS_THROUGH, ERROR_IO_DEVICE, 1);
    ScopedHost use(host);
    std::string goneName = gone.dosName(), lockedPath = locked.devicePath(), flakyPath = flaky.devicePath();
    auto listed = physicalDrives();
    EXPECT_NE(std::find(listed.begin(), listed.end(), goneName), listed.end());
    EXPECT_EQ(open("\\\\.\\" + goneName), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    EXPECT_EQ(open(lockedPath), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    HANDLE h = open(lockedPath);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);

    h = open(flakyPath);
    Answer first = inquiry(h);
    EXPECT_FALSE(first.ok);
    EXPECT_EQ(first.error, static_cast<DWORD>(ERROR_IO_DEVICE));
    EXPECT_TRUE(inquiry(h).ok);
    EXPECT_EQ(flaky.disk()->commands().size(), 1u);  // the failed IOCTL never reached the disk
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_FALSE(inquiry(h).ok);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

    host->failCall("CM_Get_Device_ID_List_Size", CR_OUT_OF_MEMORY, 1);
    ULONG size = 0;
    EXPECT_EQ(CM_Get_Device_ID_List_SizeW(&size, nullptr, 0), CR_OUT_OF_MEMORY);
    EXPECT_EQ(CM_Get_Device_ID_List_SizeW(&size, nullptr, 0), CR_SUCCESS);
    EXPECT_THROW(host->failCall("CM_Get_Device_ID_ListW", CR_FAILURE), std::invalid_argument);
}

} // namespace
