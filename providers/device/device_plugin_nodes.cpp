// Node initialisation and node existence: the framework's node records
// pointed at the disks that carry their UDIDs.
#include "device_plugin.h"

#include "device_guard.h"

#include "kelm/kelm_util.h"
#include "pdk/cfierror.h"
#include "pdk/cfiprivatedata.h"
#include "pdk/cfistringtool.h"
#include "pdk/cfitracelog.h"

#include <unicode/fmtable.h>
#include <unicode/unistr.h>

using namespace kelm_pdk_4_4;

namespace {

// A wide copy made through the string tool (ACE's own copy makes GCC warn
// about a length it cannot bound).
WString wideCopy(const wchar_t *s) { return CFiStringTool::toWide(CFiStringTool::toNarrow(s)); }

constexpr uint32_t kPreparedState = 0x1002;
constexpr uint32_t kObjidWide = 3;
constexpr uint32_t kObjidNarrow = 1;
const char kUdidPrefix[] = "UDID##";
constexpr int32_t kInitNodeGuardLine = 392;
constexpr int32_t kInitAltNodeGuardLine = 487;
constexpr int32_t kBuildAltTreeGuardLine = 566;
constexpr int32_t kCheckExistenceGuardLine = 688;
constexpr int32_t kUdidNotFoundLine = 463;
constexpr int32_t kDeviceNotFoundLine = 541;
constexpr int32_t kInvalidDeviceLine = 361;
constexpr int32_t kInvalidTargetLine = 421;
constexpr int32_t kBadAllocLine = 552;

bool startsWithUdidPrefix(const std::string &name) { return name.compare(0, sizeof kUdidPrefix - 1, kUdidPrefix) == 0; }

// The node's object name as narrow text; empty when it has none.
std::string objectName(const kel_domain *node) {
    if (node == nullptr || node->obj == nullptr || node->obj->name == nullptr) return std::string();
    return CFiStringTool::toNarrow(node->obj->name);
}

void prepareNode(kel_domain *node) {
    node->name = node->obj != nullptr ? node->obj->name : nullptr;
    node->field11 = nullptr;
    node->field12 = nullptr;
    node->state = kPreparedState;
}

kelm_objid *wideObjectId(const std::string &text) {
    const WString wide = CFiStringTool::toWide(text);
    return kelm_get_objid(wide.c_str(), static_cast<uint32_t>(wide.length() * sizeof(wchar_t) + sizeof(wchar_t)),
                          kObjidWide);
}

// The device identifier written into a node keeps the narrow type, but its
// name stays wide text: every reader of an identifier (this provider, the
// private data, the framework) takes the name as a wide string, and narrow
// bytes there would be read past their end.
kelm_objid *deviceObjectId(const std::string &text) {
    const WString wide = CFiStringTool::toWide(text);
    return kelm_get_objid(wide.c_str(), static_cast<uint32_t>(wide.length() * sizeof(wchar_t) + sizeof(wchar_t)),
                          kObjidNarrow);
}

[[noreturn]] void throwNodeError(int32_t code, const std::string &text, const char *function, int32_t line) {
    throw CFiError(code, CFiStringTool::toWide(text), CFiStringTool::toWide(kDevicePluginSourceFile), line,
                   CFiStringTool::toWide(function));
}

void pushOneArgument(const CFiErrorManagerPtr &errors, const char *id, const std::string &argument, int32_t line) {
    if (errors.isNull()) return;
    pushMessage(errors, id, {icu::Formattable(icu::UnicodeString::fromUTF8(argument))}, KEL_SEV_ERROR,
                kDevicePluginSourceFile, line);
}

} // namespace

int CDevicePlugin::initNode(kel_domain *node, kel_domain **, int, kelm_objid *) {
    CFiTraceLogFunction traceScope(m_traceLog, "CDevicePlugin::initNode");
    return guardedCall(
        m_errorManager, kInitNodeGuardLine,
        [&]() -> int {
            CFiMutexWrapper lock(getMutex());
            if (node == nullptr)
                throwNodeError(KEL_EFAIL, "Error, invalid device name [], cannot initNode().", "CDevicePlugin::initNode",
                               kInvalidDeviceLine);
            prepareNode(node);
            CFiPrivateDataPtr data;
            if (!m_privateDataManager.isNull()) data = m_privateDataManager->getFactory()->getOrCreate(node, false);
            const std::string devicePath = objectName(node);
            trace(3, "initNode - devicePath = [%s]", devicePath.c_str());
            if (startsWithUdidPrefix(devicePath)) {
                trace(3, "This is a UDID we've claimed as TERTIARY");
                return 0;
            }
            if (devicePath.empty())
                throwNodeError(KEL_EFAIL, "Error, invalid device name [" + devicePath + "], cannot initNode().",
                               "CDevicePlugin::initNode", kInvalidDeviceLine);
            std::string scsiName;
            getScsiToolDeviceName(devicePath, scsiName);
            const std::string udid = udidFactory().getCachedUniqueDeviceID(scsiName.c_str(), true);
            if (udid.empty()) {
                trace(3, "%ls",
                      (L"INFO: No matching UDID for device [" + std::wstring(node->obj->name) +
                       L"], skipping non-SCSI device.")
                          .c_str());
                return 0;
            }
            if (!data.isNull() && data->getSubObjectListLength() == 0) {
                kelm_objid *id = wideObjectId(udid);
                if (id != nullptr) data->addSubObject(id);
            }
            return 0;
        },
        KEL_EFAIL);
}

