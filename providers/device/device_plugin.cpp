#include "device_plugin.h"

#include "device_guard.h"

#include "pdk/cfimessagecatalog.h"
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

        // The reservation tool, the reservation log manager and the identifier
        // factory are obtained here once their subsystems exist.
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

int CDevicePlugin::diskReserve(const std::string &, const std::string &, int) { return kReserveFailed; }

int CDevicePlugin::diskRelease(const std::string &, const std::string &, int) { return kReleaseFailed; }
