// Import of snapshot devices: waiting for the disk that carries a snapshot's
// UDID to appear once the array has unmasked it, and handing it out.
#include "device_plugin.h"

#include "device_guard.h"
#include "device_win_disk_operations.h"

#include "kelm/kelm_util.h"
#include "pdk/cfinodelist.h"
#include "pdk/cfisemaphore.h"
#include "pdk/cfistringtool.h"
#include "pdk/cfitracelog.h"

using namespace kelm_pdk_4_4;

namespace {

// A wide copy made through the string tool (ACE's own copy makes GCC warn
// about a length it cannot bound).
WString wideCopy(const wchar_t *s) { return CFiStringTool::toWide(CFiStringTool::toNarrow(s)); }

constexpr uint32_t kLookupFirstMask = 0x700;  // look in the device-UDID map first
constexpr uint32_t kRecordMask = 0x300;       // record the matched device there
constexpr int kReserveFlag = 0x1000;
constexpr int kImportSemaphoreKey = 9000;
constexpr uint32_t kObjidWide = 3;
constexpr int32_t kImportGuardLine = 2410;

// Shared by every process of the host through its name; never destroyed, so
// an import running while the process exits still finds it.
CFiSemaphoreWin &importSemaphore() {
    static CFiSemaphoreWin *semaphore = new CFiSemaphoreWin(kImportSemaphoreKey);
    return *semaphore;
}

// The framework's identifier of a device: its wide name with the terminator.
kelm_objid *wideObjectId(const std::string &device) {
    const WString wide = CFiStringTool::toWide(device);
    return kelm_get_objid(wide.c_str(), static_cast<uint32_t>(wide.length() * sizeof(wchar_t) + sizeof(wchar_t)),
                          kObjidWide);
}

} // namespace

std::string CDevicePlugin::importDevice(WString udid, uint32_t rescanMode, uint32_t flags) {
    CFiTraceLogFunction traceScope(m_traceLog, "CDevicePlugin::importDevice");
    const std::string sought = CFiStringTool::toNarrow(udid);
    trace(3, "Flags passed [%x]", flags);
    std::string device;
    bool found = false;
    uint32_t bestLevel = 0;
    uint32_t waited = 0;

    if ((flags & kLookupFirstMask) != 0) {
        trace(3, "trying to find device in static map for udid [%s]", sought.c_str());
        if (getDeviceNameForUDID(sought, device, (flags & KEL_RESCAN_SKIP) == 0) == 0) return device;
    }

    trace(5, "Waiting for device to appear on the host after unmasking waiting (%d) sec",
          static_cast<int>(m_tuning.importInitialDelayInSec));
    trace(6, "Wait time is configurable using DEVICE_CONFIG_IMPORT_INITIAL_DELAY_IN_SEC in rendoi.conf");
    sleepSeconds(m_tuning.importInitialDelayInSec);
    waited = m_tuning.importInitialDelayInSec;
    uint32_t delay = m_tuning.importRetryDelayInSec;

    CFiSemaphoreGuard serialised(importSemaphore());
    if ((flags & KEL_RESCAN_SKIP) != 0) {
        trace(1, "KEL_RESCAN_SKIP is set so skipping rescan operations returning failure.");
        return device;
    }

    const uint32_t attempts = m_tuning.importRetryAttempts;
    std::string matchedUdid;
    SDeviceInfo matchedInfo;
    for (uint32_t attempt = 0; attempt < attempts; ++attempt) {
        if (attempt == attempts - 1) CWindowsDeviceManager::rescanDevices();
        enumerateDevices(true, rescanMode == 1, true);

        for (const DeviceMap::value_type &entry : m_deviceMap) {
            const SDeviceInfo &info = entry.second;
            trace(3, "Comparing discovered %s with udid to be imported %s", info.udid.c_str(), sought.c_str());
            if (CFiStringTool::equalsNoCase(info.udid, sought)) {
                if (!(found && info.dmpClaimLevel <= bestLevel)) {
                    bestLevel = info.dmpClaimLevel;
                    getDeviceNameFromPartition(entry.first, device);
                    trace(3, "found device match [%s][%s] == [%s]", entry.first.c_str(), info.udid.c_str(),
                          device.c_str());
                    if ((flags & kRecordMask) != 0) {
                        matchedUdid = info.udid;
                        matchedInfo = info;
                        m_deviceudidMap[info.udid].nativeDevicePaths.push_back(device);
                    }
                    found = true;
                    trace(3, "importDevice: inside if(!found) loop for device [%s].", device.c_str());
                }
                trace(3, "importDevice: inside compare udid if loop; device [%s].", device.c_str());
            }
            trace(3, "importDevice: comapre udid if ended for device [%s].", device.c_str());
        }
        trace(3, "importDevice: for loop ended; device [%s].", device.c_str());

        if (found) {
            trace(3, "importDevice: device found successful returning device [%s].", device.c_str());
            const WString path = CFiStringTool::toWide(device);
            HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (handle != INVALID_HANDLE_VALUE) {
                CloseHandle(handle);
                trace(3, "importDevice: device found successful returning device [%s] total time waited [%d] sec.",
                      device.c_str(), static_cast<int>(waited));
                if ((flags & kRecordMask) != 0 && !matchedUdid.empty()) m_deviceudidMap[matchedUdid] = matchedInfo;
                return device;
            }
            trace(5, "After CreateFileW failed waiting (%d) sec before retry", static_cast<int>(delay));
            sleepSeconds(delay);
            waited += delay;
            trace(2, "WARNING : CreateFileW failed for UDID %S, retry attempt (%d), total waiting time (%d) sec.",
                  udid.c_str(), static_cast<int>(attempt + 1), static_cast<int>(waited));
        } else {
            trace(3, "if found failed for device [%s].", device.c_str());
            trace(2, "WARNING : import failed for UDID %S, retry attempt (%d) total time waited (%d) sec.",
                  udid.c_str(), static_cast<int>(attempt + 1), static_cast<int>(waited));
            trace(6, "Waiting before retry [%d] sec.", static_cast<int>(delay));
            sleepSeconds(delay);
            waited += delay;
        }
        delay *= 2;
    }
    trace(1, "Giving Up for UDID %S, retry attempt (%d) waited for (%d) sec.", udid.c_str(),
          static_cast<int>(attempts + 1), static_cast<int>(waited));
    return device;
}

