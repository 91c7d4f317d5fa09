// The platform-independent half of disk discovery: a full rescan (optionally
// asking the buses and the multipath layer to look for new devices) and the
// validation of one named disk. The platform half comes from CPnpManager.
#ifndef PROVIDERS_DEVICE_DISCOVERY_DEVICE_DISCOVERY_BASE_H
#define PROVIDERS_DEVICE_DISCOVERY_DEVICE_DISCOVERY_BASE_H

#include "discovery/dmp_discovery.h"
#include "pdk/cfibase.h"
#include "scsitool/scsitool_win32.h"

#include <string>
#include <vector>

namespace kelm_pdk_4_4 {
class CFiSemaphoreWin;
}

class CDeviceDiscoveryBase : public virtual kelm_pdk_4_4::CFiTraceable {
public:
    // Key of the host-wide semaphore that serialises rescans.
    static const int kRescanLockKey = 1001;

    CDeviceDiscoveryBase();
    ~CDeviceDiscoveryBase() override;

    // Keeps the log and passes it to the SCSI tool and the multipath manager.
    virtual void registerTraceLog(const kelm_pdk_4_4::CFiTraceLogPtr &log);
    // Hooks for derived classes; these do nothing.
    virtual void removeDeadDevices(std::vector<CScsiDeviceData *> &devices, bool removeFlag);
    virtual void removeDevice(const std::string &deviceName);

    // Every disk of the host, each updated by the SCSI tool where possible
    // (a disk that fails keeps what was filled before the failure). With
    // rescanBus, the buses and the multipath layer are rescanned first and
    // removeDeadDevices runs after. Runs under the host-wide rescan lock.
    // The caller owns and deletes the records.
    virtual std::vector<CScsiDeviceData *> rescan(bool rescanBus, bool busFlag, bool removeFlag);
    // The one record for deviceName, updated where possible. No lock, no
    // bus rescan. The caller owns and deletes the record.
    virtual std::vector<CScsiDeviceData *> validateDevice(const std::string &deviceName);

    // The platform half.
    virtual std::vector<CScsiDeviceData *> enumerateDevices() = 0;
    virtual std::vector<CScsiDeviceData *> validateEnumerateDevices(const std::string &deviceName) = 0;
    virtual int rescanScsiBus(bool busFlag) = 0;
    virtual std::vector<std::string> enumerateNativeDevicePaths() = 0;

    CScsiTool &scsiTool() { return m_scsiTool; }
    CDmpDiscoveryManager &dmpManager() { return m_dmpManager; }

    // The process's rescan lock, created on first use.
    static kelm_pdk_4_4::CFiSemaphoreWin &rescanLock();

protected:
    CScsiTool m_scsiTool;
    CDmpDiscoveryManager m_dmpManager;
};

#endif // PROVIDERS_DEVICE_DISCOVERY_DEVICE_DISCOVERY_BASE_H