int CDevicePlugin::initAltNode(kel_domain *primary, kel_domain *parent, kel_domain *target, bool) {
    CFiTraceLogFunction traceScope(m_traceLog, "CDevicePlugin::initAltNode");
    return guardedCall(
        m_errorManager, kInitAltNodeGuardLine,
        [&]() -> int {
            if (target == nullptr)
                throwNodeError(KEL_EINVAL, "initAltNode(), target node is invalid.", "CDevicePlugin::initAltNode",
                               kInvalidTargetLine);
            prepareNode(target);
            CFiPrivateDataPtr data;
            if (!m_privateDataManager.isNull()) data = m_privateDataManager->getFactory()->getOrCreate(target, true);
            const std::string targetName = objectName(target);
            const std::string parentName = parent != nullptr ? objectName(parent) : "null";
            const std::string primaryName = primary != nullptr ? objectName(primary) : "null";
            trace(3, "initAltNode: targetName %s parentName %s primaryName %s", targetName.c_str(), parentName.c_str(),
                  primaryName.c_str());
            if (startsWithUdidPrefix(targetName)) {
                trace(3, "CDevicePlugin::initAltNode: This is a UDID we've claimed as TERTIARY, returning OK.");
                return 0;
            }
            std::string scsiName;
            getScsiToolDeviceName(targetName, scsiName);
            const std::string udid =
                scsiName.empty() ? std::string() : udidFactory().getCachedUniqueDeviceID(scsiName.c_str(), true);
            if (udid.empty()) {
                pushOneArgument(m_errorManager, "MSG_ERROR_UDID_NOT_FOUND", targetName, kUdidNotFoundLine);
                return KEL_EFAIL;
            }
            if (!data.isNull() && data->getSubObjectListLength() == 0) {
                trace(3, "initAltNode, adding subobj [%s]", udid.c_str());
                kelm_objid *id = wideObjectId(udid);
                if (id != nullptr) data->addSubObject(id);
            }
            target->field11 = nullptr;
            target->field12 = nullptr;
            target->state |= kPreparedState;
            return 0;
        },
        KEL_EFAIL);
}

int CDevicePlugin::buildAltTree(kel_domain *, char *, kelm_objid **, kelm_objid **udidId, int, kelm_objid **outId) {
    CFiTraceLogFunction traceScope(m_traceLog, "CDevicePlugin::buildAltTree");
    return guardedCall(
        m_errorManager, kBuildAltTreeGuardLine,
        [&]() -> int {
            if (udidId == nullptr || *udidId == nullptr || (*udidId)->name == nullptr || outId == nullptr)
                return KEL_EINVAL;
            const WString udid = wideCopy((*udidId)->name);
            std::string device = importDevice(udid, 1, KEL_RESCAN_SKIP);
            if (device.empty()) device = importDevice(udid, 1, 0);
            if (device.empty()) {
                trace(1, "MSG_ERROR_DEVICE_NOT_FOUND, device with UDID %S not found", udid.c_str());
                for (const DeviceMap::value_type &entry : m_deviceMap)
                    trace(1, "MSG_ERROR_DEVICE_NOT_FOUND, [%s][%s]", entry.first.c_str(), entry.second.udid.c_str());
                pushOneArgument(m_errorManager, "MSG_ERROR_DEVICE_NOT_FOUND", CFiStringTool::toNarrow(udid),
                                kDeviceNotFoundLine);
                return KEL_EINVAL;
            }
            kelm_objid *id = wideObjectId(device);
            if (id == nullptr) {
                trace(3,
                      "KEL_EMALLOC, Bad allocation for device objid in CDevicePlugin::buildAltTree() matched device "
                      "%s for UDID %s",
                      device.c_str(), CFiStringTool::toNarrow(udid).c_str());
                throwNodeError(KEL_EMALLOC, "Bad allocation for device objid in CDevicePlugin::buildAltTree()",
                               "CDevicePlugin::buildAltTree", kBadAllocLine);
            }
            *outId = id;
            return 0;
        },
        KEL_EFAIL);
}