int CDevicePlugin::importTreeNode(kel_domain *domain, kelm_objid **, kelm_objid **altIds, int, kelm_objid **outId) {
    CFiTraceLogFunction traceScope(m_traceLog, "CDevicePlugin::importTreeNode");
    return guardedCall(
        m_errorManager, kImportGuardLine,
        [&]() -> int {
            if (altIds == nullptr || altIds[0] == nullptr) {
                trace(1, "importTreeNode: altTreeNodeIds is NULL or courrupted.");
                return KEL_EINVAL;
            }
            const wchar_t *nodeName = (domain != nullptr && domain->name != nullptr) ? domain->name : L"";
            const wchar_t *name = altIds[0]->name;
            trace(1, "importTreeNode, node [%S] alt tree node [%S]", nodeName, name != nullptr ? name : L"(null)");
            if (name == nullptr) {
                trace(1, "importTreeNode, invalid alt tree node names for node %S", nodeName);
                return KEL_EINVAL;
            }
            std::string device = importDevice(wideCopy(name), 1, KEL_RESCAN_SKIP);
            if (device.empty()) device = importDevice(wideCopy(name), 1, 0);
            if (device.empty()) {
                trace(1, "importTreeNode, failed to find matching device node for objid %S", nodeName);
                return KEL_EFAIL;
            }
            kelm_objid *id = wideObjectId(device);
            if (id == nullptr) {
                trace(1, "importTreeNode, bad malloc for node objid %S", nodeName);
                return KEL_EMALLOC;
            }
            if (outId == nullptr) {
                // Nowhere to hand it: the caller's fault, not a lost identifier.
                freeObjectId(id);
                return KEL_EINVAL;
            }
            *outId = id;
            return 0;
        },
        KEL_EFAIL);
}

