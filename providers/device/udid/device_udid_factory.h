// CUDIDFactory: turns the disks discovery finds into the device map (device
// name -> UDID), choosing for each disk the first generator that claims it
// and completes, and answers single lookups from that map.
#ifndef PROVIDERS_DEVICE_UDID_DEVICE_UDID_FACTORY_H
#define PROVIDERS_DEVICE_UDID_DEVICE_UDID_FACTORY_H

#include "discovery/device_info.h"
#include "discovery/dmp_discovery.h"
#include "discovery/pnp_manager.h"
#include "pdk/cfibase.h"
#include "udid/device_udid_generator.h"

#include <string>
#include <vector>

class CUDIDFactory : public virtual kelm_pdk_4_4::CFiTraceable {
public:
    // Creates the ten generators in their fixed order.
    CUDIDFactory();
    ~CUDIDFactory() override;
    CUDIDFactory(const CUDIDFactory &) = delete;
    CUDIDFactory &operator=(const CUDIDFactory &) = delete;

    // Keeps the log and hands it to discovery and to every generator.
    virtual void registerTraceLog(const kelm_pdk_4_4::CFiTraceLogPtr &log);
    void setTraceLog(const kelm_pdk_4_4::CFiTraceLogPtr &log) override { registerTraceLog(log); }

    // getGeneratorName of each generator in order; the default's is ":".
    std::vector<std::string> getGeneratorNames();
    // A non-empty map answers every lookup of the names it holds.
    void setSimulationMap(const DeviceMap &simulationMap);

    // The UDID of one updated device, upper-cased; empty for a null device.
    std::string getUniqueDeviceID(CScsiDeviceData *device);
    // The same, and the name of the generator that built it ("simulation"
    // when the simulation map answered, "" when nothing did).
    // refusals, when given, receives "generator: message id" for each
    // generator that claimed the device but could not build its UDID.
    std::string getUniqueDeviceID(CScsiDeviceData *device, std::string &generatorName,
                                  std::vector<std::string> *refusals = nullptr);
    // The same, reporting every rule asked and, for the one that named the
    // device, where each piece of the UDID came from.
    std::string explainUniqueDeviceID(CScsiDeviceData *device, CUdidExplanation &explanation,
                                      std::string &generatorName);
    // The UDID of a device name from the cached map, enumerating when the map
    // is empty, confirming a cached entry by validating that one device, and
    // with rescanIfMissing rebuilding the map (bus rescan) for unknown names.
    // Empty when the name cannot be found (or is null).
    std::string getCachedUniqueDeviceID(const char *deviceName, bool rescanIfMissing);
    // Rebuilds m_deviceMap from a discovery rescan and returns a copy.
    DeviceMap enumerateDeviceMap(bool rescanBus, bool second, bool third);
    // A map holding only deviceName, freshly updated; m_deviceMap unchanged.
    DeviceMap validateDeviceMap(const std::string &deviceName);
    // One trace line per entry (and per native path), level 3.
    void printDeviceMap(const DeviceMap &deviceMap);

    CPnpManager &pnpManager() { return m_pnpManager; }
    const DeviceMap &deviceMap() const { return m_deviceMap; }

private:
    // Device records into map entries (UDIDs under 8 characters made empty),
    // then the records are deleted.
    void addRecords(std::vector<CScsiDeviceData *> &records, DeviceMap &map);
    void logMissing(const char *deviceName);

    DeviceMap m_simulationMap;
    DeviceMap m_deviceMap;
    std::vector<CUdidGenerator *> m_generators;
    CPnpManager m_pnpManager;
    CDmpDiscoveryManager m_dmpManager;
    CUdidExplanation *m_explain = nullptr;  // set only inside explainUniqueDeviceID
};

#endif // PROVIDERS_DEVICE_UDID_DEVICE_UDID_FACTORY_H
