// The provider's lifecycle (construction, init, delayedInit, fini) and the
// enumeration every device operation starts from.
#include "device_plugin.h"

#include "device_guard.h"
#include "discovery/dmp_native_discovery.h"

#include "pdk/cfimessagecatalog.h"
#include "pdk/cfistringtool.h"
#include "pdk/cfitracelog.h"

#include <algorithm>

using namespace kelm_pdk_4_4;

CDevicePlugin::CDevicePlugin() {
    // The factory builds every path at level 0; this module brings the
    // claim library's per-path levels into the provider's device map.
    m_dmpManager.registerDiscoveryModule(new CDmpNativePathDiscovery(m_dmpManager));
}

CDevicePlugin::~CDevicePlugin() {
    // Sets of disks prepared for a deport that never came are still open.
    for (auto &record : m_predeportDeviceInfo)
        if (record.second.deviceInfoSet != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(record.second.deviceInfoSet);
}

int CDevicePlugin::init() {
    return guardedInitCall(m_errorManager, kInitGuardLine, kInitFailedLine, [this] {
        m_tuning.importTuningSettings(m_traceLog, getProviderName());
        trace(3,
              "Device provider tuning params: importRetryDelayInSec(%d) importRetryAttempts(%d) "
              "scsiRetryDelayInSec(%d) scsiRetryAttempts(%d) importInitialDelayInSec(%d) ",
              static_cast<int>(m_tuning.importRetryDelayInSec), static_cast<int>(m_tuning.importRetryAttempts),
              static_cast<int>(m_tuning.scsiRetryDelayInSec), static_cast<int>(m_tuning.scsiRetryAttempts),
              static_cast<int>(m_tuning.importInitialDelayInSec));

        // The catalog manager keeps the factory for the rest of its life.
        if (!m_catalogManager.isNull()) {
            m_catalogManager->registerFactory(new CFiIcuMessageCatalogFactory("root", getProviderName()));
        }

        m_pgrTool = CPGRToolSingleton::instance(false);
        if (!m_pgrTool.isNull()) m_pgrTool->setTraceLog(m_traceLog);

        m_pgrLogManager = CPGRLogManagerSingleton::instance(false);
        if (!m_pgrLogManager.isNull()) m_pgrLogManager->setTraceLog(m_traceLog);

        // Creating the factory reads no disk: discovery waits for delayedInit.
        m_udidFactory.reset(new CUDIDFactory);
        m_udidFactory->registerTraceLog(m_traceLog);
        return 0;
    });
}

int CDevicePlugin::delayedInit() {
    CFiTraceLogFunction traceScope(m_traceLog, "CDevicePlugin::delayedInit");
    return guardedInitCall(m_errorManager, kDelayedInitGuardLine, kDelayedInitFailedLine, [this] {
        enumerateDevices(false, false, false);
        return 0;
    });
}

void CDevicePlugin::fini() { CFiTraceLogFunction traceScope(m_traceLog, "CDevicePlugin::fini"); }

CUDIDFactory &CDevicePlugin::udidFactory() {
    if (!m_udidFactory) {
        m_udidFactory.reset(new CUDIDFactory);
        m_udidFactory->registerTraceLog(m_traceLog);
    }
    return *m_udidFactory;
}

void CDevicePlugin::enumerateDevices(bool rescanBus, bool busFlag, bool removeFlag) {
    DeviceMap fresh = udidFactory().enumerateDeviceMap(rescanBus, busFlag, removeFlag);
    m_dmpManager.enumerateDmpDevices(fresh);
    m_deviceMap.swap(fresh);
}

void CDevicePlugin::sleepSeconds(uint32_t seconds) {
    // Seconds from the configuration file are not range-checked: 4294968 s
    // and more do not fit one Sleep, and 0xFFFFFFFF ms would be INFINITE.
    const uint64_t kMaxPiece = INFINITE - 1;
    uint64_t ms = static_cast<uint64_t>(seconds) * 1000u;
    do {
        uint64_t piece = std::min(ms, kMaxPiece);
        Sleep(static_cast<DWORD>(piece));
        ms -= piece;
    } while (ms > 0);
}

int CDevicePlugin::getScsiToolDeviceName(const std::string &deviceName, std::string &scsiName) {
    scsiName = deviceName;
    return 0;
}

std::string CDevicePlugin::getKeyForHost(const wchar_t *key) {
    CFiTraceLogFunction traceScope(m_traceLog, "CDevicePlugin::getKeyForHost");
    if (key != nullptr) return CFiStringTool::toNarrow(key);
    // Before init (or after the holder is gone at exit) ask the holder.
    CPGRToolPtr tool = m_pgrTool.isNull() ? CPGRToolSingleton::instance(false) : m_pgrTool;
    if (tool.isNull()) return CPGRTool::kNoAddressKey;
    return tool->getKeyForHost();
}
