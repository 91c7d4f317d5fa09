// The Windows disk manager against simulated hosts: finding a UDID's path,
// identifying a disk among the SetupAPI elements by its location text,
// uninstalling it, and the device-tree rescan.
#include "device_win_disk_operations.h"

#include "../discovery/discovery_test_util.h"
#include "pdk/cfiudid.h"
#include "platform/simhost.h"
#include "udid/device_udid_factory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using namespace scsitool_test;
using kelm_pdk_4_4::CFiSingleton;
using kelm_pdk_4_4::CFiTraceLog;
using rendo_sim::Lun;

discovery_test::PrivateLockDirectory kPrivateLockDirectory;

// rescanDevices writes to the process's trace log: initialised here and
// forwarded to the same capture as the objects' own log.
struct ProcessLog {
    explicit ProcessLog(TraceCapture &capture) {
        kelm_pdk_4_4::CFiTraceLogPtr log = CFiSingleton<CFiTraceLog>::instance(false);
        log->initialize(kelm_pdk_4_4::CFiStringTool::toWide("rendo"), {}, {}, 1, false);
        log->registerErrorManager(capture.errors());
    }
    ~ProcessLog() { CFiSingleton<CFiTraceLog>::instance(true); }
};

// The messages traced since the last call (containing part).
std::vector<std::string> lines(TraceCapture &capture, const std::string &part = "") {
    return linesWith(capture.take(), part);
}

