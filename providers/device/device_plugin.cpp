#include "device_plugin.h"

#include "device_guard.h"

#include "pdk/cfimessagecatalog.h"
#include "pdk/cfistringtool.h"
#include "pdk/cfitracelog.h"

using namespace kelm_pdk_4_4;

namespace {
// Status results of the reservation flows while they are not in place.
constexpr int kReserveFailed = 1098;
constexpr int kReleaseFailed = 1096;
} // namespace

CDevicePlugin::CDevicePlugin() = default;
CDevicePlugin::~CDevicePlugin() = default;

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

        // The reservation log manager and the identifier factory are
        // obtained here once their subsystems exist.
        return 0;
    });
}

int CDevicePlugin::delayedInit() {
    CFiTraceLogFunction traceScope(m_traceLog, "CDevicePlugin::delayedInit");
    return guardedInitCall(m_errorManager, kDelayedInitGuardLine, kDelayedInitFailedLine, [] {
        // The first enumeration of the host's disks into the device map goes
        // here once the identifier factory exists.
        return 0;
    });
}

void CDevicePlugin::fini() { CFiTraceLogFunction traceScope(m_traceLog, "CDevicePlugin::fini"); }

int CDevicePlugin::getDeviceNameFromPartition(const std::string &rawprtName, std::string &deviceName) {
    deviceName = rawprtName;
    return 0;
}

std::string CDevicePlugin::importDevice(WString, uint32_t, uint32_t) { return std::string(); }

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

int CDevicePlugin::diskReserve(const std::string &, const std::string &, int) { return kReserveFailed; }

int CDevicePlugin::diskRelease(const std::string &, const std::string &, int) { return kReleaseFailed; }
