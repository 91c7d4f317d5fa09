// Multipath discovery: the manager's module list and the PowerPath module.
#include "discovery/dmp_discovery.h"
#include "discovery_test_util.h"

#include <gtest/gtest.h>

namespace {

using namespace discovery_test;

// Records what the manager does to it.
struct RecordingModule : CDmpDiscoveryBase {
    RecordingModule(std::vector<std::string> *events, const std::string &name) : m_events(events), m_name(name) {}
    void registerTraceLog(const kelm_pdk_4_4::CFiTraceLogPtr &log) override { note(log.isNull() ? "log-null" : "log"); }
    int enumerateDmpDevices(DeviceMap &) override { return note("enumerate"), 5; }  // statuses the manager ignores
    int rescan() override { return note("rescan"), 6; }

private:
    void note(const char *what) { m_events->push_back(m_name + " " + what); }
    std::vector<std::string> *m_events;
    std::string m_name;
};

// PowerPath with a listing command whose output the test gives.
struct ListedPowerPath : CDmpPowerPathDiscovery {
    explicit ListedPowerPath(std::vector<std::string> lines) : m_lines(std::move(lines)) {}

protected:
    std::string listingCommand() const override { return "powermt display"; }
    std::vector<std::string> listingOutput(const std::string &) override { return m_lines; }
    std::vector<std::string> m_lines;
};

const char kRegistering[] = "INFO: registering trace log on discovery module";

TEST(DmpDiscovery, RegisteredModulesGetTheLogFirstAndRunInOrderAfterTheBuiltInOne) {
    TraceCapture trace;
    std::vector<std::string> events;
    CDmpDiscoveryManager manager;
    manager.registerDiscoveryModule(nullptr);
    EXPECT_EQ(manager.moduleCount(), 1u);
    manager.registerDiscoveryModule(new RecordingModule(&events, "early"));  // before any log
    manager.registerTraceLog(trace.log());
    manager.registerDiscoveryModule(new RecordingModule(&events, "late"));
    EXPECT_EQ(countOf(trace.take(), kRegistering), 2u);

    // The built-in module leaves the map alone; the others' statuses are not the manager's.
    DeviceMap map;
    map["\\\\.\\PHYSICALDRIVE0"].udid = "UDID##X##Y##Z";
    EXPECT_EQ(manager.enumerateDmpDevices(map), 0);
    ASSERT_EQ(map.size(), 1u);
    EXPECT_EQ(map.begin()->second.udid, "UDID##X##Y##Z");
    EXPECT_EQ(manager.rescan(), 0);
    EXPECT_EQ(events, (std::vector<std::string>{"early log-null", "early log", "late log", "early enumerate",
                                                "late enumerate", "early rescan", "late rescan"}));
    EXPECT_EQ(countOf(trace.take(), "INFO: CDmpDiscoveryManager::enumerateDmpDevices 3 modules registered"), 1u);
}

TEST(DmpDiscovery, PowerPathAddsOnlyItsPseudoDevicesAtLevelSixteen) {
    TraceCapture trace;
    ListedPowerPath module({"emcpowera", "sda", "Pseudo name=emcpowerb", "emcpowera"});
    module.registerTraceLog(trace.log());
    DeviceMap map;
    map["emcpowera"].udid = "stale";
    EXPECT_EQ(module.enumerateDmpDevices(map), 0);
    ASSERT_EQ(map.size(), 2u);
    for (const char *key : {"emcpowera", "Pseudo name=emcpowerb"}) {
        EXPECT_EQ(map.at(key).dmpClaimLevel, 16u);
        EXPECT_EQ(map.at(key).deviceName, key);
        EXPECT_EQ(map.at(key).udid, "");  // a fresh record replaces the older one
    }
    EXPECT_EQ(linesWith(trace.take(), "[sda]").size(), 0u);
}

} // namespace
