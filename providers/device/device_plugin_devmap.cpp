// The device-UDID map: which device carries a UDID, and whether it still does.
#include "device_plugin.h"

#include "device_guard.h"

#include "pdk/cfierror.h"
#include "pdk/cfistringtool.h"
#include "pdk/cfitracelog.h"

using namespace kelm_pdk_4_4;

namespace {

const char kFromPartitionFunction[] = "CDevicePlugin::getDeviceNameFromPartition";
constexpr int32_t kInvalidRawprtLine = 1993;
constexpr int32_t kInvalidSubobjLine = 2004;

[[noreturn]] void throwPartitionError(const std::string &text, int32_t line) {
    throw CFiError(KEL_EFAIL, CFiStringTool::toWide(text), CFiStringTool::toWide(kDevicePluginSourceFile), line,
                   CFiStringTool::toWide(kFromPartitionFunction));
}

} // namespace

int CDevicePlugin::FillDeviceUdidMapping(bool refresh, bool rescan, bool rescanOption) {
    CFiTraceLogFunction traceScope(m_traceLog, "CDevicePlugin::FillDeviceUdidMapping");
    return guardedCall(
        m_errorManager, kFillMappingGuardLine,
        [&]() -> int {
            if (refresh || m_deviceMap.empty()) enumerateDevices(rescan, rescanOption, false);
            m_deviceudidMap.clear();
            for (const DeviceMap::value_type &entry : m_deviceMap) {
                const SDeviceInfo &info = entry.second;
                std::string disk;
                getDeviceNameFromPartition(entry.first, disk);
                DeviceMap::iterator stored = m_deviceudidMap.find(info.udid);
                if (stored == m_deviceudidMap.end()) {
                    trace(6, "FillDeviceUdidMapping - Adding new device [%s] for UDID [%s]", disk.c_str(),
                          info.udid.c_str());
                    stored = m_deviceudidMap.emplace(info.udid, info).first;
                } else if (stored->second.dmpClaimLevel <= info.dmpClaimLevel) {
                    // On a tie the later device wins.
                    trace(6, "FillDeviceUdidMapping - Adding Primary device [%s] for UDID [%s]", disk.c_str(),
                          info.udid.c_str());
                    stored->second.dmpClaimLevel = info.dmpClaimLevel;
                    stored->second.deviceName = disk;
                }
                trace(6, "FillDeviceUdidMapping - Adding native device path [%s] for UDID [%s]", disk.c_str(),
                      info.udid.c_str());
                stored->second.nativeDevicePaths.push_back(disk);
            }
            trace(3, "FillDeviceUdidMapping - Printing m_deviceudidMap");
            udidFactory().printDeviceMap(m_deviceudidMap);
            return 0;
        },
        KEL_EFAIL);
}