int CDevicePlugin::importResource(wchar_t **outName, wchar_t *udidText, wchar_t *, wchar_t *hostKey, int flags,
                                  wchar_t **udidOverride, wchar_t *) {
    CFiTraceLogFunction traceScope(m_traceLog, "CDevicePlugin::importResource");
    return guardedCall(
        m_errorManager, kImportGuardLine,
        [&]() -> int {
            trace(3, "CDevicePlugin::importResource - flags = %d", flags);
            const wchar_t *udid = udidText;
            if (udidOverride != nullptr && *udidOverride != nullptr) udid = *udidOverride;
            if (udid == nullptr || outName == nullptr) return KEL_EINVAL;
            trace(3, "Importing udid %S.", udid);
            const std::string device = importDevice(wideCopy(udid), 2, static_cast<uint32_t>(flags));
            if (device.empty()) {
                trace(1, "import failed for udid %S, KEL_ENODEV.", udid);
                return KEL_ENODEV;
            }
            if ((flags & kReserveFlag) != 0) {
                const std::string key = getKeyForHost(hostKey);
                trace(3, "CDevicePlugin::importResource - hostKey = %s", key.c_str());
                trace(3, "CDevicePlugin::importResource - flags = %d", flags);
                trace(6, "CDevicePlugin::importResource - calling diskReserve on %s", device.c_str());
                const int rc = diskReserve(device, key, flags);
                if (rc != 0) {
                    trace(1, "diskReserve on %s failed with error [%d]", device.c_str(), rc);
                    return rc;
                }
            }
            *outName = CFiStringTool::tstrdup(CFiStringTool::toWide(device));
            return *outName != nullptr ? 0 : KEL_EMALLOC;
        },
        KEL_EFAIL);
}

int CDevicePlugin::enableAccess(kel_node_subobj_list *list, long, int, int options) {
    CFiTraceLogFunction traceScope(m_traceLog, "CDevicePlugin::enableAccess");
    return guardedCall(
        m_errorManager, kImportGuardLine,
        [&]() -> int {
            if ((options & 0x1) != 0) return 0;
            for (kel_node_subobj_list *element = list; element != nullptr; element = element->next) {
                if (element->subobj_count == 0) {
                    trace(3, "CDevicePlugin::enableAccess - cannot do much, there is no UDID information.");
                    continue;
                }
                if (element->subobj_count > 1) {
                    trace(1, "CDevicePlugin::enableAccess - cannot handle more than one UDIDs.");
                    return KEL_EFAIL;
                }
                kel_domain *sub = element->subobjs != nullptr ? element->subobjs[0] : nullptr;
                if (sub == nullptr || sub->obj == nullptr || sub->obj->name == nullptr || element->obj == nullptr) {
                    trace(3, "CDevicePlugin::enableAccess - cannot do much, there is no UDID information.");
                    continue;
                }
                const WString udid = wideCopy(sub->obj->name);
                std::string device = importDevice(udid, 1, KEL_RESCAN_SKIP);
                if (device.empty()) device = importDevice(udid, 1, 0);
                if (device.empty()) {
                    trace(1, "CDevicePlugin::enableAccess - failed to find matching device node for objid %S",
                          udid.c_str());
                    return KEL_EFAIL;
                }
                const WString wideDevice = CFiStringTool::toWide(device);
                kel_domain *object = element->obj;
                const wchar_t *oldName =
                    (object->obj != nullptr && object->obj->name != nullptr) ? object->obj->name : L"";
                if (CFiStringTool::equalsNoCase(wideCopy(oldName), wideDevice)) {
                    trace(3, "CDevicePlugin::enableAccess - no change in namespace for node objid %S", oldName);
                    continue;
                }
                trace(3, "CDevicePlugin::enableAccess - old name in tree for node objid %S", oldName);
                kelm_objid *id = wideObjectId(device);
                if (id == nullptr) {
                    trace(1, "CDevicePlugin::enableAccess - bad malloc for node objid=[%S]", wideDevice.c_str());
                    return KEL_EMALLOC;
                }
                object->obj = id;
                trace(3, "CDevicePlugin::enableAccess - updated name in tree for node objid %S", id->name);
            }
            return 0;
        },
        KEL_EFAIL);
}