int CDevicePlugin::checkNodeExistence(kel_domain *node, int *existence) {
    CFiTraceLogFunction traceScope(m_traceLog, "CDevicePlugin::checkNodeExistence");
    return guardedCall(
        m_errorManager, kCheckExistenceGuardLine,
        [&]() -> int {
            if (node == nullptr || existence == nullptr) return KEL_EINVAL;
            const std::string deviceName = objectName(node);
            trace(4, "CDevicePlugin::checkNodeExistence: deviceName [%s]", deviceName.c_str());
            if (startsWithUdidPrefix(deviceName)) {
                *existence = 1;
                return 0;
            }
            std::string scsiName;
            getScsiToolDeviceName(deviceName, scsiName);
            trace(4, "CDevicePlugin::checkNodeExistence: scsiToolDeviceName [%s]", scsiName.c_str());
            std::string udid =
                scsiName.empty() ? std::string() : udidFactory().getCachedUniqueDeviceID(scsiName.c_str(), false);
            trace(4, "CDevicePlugin::checkNodeExistence: udid [%s]", udid.c_str());
            *existence = udid.empty() ? 0 : 1;

            const kel_domain *child = node->child;
            const kel_domain *altChildAlt =
                (node->altnode != nullptr && node->altnode->child != nullptr) ? node->altnode->child->altnode : nullptr;
            if (child != nullptr && child->obj != nullptr && child->obj->name != nullptr) {
                trace(3, "CDevicePlugin::checkNodeExistence - found node->children");
                udid = objectName(child);
            } else if (altChildAlt != nullptr && altChildAlt->obj != nullptr && altChildAlt->obj->name != nullptr) {
                trace(3, "CDevicePlugin::checkNodeExistence - found node->altnode->children");
                udid = objectName(altChildAlt);
            } else {
                trace(4, "CDevicePlugin::checkNodeExistence: node_existance [%d]", *existence);
                return 0;
            }
            const std::string::size_type mark = udid.find('>');
            if (mark != std::string::npos) udid.erase(0, mark + 1);
            trace(3, "CDevicePlugin::checkNodeExistence - udid=[%s]", udid.c_str());

            if (m_deviceMap.empty()) enumerateDevices(false, false, false);
            bool found = false;
            uint32_t best = 0;
            std::string match;
            for (const DeviceMap::value_type &entry : m_deviceMap) {
                const SDeviceInfo &info = entry.second;
                trace(6, "DEVICEMAP: udid=[%s], itr-first=[%s], itr-devName=[%s], itr-udid=[%s]", udid.c_str(),
                      entry.first.c_str(), info.deviceName.c_str(), info.udid.c_str());
                if (!CFiStringTool::equalsNoCase(info.udid, udid)) continue;
                trace(6,
                      "UDID match found in DEVICEMAP: udid=[%s], itr-second.dmpClaimLevel=[%d], claimLevel=[%d]i "
                      "claimLevel=[%s]",
                      udid.c_str(), static_cast<int>(info.dmpClaimLevel), static_cast<int>(best), match.c_str());
                if (found && info.dmpClaimLevel <= best) continue;
                best = info.dmpClaimLevel;
                getDeviceNameFromPartition(entry.first, match);
                trace(6, "found device match [%s][%s] == [%s] with claim level [%d]", entry.first.c_str(),
                      info.udid.c_str(), match.c_str(), static_cast<int>(best));
                found = true;
            }
            if (!found) {
                trace(1, "CDevicePlugin::checkNodeExistence - UDID=[%s] not found in DeviceMap", udid.c_str());
                *existence = 0;
            } else {
                trace(3, "CDevicePlugin::checkNodeExistence - UDID=[%s] found in DeviceMap", udid.c_str());
                kelm_objid *id = deviceObjectId(match);
                if (id == nullptr)
                    throwNodeError(KEL_EMALLOC, "Bad allocation for device objid in CDevicePlugin::checkNodeExistence()",
                                   "CDevicePlugin::checkNodeExistence", kBadAllocLine);
                node->obj = id;
                *existence = 1;
            }
            trace(4, "CDevicePlugin::checkNodeExistence: node_existance [%d]", *existence);
            return 0;
        },
        KEL_EFAIL);
}
