// Multipath discovery: one module per kind of multipath software, and the
// manager that holds them and is the provider's handle on the claim library.
#ifndef PROVIDERS_DEVICE_DISCOVERY_DMP_DISCOVERY_H
#define PROVIDERS_DEVICE_DISCOVERY_DMP_DISCOVERY_H

#include "discovery/device_info.h"
#include "dmpclaim/dmpclaim.h"
#include "pdk/cfibase.h"

#include <string>
#include <vector>

// A multipath discovery module.
class CDmpDiscoveryBase : public virtual kelm_pdk_4_4::CFiTraceable {
public:
    CDmpDiscoveryBase();
    ~CDmpDiscoveryBase() override;
    virtual void registerTraceLog(const kelm_pdk_4_4::CFiTraceLogPtr &log);
    // Adds the module's pseudo-devices to the map. Returns 0.
    virtual int enumerateDmpDevices(DeviceMap &deviceMap) = 0;
    // Asks the multipath software to look for new devices. Returns 0.
    virtual int rescan() = 0;
};

// EMC PowerPath pseudo-devices ("emcpower..."), claimed at level 16.
class CDmpPowerPathDiscovery : public CDmpDiscoveryBase {
public:
    static const uint32_t kClaimLevel = 16;

    CDmpPowerPathDiscovery();
    ~CDmpPowerPathDiscovery() override;
    int enumerateDmpDevices(DeviceMap &deviceMap) override;
    int rescan() override;

protected:
    // The listing command (empty: nothing is run) and its output lines.
    virtual std::string listingCommand() const;
    virtual std::vector<std::string> listingOutput(const std::string &command);
};

// Owns its modules, in registration order; the constructor registers one
// CDmpPowerPathDiscovery. Module results are ignored: nothing here fails.
class CDmpDiscoveryManager : public virtual CDmpClaimManager, public virtual kelm_pdk_4_4::CFiTraceable {
public:
    CDmpDiscoveryManager();
    ~CDmpDiscoveryManager() override;

    // Ignores null; otherwise gives the module the manager's trace log and
    // takes ownership.
    virtual void registerDiscoveryModule(CDmpDiscoveryBase *module);
    // Calls every module in order. Always 0.
    virtual int enumerateDmpDevices(DeviceMap &deviceMap);
    // Calls every module's rescan in order. Always 0.
    virtual int rescan();
    // Hands the log to the claim library, keeps it and gives it to every module.
    void registerTraceLog(const kelm_pdk_4_4::CFiTraceLogPtr &log) override;

    size_t moduleCount() const { return m_modules.size(); }

private:
    std::vector<CDmpDiscoveryBase *> m_modules;
};

#endif // PROVIDERS_DEVICE_DISCOVERY_DMP_DISCOVERY_H
