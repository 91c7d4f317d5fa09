#include "discovery/dmp_discovery.h"

#include "pdk/cfitracelog.h"

using kelm_pdk_4_4::CFiTraceLogFunction;
using kelm_pdk_4_4::CFiTraceLogPtr;

CDmpDiscoveryBase::CDmpDiscoveryBase() = default;
CDmpDiscoveryBase::~CDmpDiscoveryBase() = default;

void CDmpDiscoveryBase::registerTraceLog(const CFiTraceLogPtr &log) { setTraceLog(log); }

// --------------------------------------------------------------- PowerPath

CDmpPowerPathDiscovery::CDmpPowerPathDiscovery() = default;
CDmpPowerPathDiscovery::~CDmpPowerPathDiscovery() = default;

std::string CDmpPowerPathDiscovery::listingCommand() const { return std::string(); }

std::vector<std::string> CDmpPowerPathDiscovery::listingOutput(const std::string &command) {
    // No listing command is configured, so nothing is run.
    (void)command;
    return std::vector<std::string>();
}

int CDmpPowerPathDiscovery::enumerateDmpDevices(DeviceMap &deviceMap) {
    CFiTraceLogFunction scope(m_traceLog, "CDmpPowerPathDiscovery::enumerateDmpDevices");
    std::string command = listingCommand();
    std::vector<std::string> lines = command.empty() ? std::vector<std::string>() : listingOutput(command);
    trace(3, "INFO: enumerating devices using command [%s], lines returned [%d]", command.c_str(),
          static_cast<int>(lines.size()));
    for (const std::string &line : lines) {
        if (line.find("emcpower") == std::string::npos) continue;
        trace(3, "INFO: adding powerpath device to the map [%s]", line.c_str());
        SDeviceInfo info;
        info.dmpClaimLevel = 0;
        info.deviceName = line;
        deviceMap[line] = info;
        deviceMap[line].dmpClaimLevel = kClaimLevel;
    }
    return 0;
}

int CDmpPowerPathDiscovery::rescan() {
    CFiTraceLogFunction scope(m_traceLog, "CDmpPowerPathDiscovery::rescan");
    return 0;
}

// ----------------------------------------------------------------- manager

CDmpDiscoveryManager::CDmpDiscoveryManager() {
    // The built-in module gets the trace log when one is registered.
    m_modules.push_back(new CDmpPowerPathDiscovery);
}

CDmpDiscoveryManager::~CDmpDiscoveryManager() {
    for (CDmpDiscoveryBase *m : m_modules) delete m;
}

void CDmpDiscoveryManager::registerDiscoveryModule(CDmpDiscoveryBase *module) {
    if (module == nullptr) return;
    module->registerTraceLog(m_traceLog);
    m_modules.push_back(module);
}

void CDmpDiscoveryManager::registerTraceLog(const CFiTraceLogPtr &log) {
    CDmpClaimManager::registerTraceLog(log);
    setTraceLog(log);
    for (CDmpDiscoveryBase *m : m_modules) {
        trace(3, "INFO: registering trace log on discovery module");
        m->registerTraceLog(log);
    }
}

int CDmpDiscoveryManager::enumerateDmpDevices(DeviceMap &deviceMap) {
    trace(3, "INFO: CDmpDiscoveryManager::enumerateDmpDevices %d modules registered",
          static_cast<int>(m_modules.size()));
    for (CDmpDiscoveryBase *m : m_modules) m->enumerateDmpDevices(deviceMap);
    return 0;
}

int CDmpDiscoveryManager::rescan() {
    for (CDmpDiscoveryBase *m : m_modules) m->rescan();
    return 0;
}
