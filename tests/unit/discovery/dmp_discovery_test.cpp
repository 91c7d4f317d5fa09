// Multipath discovery: the manager's module list and the PowerPath module.
#include "discovery/dmp_discovery.h"
#include "../scsitool/trace_capture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace scsitool_test;

// Records what the manager does to it, into a log shared by every module.
class RecordingModule : public CDmpDiscoveryBase {
public:
    RecordingModule(std::vector<std::string> *events, const std::string &name) : m_events(events), m_name(name) {}
    void registerTraceLog(const kelm_pdk_4_4::CFiTraceLogPtr &log) override {
        m_events->push_back(m_name + (log.isNull() ? " log-null" : " log"));
        CDmpDiscoveryBase::registerTraceLog(log);
    }
    int enumerateDmpDevices(DeviceMap &map) override {
        m_events->push_back(m_name + " enumerate");
        map[m_name].deviceName = m_name;
        return 5;  // ignored by the manager
    }
    int rescan() override {
        m_events->push_back(m_name + " rescan");
        return 6;
    }

private:
    std::vector<std::string> *m_events;
    std::string m_name;
};

// PowerPath with a listing command whose output the test gives.
class ListedPowerPath : public CDmpPowerPathDiscovery {
public:
    explicit ListedPowerPath(std::vector<std::string> lines) : m_lines(std::move(lines)) {}

protected:
    std::string listingCommand() const override { return "powermt display dev=all"; }
    std::vector<std::string> listingOutput(const std::string &) override { return m_lines; }

private:
    std::vector<std::string> m_lines;
};

size_t countOf(const std::vector<TraceLine> &lines, const std::string &text) {
    size_t n = 0;
    for (const TraceLine &l : lines) n += l.message == text;
    return n;
}

TEST(DmpDiscovery, TheBuiltInModuleAloneLeavesTheMapAlone) {
    TraceCapture trace;
    CDmpDiscoveryManager manager;
    manager.registerTraceLog(trace.log());
    std::vector<TraceLine> lines = trace.take();
    EXPECT_EQ(countOf(lines, "INFO: registering trace log on discovery module"), 1u);
    EXPECT_EQ(severityOf(lines, "INFO: registering trace log on discovery module"), kLevel3);

    DeviceMap map;
    map["\\\\.\\PHYSICALDRIVE0"].udid = "UDID##X##Y##Z";
    EXPECT_EQ(manager.enumerateDmpDevices(map), 0);
    ASSERT_EQ(map.size(), 1u);
    EXPECT_EQ(map.begin()->second.udid, "UDID##X##Y##Z");
    lines = trace.take();
    EXPECT_EQ(severityOf(lines, "INFO: CDmpDiscoveryManager::enumerateDmpDevices 1 modules registered"), kLevel3);
    EXPECT_EQ(severityOf(lines, "Entering Function CDmpPowerPathDiscovery::enumerateDmpDevices"), kLevel6);
    EXPECT_EQ(severityOf(lines, "INFO: enumerating devices using command [], lines returned [0]"), kLevel3);
    EXPECT_EQ(severityOf(lines, "Exiting Function CDmpPowerPathDiscovery::enumerateDmpDevices"), kLevel6);

    EXPECT_EQ(manager.rescan(), 0);
    lines = trace.take();
    EXPECT_EQ(severityOf(lines, "Entering Function CDmpPowerPathDiscovery::rescan"), kLevel6);
    EXPECT_EQ(severityOf(lines, "Exiting Function CDmpPowerPathDiscovery::rescan"), kLevel6);
}

TEST(DmpDiscovery, RegisteredModulesGetTheLogFirstAndRunInOrder) {
    TraceCapture trace;
    std::vector<std::string> events;
    CDmpDiscoveryManager manager;
    manager.registerDiscoveryModule(nullptr);
    EXPECT_EQ(manager.moduleCount(), 1u);
    manager.registerDiscoveryModule(new RecordingModule(&events, "early"));  // before any log
    manager.registerTraceLog(trace.log());
    manager.registerDiscoveryModule(new RecordingModule(&events, "late"));
    EXPECT_EQ(manager.moduleCount(), 3u);
    EXPECT_EQ(countOf(trace.take(), "INFO: registering trace log on discovery module"), 2u);

    DeviceMap map;
    EXPECT_EQ(manager.enumerateDmpDevices(map), 0);
    EXPECT_EQ(manager.rescan(), 0);
    EXPECT_EQ(events, (std::vector<std::string>{"early log-null", "early log", "late log", "early enumerate",
                                                "late enumerate", "early rescan", "late rescan"}));
    EXPECT_EQ(map.size(), 2u);
    EXPECT_EQ(severityOf(trace.take(), "INFO: CDmpDiscoveryManager::enumerateDmpDevices 3 modules registered"),
              kLevel3);
}

TEST(DmpDiscovery, PowerPathAddsOnlyItsPseudoDevicesAtLevelSixteen) {
    TraceCapture trace;
    ListedPowerPath module({"emcpowera", "sda", "Pseudo name=emcpowerb", "emcpowera"});
    module.registerTraceLog(trace.log());
    DeviceMap map;
    map["emcpowera"].udid = "stale";
    map["emcpowera"].nativeDevicePaths = {"old"};
    EXPECT_EQ(module.enumerateDmpDevices(map), 0);
    ASSERT_EQ(map.size(), 2u);
    for (const char *key : {"emcpowera", "Pseudo name=emcpowerb"}) {
        const SDeviceInfo &info = map.at(key);
        EXPECT_EQ(info.dmpClaimLevel, 16u);
        EXPECT_EQ(info.deviceName, key);
        EXPECT_EQ(info.udid, "");  // a fresh record replaces the older one
        EXPECT_TRUE(info.nativeDevicePaths.empty());
    }
    std::vector<TraceLine> lines = trace.take();
    EXPECT_EQ(severityOf(lines, "INFO: enumerating devices using command [powermt display dev=all], lines returned [4]"),
              kLevel3);
    EXPECT_EQ(countOf(lines, "INFO: adding powerpath device to the map [emcpowera]"), 2u);
    EXPECT_EQ(countOf(lines, "INFO: adding powerpath device to the map [sda]"), 0u);
}

TEST(DmpDiscovery, TheManagerIsTheClaimLibrary) {
    CDmpDiscoveryManager manager;
    uint32_t p = 0;
    EXPECT_EQ(manager.removePartitionSuffix(manager.appendPartitionSuffix("\\\\.\\PHYSICALDRIVE4", 2), p),
              "\\\\.\\PHYSICALDRIVE4");
    EXPECT_EQ(p, 2u);
}

} // namespace
