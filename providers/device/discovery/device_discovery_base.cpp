#include "discovery/device_discovery_base.h"

#include "pdk/cfisemaphore.h"
#include "pdk/cfitracelog.h"

#include <mutex>

using kelm_pdk_4_4::CFiSemaphoreGuard;
using kelm_pdk_4_4::CFiSemaphoreWin;
using kelm_pdk_4_4::CFiTraceLogFunction;
using kelm_pdk_4_4::CFiTraceLogPtr;

CDeviceDiscoveryBase::CDeviceDiscoveryBase() = default;
CDeviceDiscoveryBase::~CDeviceDiscoveryBase() = default;

CFiSemaphoreWin &CDeviceDiscoveryBase::rescanLock() {
    // Lives until the process ends, like the named semaphore it opens.
    static CFiSemaphoreWin *lock = new CFiSemaphoreWin(kRescanLockKey);
    return *lock;
}

void CDeviceDiscoveryBase::registerTraceLog(const CFiTraceLogPtr &log) {
    setTraceLog(log);
    m_scsiTool.setTraceLog(log);
    m_dmpManager.registerTraceLog(log);
}

void CDeviceDiscoveryBase::removeDeadDevices(std::vector<CScsiDeviceData *> &, bool) {}

void CDeviceDiscoveryBase::removeDevice(const std::string &) {}

std::vector<CScsiDeviceData *> CDeviceDiscoveryBase::rescan(bool rescanBus, bool busFlag, bool removeFlag) {
    CFiTraceLogFunction scope(m_traceLog, "CDeviceDiscoveryBase::rescan");
    std::vector<CScsiDeviceData *> devices;
    CFiSemaphoreGuard guard(rescanLock());
    trace(3, "libscsitool: Info: CDeviceDiscoveryBase::rescan().");
    trace(3, "Acquring lock .");
    trace(3, "Got the lock .");
    try {
        if (rescanBus) {
            rescanScsiBus(busFlag);
            m_dmpManager.rescan();
        }
        devices = enumerateDevices();
        for (CScsiDeviceData *device : devices) {
            trace(6, "libscsitool: Info: CDeviceDiscoveryBase:: Getting data for disk %s.",
                  device->m_deviceName.c_str());
            if (m_scsiTool.UpdateDevice(device) != 0) {
                trace(3, "libscsitool: Info: CDeviceDiscoveryBase::rescan FAILED - Remove disk %s.",
                      device->m_deviceName.c_str());
                removeDevice(device->m_deviceName);
            }
        }
        if (rescanBus) removeDeadDevices(devices, removeFlag);
    } catch (...) {
        trace(1, "libscsitool: ERROR: CDeviceDiscoveryBase::rescan() failed.");
    }
    trace(3, "Releasing the lock .");
    trace(3, "libscsitool: DEBUG : CDeviceDiscoveryBase::rescan Exit.");
    return devices;
}

std::vector<CScsiDeviceData *> CDeviceDiscoveryBase::validateDevice(const std::string &deviceName) {
    CFiTraceLogFunction scope(m_traceLog, "CDeviceDiscoveryBase::validateDevice");
    std::vector<CScsiDeviceData *> devices;
    try {
        devices = validateEnumerateDevices(deviceName);
        for (CScsiDeviceData *device : devices)
            if (m_scsiTool.UpdateDevice(device) != 0)
                trace(3, "libscsitool: Info: CDeviceDiscoveryBase:: validateDevice FAILED - Remove disk %s.",
                      device->m_deviceName.c_str());
    } catch (...) {
        trace(1, "libscsitool: ERROR: CDeviceDiscoveryBase:: validateDevice() failed.");
    }
    return devices;
}