int CDevicePlugin::getDeviceNameForUDID(const std::string &udid, std::string &deviceName, bool rescan) {
    CFiTraceLogFunction traceScope(m_traceLog, "CDevicePlugin::getDeviceNameForUDID");
    return guardedCall(
        m_errorManager, kDeviceForUdidGuardLine,
        [&]() -> int {
            int status = 0;
            if (m_deviceudidMap.empty()) {
                status = FillDeviceUdidMapping(false, false, false);
                if (status != 0) {
                    trace(1, "Exception occured in FillDeviceUdidMapping");
                    return KEL_EFAIL;
                }
            }
            for (int attemptsLeft = 3; attemptsLeft > 0;) {
                --attemptsLeft;
                DeviceMap::const_iterator entry = m_deviceudidMap.find(udid);
                if (entry != m_deviceudidMap.end()) {
                    trace(6, "Device entry found in the Map for UDID [%s]", udid.c_str());
                    bool valid = false;
                    // A copy: the map may be rebuilt before the name is used.
                    const std::string candidate = entry->second.deviceName;
                    isValidDisk(udid, candidate, valid);
                    if (valid) {
                        trace(3, "Device [%s] available for udid [%s]  which is validated from m_deviceudidMap",
                              candidate.c_str(), udid.c_str());
                        deviceName = candidate;
                        return 0;
                    }
                }
                if (attemptsLeft == 2) {
                    trace(3,
                          "Device not available for udid [%s], hence retrying by rebuilding map after "
                          "refreshingnative devices",
                          udid.c_str());
                    status = FillDeviceUdidMapping(true, false, false);
                } else if (attemptsLeft == 1) {
                    if (!rescan) {
                        trace(2, "As rescan flag is not set, skipping the rescan itteration.");
                    } else {
                        trace(3, "Device not available for udid [%s], hence retrying by rebuilding map after device rescan",
                              udid.c_str());
                        status = FillDeviceUdidMapping(true, true, false);
                    }
                }
                if (status != 0) {
                    trace(1, "Error occured in FillDeviceUdidMapping");
                    return KEL_EFAIL;
                }
            }
            trace(2, "Device mapping not available from m_deviceudidMap");
            trace(3, "Dumping Device Map:");
            for (const DeviceMap::value_type &entry : m_deviceudidMap) {
                trace(3, "UDID = [%s]", entry.first.c_str());
                trace(3, "\t\t deviceName = [%s]", entry.second.deviceName.c_str());
                trace(3, "\t\t dmpClaimLevel = [%u]", entry.second.dmpClaimLevel);
                for (const std::string &path : entry.second.nativeDevicePaths)
                    trace(3, "\t\t nativeDevicePaths = [%s]", path.c_str());
            }
            return KEL_EFAIL;
        },
        KEL_EFAIL);
}

int CDevicePlugin::isValidDisk(const std::string &udid, const std::string &deviceName, bool &valid) {
    CFiTraceLogFunction traceScope(m_traceLog, "CDevicePlugin::isValidDisk");
    valid = false;
    if (m_dmpManager.claim(deviceName) == 0) return 0;
    for (uint32_t attempt = 0; attempt < m_tuning.scsiRetryAttempts && !valid; ++attempt) {
        trace(3, " Retrying isValidDisk......retry number [%d]", static_cast<int>(attempt));
        const DeviceMap fresh = udidFactory().validateDeviceMap(deviceName);
        DeviceMap::const_iterator entry = fresh.find(deviceName);
        if (entry == fresh.end()) continue;
        trace(3, "[%s] udid returned from validateDeviceMap and passed udid [%s]", entry->second.udid.c_str(),
              udid.c_str());
        if (entry->second.udid == udid) {
            trace(3, "'%s' is valid disk.", deviceName.c_str());
            valid = true;
        } else {
            trace(3, "'%s' is not valid disk.", deviceName.c_str());
            sleepSeconds(m_tuning.scsiRetryDelayInSec);
        }
    }
    return 0;
}

int CDevicePlugin::getDeviceNameFromPartition(const std::string &rawprtName, std::string &deviceName) {
    CFiTraceLogFunction traceScope(m_traceLog, "CDevicePlugin::getDeviceNameFromPartition");
    trace(3, "IN rawprtName is: %s", rawprtName.c_str());
    if (rawprtName.empty())
        throwPartitionError("Error: Invalid rawprt name [" + rawprtName + "], cannot initNode().", kInvalidRawprtLine);
    uint32_t partitionNumber = 0;
    deviceName = m_dmpManager.removePartitionSuffix(rawprtName, partitionNumber);
    trace(3, "CDevicePlugin::getDeviceNameFromPartition in device =[%s] out device =[%s]", rawprtName.c_str(),
          deviceName.c_str());
    if (deviceName.empty())
        throwPartitionError("Error: Invalid device subobj from rawprt name [" + rawprtName + "], cannot initNode().",
                            kInvalidSubobjLine);
    trace(3, "Info: OUT deviceName is: %s", deviceName.c_str());
    return 0;
}