bool contains(const std::vector<std::string> &lines, const std::string &line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class DiskManager : public ::testing::Test {
protected:
    void SetUp() override {
        factory.registerTraceLog(trace.log());
        manager.setTraceLog(trace.log());
    }

    // A disk of the default UDID rule: its UDID carries vendor and product.
    Lun &disk(const std::string &product, const std::string &serial, rendo_sim::ScsiAddress at) {
        return host->addDisk(rendo_sim::DiskSpec::make("ACME", product, "0001", serial).t10("ACME" + serial), at);
    }
    std::string udidOf(const std::string &path) { return factory.getCachedUniqueDeviceID(path.c_str(), false); }

    // Identifies the disk named `device` into set and element; the set is left to the caller.
    int identify(const std::string &device) {
        const std::wstring w(device.begin(), device.end());
        set = reinterpret_cast<HDEVINFO>(0x1234);  // never read
        element = {};
        return manager.getDiskIdentification(w.c_str(), &set, &element);
    }

    std::shared_ptr<rendo_sim::Host> host = rendo_sim::Host::create("DMHOST");
    rendo_sim::ScopedHost use{host};
    TraceCapture trace;
    ProcessLog processLog{trace};
    CUDIDFactory factory;
    CWindowsDeviceManager manager{&factory};
    HDEVINFO set;
    SP_DEVINFO_DATA element{};
};

TEST_F(DiskManager, IdentifiesByPathOrUdidAndRemovesExactlyThatDisk) {
    Lun &first = disk("ARRAY", "S1", {0, 0, 0, 0});
    Lun &wanted = disk("ARRAY", "S2", {0, 0, 1, 2});
    Lun &other = disk("OTHER", "S3", {0, 0, 1, 3});
    const std::string path = wanted.devicePath();
    const std::string udid = udidOf(path);
    ASSERT_EQ(udid.rfind("UDID##ACME##ARRAY##", 0), 0u) << udid;

    for (const std::string &name : {path, udid}) {
        trace.take();
        ASSERT_EQ(identify(name), 0) << name;
        ASSERT_NE(set, INVALID_HANDLE_VALUE);
        EXPECT_EQ(element.cbSize, 32u);
        EXPECT_EQ(host->openDeviceInfoSets(), 1u);
        std::vector<std::string> seen = lines(trace);
        EXPECT_TRUE(contains(seen, "Following information was found for device [" + name +
                                        "]:\nLUN = [2], Target = [1], BUS = [0], Adapter = [-1]VendorId = [ACME], "
                                        "ProductId = [ARRAY], FirmwareLevel = [0001], "));
        EXPECT_TRUE(contains(seen, "getDiskIdentification - InstanceID found for the device"));
        if (name == udid) {
            EXPECT_TRUE(contains(seen, "predeport::found device match [" + path + "][" + udid + "] == [" + path + "]"));
            EXPECT_TRUE(contains(seen, "getDevicePathForUDID - UDID-Device match found for UDID [" + udid + "] as [" +
                                            path + "]"));
            ASSERT_EQ(manager.removeDiskFromSystem(set, &element), 0);
        } else {
            EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
        }
        EXPECT_EQ(host->openDeviceInfoSets(), 0u);
    }
    EXPECT_TRUE(first.present());
    EXPECT_TRUE(other.present());
    EXPECT_FALSE(wanted.present());
    std::vector<rendo_sim::RemovalRecord> removals = host->removals();
    ASSERT_EQ(removals.size(), 1u);  // its parameters and success line: the removal statuses' first case
    EXPECT_EQ(removals[0].scope, static_cast<uint32_t>(DI_REMOVEDEVICE_GLOBAL));
    EXPECT_EQ(removals[0].hwProfile, 0u);
    EXPECT_TRUE(contains(
        lines(trace),
        "removeDiskFromSystem::CM_Get_Device_ID_Ex - Device InstanceID to be removed is " + removals[0].instanceId));

    // A later discovery, bus rescan included, no longer sees it.
    DeviceMap after = factory.enumerateDeviceMap(true, false, false);
    EXPECT_EQ(after.size(), 2u);
    for (const auto &entry : after) EXPECT_NE(entry.second.udid, udid);
}

TEST_F(DiskManager, LocationTextsOfEveryForm) {
    struct Case { std::string location; bool matches; } cases[] = {
        {"Bus Number 0, Target Id 1, LUN 2", true},
        {"bus number 0,target id 1,lun 2", true},
        {"Bus Number 00, Target Id 01, LUN 002", true},
        {"Bus Number 0, Target Id 1", false},
        {"Bus Number 0, Target Id 1, LUN 2, Port 3", false},
        {"Target Id 1, Bus Number 0, LUN 2", false},
        {"Bus Number 1, Target Id 1, LUN 2", false},
        {"Bus Number , Target Id 1, LUN 2", false},   // no number is not bus 0
        {"Bus Number -0, Target Id 1, LUN 2", true},
        {"Bus Number 0, Target Id 99999999999999999999, LUN 2", false},
        {"", false},                                     // no location property at all
        {"Bus Number 0, Target Id 1, LUN 2" + std::string(300, ' '), false},  // over 1024 bytes
    };
    Lun &lun = disk("ARRAY", "S1", {0, 0, 1, 2});
    const std::string path = lun.devicePath();
    for (const Case &c : cases) {
        lun.locationInformation(c.location);
        EXPECT_EQ(identify(path), c.matches ? 0 : 20) << c.location;
        EXPECT_EQ(set != INVALID_HANDLE_VALUE, c.matches) << c.location;
        EXPECT_EQ(host->openDeviceInfoSets(), c.matches ? 1u : 0u) << c.location;
        if (set != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set);
    }
}

TEST_F(DiskManager, TheFirstMatchingElementWinsThePortIsNotCompared) {
    // Same vendor, product and bus/target/LUN behind two adapters.
    Lun &onPort0 = disk("ARRAY", "S1", {0, 0, 1, 2});
    Lun &onPort1 = disk("ARRAY", "S2", {1, 0, 1, 2});
    ASSERT_EQ(identify(onPort1.devicePath()), 0);
    ASSERT_EQ(manager.removeDiskFromSystem(set, &element), 0);  // removes the element identified
    EXPECT_FALSE(onPort0.present());
    EXPECT_TRUE(onPort1.present());
}

TEST_F(DiskManager, EveryFailureReturns20AndLeavesNoSetOpen) {
    const std::string path = disk("ARRAY", "S1", {0, 0, 1, 2}).devicePath();
    udidOf(path);  // the factory's map is filled before the faults are scripted
    // A scripted failure (function, code, times), the trace line expected or "", the status.
    struct Case { const char *what, *function; uint32_t code; int times; std::string line; int status; } cases[] = {
        {"class devs", "SetupDiGetClassDevs", ERROR_GEN_FAILURE, 1,
         "getDiskIdentification::SetupDiGetClassDevsEx - failed ", 20},
        {"list detail", "SetupDiGetDeviceInfoListDetail", ERROR_GEN_FAILURE, 1,
         "getDiskIdentification::SetupDiGetDeviceInfoListDetail - failed for device  [" + path + "]", 20},
        {"enumeration", "SetupDiEnumDeviceInfo", ERROR_GEN_FAILURE, 1, "", 20},
        {"every location", "SetupDiGetDeviceRegistryProperty", ERROR_INVALID_DATA, -1, "", 20},
        {"every instance ID", "CM_Get_Device_ID", CR_FAILURE, -1, "", 20},
        {"the first instance IDs only", "CM_Get_Device_ID", CR_FAILURE, 3, "", 0},
    };
    for (const Case &c : cases) {
        trace.take();
        host->failCall(c.function, c.code, c.times);
        EXPECT_EQ(identify(path), c.status) << c.what;
        host->failCall(c.function, 0, 0);
        EXPECT_EQ(host->openDeviceInfoSets(), c.status == 0 ? 1u : 0u) << c.what;
        EXPECT_EQ(set == INVALID_HANDLE_VALUE, c.status != 0) << c.what;
        if (set != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set);
        EXPECT_TRUE(c.line.empty() || contains(lines(trace), c.line)) << c.what;
    }
}

TEST_F(DiskManager, ADiskThatCannotBeOpenedOrReadIsNotIdentified) {
    Lun &lun = disk("ARRAY", "S1", {0, 0, 1, 2});
    const std::string path = lun.devicePath();
    DeviceMap known;
    known[path].udid = udidOf(path);
    factory.setSimulationMap(known);  // the UDID lookup does no I/O: the faults hit the identification

    lun.failOpen(ERROR_ACCESS_DENIED, 1);
    EXPECT_EQ(identify(path), 20);
    EXPECT_EQ(lines(trace, "unable to open handle"),
              std::vector<std::string>{"getDiskIdentification - unable to open handle for device  [" + path + "]"});

    // Without its SCSI address the disk would read as 0/0/0, the address of
    // another disk of the same make: that one must not be taken for it.
    disk("ARRAY", "S9", {0, 0, 0, 0});
    lun.failIoctl(IOCTL_SCSI_GET_ADDRESS);
    EXPECT_EQ(identify(path), 20);
    EXPECT_EQ(lines(trace, "unable to get SCSI data"),
              std::vector<std::string>{"getDiskIdentification unable to get SCSI data for device [" + path + "]"});
    EXPECT_EQ(host->openDeviceInfoSets(), 0u);
}

TEST_F(DiskManager, UdidsThatNameNoDiskOrAreMalformed) {
    disk("ARRAY", "S1", {0, 0, 1, 2});
    EXPECT_EQ(identify("UDID##ACME##ARRAY##NOSUCH"), 20);
    EXPECT_EQ(set, INVALID_HANDLE_VALUE);
    EXPECT_EQ(lines(trace, "Failed to get a device"),
              std::vector<std::string>{"getDiskIdentification - Failed to get a device for UDID [UDID##ACME##ARRAY##NOSUCH]"});

    // A path whose UDID the factory cannot supply: the parser's code 2,
    // before any SetupAPI call (the scripted failure is still pending after).
    host->failCall("SetupDiGetClassDevs", ERROR_GEN_FAILURE, 1);
    try {
        identify("\\\\.\\PHYSICALDRIVE9");
        ADD_FAILURE() << "no exception";
    } catch (const kelm_pdk_4_4::CFiUdidException &e) {
        EXPECT_EQ(e.code(), 2u);
    }
    EXPECT_EQ(SetupDiGetClassDevsExW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES, nullptr, nullptr, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(host->openDeviceInfoSets(), 0u);
    EXPECT_EQ(manager.getDiskIdentification(nullptr, &set, &element), 20);
    EXPECT_EQ(manager.getDiskIdentification(L"\\\\.\\PHYSICALDRIVE0", &set, nullptr), 20);
}

TEST_F(DiskManager, RemovalStatuses) {
    struct Case { const char *what, *function; uint32_t code; bool reboot; int status; bool removed; const char *line; };
    const Case cases[] = {
        {"removed", nullptr, 0, false, 0, true, "removeDiskFromSystem - dif_remove on device was successfull"},
        {"reboot", nullptr, 0, true, 33, true,
         "removeDiskFromSystem - System requires reboot after uninstalling the specified device"},
        {"detail", "SetupDiGetDeviceInfoListDetail", ERROR_GEN_FAILURE, false, 11, false,
         "removeDiskFromSystem::SetupDiGetDeviceInfoListDetail - failed for device with value [0]"},
        {"instance ID", "CM_Get_Device_ID", CR_FAILURE, false, 6, false, nullptr},
        {"parameters", "SetupDiSetClassInstallParams", ERROR_INVALID_PARAMETER, false, 0, true,
         "removeDiskFromSystem::SetupDiSetClassInstallParams - failed for device with error [87]"},
        {"installer", "SetupDiCallClassInstaller", ERROR_ACCESS_DENIED, false, 11, false,
         "removeDiskFromSystem::SetupDiCallClassInstaller - failed for device with error [5]"},
        {"install params unread", "SetupDiGetDeviceInstallParams", ERROR_GEN_FAILURE, true, 0, true,
         "removeDiskFromSystem::SetupDiGetDeviceInstallParams - failed for device with value [0]"},
    };
    // One disk per case, each at a LUN of its own.
    std::vector<Lun *> luns;
    for (uint8_t i = 0; i < std::size(cases); ++i)
        luns.push_back(&disk("ARRAY", "R" + std::to_string(i), {0, 0, 1, i}));
    size_t removals = 0;
    for (const Case &c : cases) {
        Lun &lun = *luns[&c - cases];
        ASSERT_EQ(identify(lun.devicePath()), 0) << c.what;
        host->setRemovalNeedsReboot(c.reboot);
        if (c.function != nullptr) host->failCall(c.function, c.code, 1);
        trace.take();
        EXPECT_EQ(manager.removeDiskFromSystem(set, &element), c.status) << c.what;
        EXPECT_EQ(host->openDeviceInfoSets(), 0u) << c.what;
        EXPECT_EQ(lun.present(), !c.removed) << c.what;
        EXPECT_TRUE(c.line == nullptr || contains(lines(trace), c.line)) << c.what;
        bool paramsSet = c.function == nullptr || std::string(c.function) != "SetupDiSetClassInstallParams";
        ASSERT_EQ(host->removals().size(), removals += c.removed) << c.what;
        if (c.removed) { EXPECT_EQ(host->removals().back().withParameters, paramsSet) << c.what; }
    }
}

TEST_F(DiskManager, RemovalWithoutAUsableSetOrElement) {
    Lun &lun = disk("ARRAY", "S1", {0, 0, 1, 2});
    HDEVINFO other = SetupDiGetClassDevsExW(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES, nullptr, nullptr, nullptr);
    element.cbSize = sizeof element;
    // An invalid set: 11 at the first step, and nothing destroyed.
    EXPECT_EQ(manager.removeDiskFromSystem(INVALID_HANDLE_VALUE, &element), 11);
    EXPECT_EQ(host->openDeviceInfoSets(), 1u);
    // No element: its instance ID cannot be read; the set is destroyed all the same.
    EXPECT_EQ(manager.removeDiskFromSystem(other, nullptr), 6);
    EXPECT_EQ(host->openDeviceInfoSets(), 0u);
    EXPECT_TRUE(lun.present());
}

TEST_F(DiskManager, DevicePathForUdidWithoutRescan) {
    // One disk behind two adapters: one UDID, two paths of equal claim level.
    Lun &a = disk("ARRAY", "S1", {0, 0, 1, 2});
    Lun &b = host->attach(a.disk(), {1, 0, 1, 2});
    Lun &late = disk("ARRAY", "S2", {0, 0, 2, 0});
    late.appearAfterRescans(1);
    std::string udid = udidOf(a.devicePath());
    ASSERT_EQ(udidOf(b.devicePath()), udid);
    std::string lower = udid;
    for (char &c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));

    std::string path = "unchanged";
    EXPECT_EQ(manager.getDevicePathForUDID(lower, path), 0);
    EXPECT_EQ(path, std::min(a.devicePath(), b.devicePath()));
    EXPECT_EQ(lines(trace, "predeport::found").size(), 1u);

    path = "unchanged";
    EXPECT_EQ(manager.getDevicePathForUDID("UDID##ACME##ARRAY##S2", path), 20);
    EXPECT_EQ(path, "unchanged");
    EXPECT_EQ(host->rescans(0), 0u);
    EXPECT_FALSE(late.present());
    EXPECT_EQ(lines(trace, "match failed"),
              std::vector<std::string>{"getDevicePathForUDID - UDID-Device match failed for UDID  [UDID##ACME##ARRAY##S2]"});
}

TEST_F(DiskManager, RootRescanIsAsynchronousAndFailuresGive11) {
    host->setVirtualClock(true);
    host->setRootRescanDelay(100);
    Lun &treeOnly = disk("ARRAY", "S1", {0, 0, 1, 2});
    treeOnly.appearOnTreeRescan();
    trace.take();
    EXPECT_EQ(CWindowsDeviceManager::rescanDevices(), 0);
    EXPECT_EQ(lines(trace), (std::vector<std::string>{"rescanDevices: Found the root of the device tree",
                                                      "rescanDevices - Successful rescaned the device tree"}));
    EXPECT_FALSE(treeOnly.present());
    EXPECT_EQ(host->rescans(0), 0u);
    Sleep(100);
    EXPECT_TRUE(treeOnly.present());
    EXPECT_EQ(host->rootRescans(), 1u);

    host->failCall("CM_Locate_DevNode", CR_FAILURE, 1);
    EXPECT_EQ(CWindowsDeviceManager::rescanDevices(), 11);
    EXPECT_EQ(lines(trace),
              std::vector<std::string>{"rescanDevices::CM_Locate_DevNode_Ex - Failed to get the root of the device tree"});
    host->failCall("CM_Reenumerate_DevNode", CR_ACCESS_DENIED, 1);
    EXPECT_EQ(CWindowsDeviceManager::rescanDevices(), 11);
    EXPECT_EQ(lines(trace), (std::vector<std::string>{
                                "rescanDevices: Found the root of the device tree",
                                "rescanDevices::CM_Reenumerate_DevNode_Ex - rescanning at root failed with error 51"}));
}

} // namespace
