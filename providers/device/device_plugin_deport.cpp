// Deport: releasing this host's reservation on a snapshot disk and removing
// the disk from the device tree, with what preDeportResource noted for it.
#include "device_plugin.h"

#include "device_guard.h"
#include "device_win_disk_operations.h"

#include "pdk/cfistringtool.h"
#include "pdk/cfitracelog.h"

using namespace kelm_pdk_4_4;

namespace {

// A wide copy made through the string tool (ACE's own copy makes GCC warn
// about a length it cannot bound).
WString wideCopy(const wchar_t *s) { return CFiStringTool::toWide(CFiStringTool::toNarrow(s)); }

constexpr int kSkipPreDeport = 0x400;
constexpr int kReleaseMask = 0x800 | 0x10000;
constexpr int kRemoveFlag = 0x10;
constexpr int kForceRemoveFlag = 0x40;
constexpr int32_t kPreDeportGuardLine = 2560;
constexpr int32_t kDeportGuardLine = 2620;
const char kUdidPrefix[] = "UDID##";

bool isUdidName(const std::string &name) { return name.find(kUdidPrefix) != std::string::npos; }

} // namespace

int CDevicePlugin::preDeportResource(wchar_t *device, int flags, wchar_t *) {
    CFiTraceLogFunction traceScope(m_traceLog, "CDevicePlugin::preDeportResource");
    return guardedCall(
        m_errorManager, kPreDeportGuardLine,
        [&]() -> int {
            if ((flags & kSkipPreDeport) != 0) return 0;
            if (device == nullptr) return KEL_EFAIL;
            const std::string name = CFiStringTool::toNarrow(device);
            const std::string key =
                isUdidName(name) ? name : udidFactory().getCachedUniqueDeviceID(name.c_str(), true);
            SPreDeportInfo record;
            record.deviceInfoData.cbSize = sizeof(SP_DEVINFO_DATA);
            CWindowsDeviceManager manager(&udidFactory());
            if (manager.getDiskIdentification(device, &record.deviceInfoSet, &record.deviceInfoData) != 0) {
                trace(2, "predeport:: failed to get information for device [%S]", device);
                return KEL_EFAIL;
            }
            auto existing = m_predeportDeviceInfo.find(key);
            if (existing != m_predeportDeviceInfo.end()) {
                // The replaced record's set would otherwise stay open for good.
                if (existing->second.deviceInfoSet != INVALID_HANDLE_VALUE)
                    SetupDiDestroyDeviceInfoList(existing->second.deviceInfoSet);
                existing->second = record;
            } else {
                m_predeportDeviceInfo.emplace(key, record);
            }
            return 0;
        },
        KEL_EFAIL);
}

int CDevicePlugin::deportResource(wchar_t *device, wchar_t *hostName, wchar_t *optStr, wchar_t *hostKey, int flags) {
    CFiTraceLogFunction traceScope(m_traceLog, "CDevicePlugin::deportResource");
    return guardedCall(
        m_errorManager, kDeportGuardLine,
        [&]() -> int {
            trace(3, "CDevicePlugin::deportResource device=[%p], hostname=[%p], optStr=[%p], host_id=[%p], flags=[%d]",
                  static_cast<void *>(device), static_cast<void *>(hostName), static_cast<void *>(optStr),
                  static_cast<void *>(hostKey), flags);
            if (device == nullptr) return KEL_EINVAL;
            const std::string name = CFiStringTool::toNarrow(device);
            trace(3, "deportResource() for [%s]", name.c_str());
            std::string udid;

            if ((flags & kReleaseMask) != 0) {
                const std::string key = getKeyForHost(hostKey);
                trace(3, "CDevicePlugin::deportResource - hostKey = %s", key.c_str());
                std::string path;
                if (!isUdidName(name)) {
                    trace(3, "CDevicePlugin::deportResource - device passed is device path.");
                    path = name;
                } else {
                    trace(3,
                          "CDevicePlugin::deportResource - device passed [%S] is UDID getting device path for it "
                          "using flag [%d].",
                          device, flags);
                    path = importDevice(wideCopy(device), 2, static_cast<uint32_t>(flags));
                }
                trace(3, "CDevicePlugin::deportResource - DevicePath = %s", path.c_str());
                trace(6, "Calling diskRelease on %s", path.c_str());
                const int rc = diskRelease(path, key, flags);
                if (rc != 0) {
                    trace(1, "diskRelease on %s failed with error [%d]", path.c_str(), rc);
                    return rc;
                }
            }

            if (((flags & kRemoveFlag) != 0 && (flags & kSkipPreDeport) == 0) || (flags & kForceRemoveFlag) != 0) {
                if (isUdidName(name)) udid = name;
                if (!udid.empty()) {
                    auto record = m_predeportDeviceInfo.find(udid);
                    if (record != m_predeportDeviceInfo.end()) {
                        CWindowsDeviceManager manager(&udidFactory());
                        // Not reported: the UDID is forgotten whatever the outcome.
                        manager.removeDiskFromSystem(record->second.deviceInfoSet, &record->second.deviceInfoData);
                        m_predeportDeviceInfo.erase(record);
                    }
                    m_deviceudidMap.erase(udid);
                }
                enumerateDevices(true, true, false);
            }
            return 0;
        },
        KEL_EFAIL);
}

// Accepted, nothing to do: the disk leaves with deportResource, and the
// objects keep their access flags.
int CDevicePlugin::deportTree(kel_domain *, kel_domain *, kel_accessnode *) {
    CFiTraceLogFunction traceScope(m_traceLog, "CDevicePlugin::deportTree");
    return 0;
}

int CDevicePlugin::disableAccess(kel_node_subobj_list *, long) {
    CFiTraceLogFunction traceScope(m_traceLog, "CDevicePlugin::disableAccess");
    return 0;
}

int CDevicePlugin::online(kel_domain *, kel_domain *, int, kel_disposition) {
    CFiTraceLogFunction traceScope(m_traceLog, "CDevicePlugin::online");
    return 0;
}

int CDevicePlugin::onlineResource(wchar_t **, int, wchar_t *, wchar_t *, wchar_t *, wchar_t *, int, wchar_t ***,
                                  int *) {
    CFiTraceLogFunction traceScope(m_traceLog, "CDevicePlugin::onlineResource");
    return 0;
}
