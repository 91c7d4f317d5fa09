// Node enumeration: the disks as local nodes (one per device name) and
// global nodes (one per UDID).
#include "device_plugin.h"

#include "device_guard.h"

#include "pdk/cfinodelist.h"
#include "pdk/cfistringtool.h"
#include "pdk/cfitracelog.h"

using namespace kelm_pdk_4_4;

namespace {

// Shorter names cannot be a device path; shorter UDIDs cannot hold "UDID##".
constexpr size_t kMaxSkippedDeviceName = 3;
constexpr size_t kMaxSkippedUdid = 7;

CFiNode makeNode(uint32_t kind, const std::string &name, const std::string &objectText, const WString &provider) {
    CFiNode node;
    node.lead1 = kind;
    node.lead2 = 2;
    node.lead3 = 1;
    node.lead4 = 0;
    node.name = CFiStringTool::toWide(name);
    node.objectText = CFiStringTool::toWide(objectText);
    node.providerName = provider;
    return node;
}

constexpr uint32_t kLocalNode = 1;
constexpr uint32_t kGlobalNode = 2;

} // namespace

int CDevicePlugin::enumerateNodes(kel_node_list **list, int *count, int selection, wchar_t *) {
    CFiTraceLogFunction traceScope(m_traceLog, "CDevicePlugin::enumerateNodes");
    if (list == nullptr) return KEL_EINVAL;
    // Unlike the operations that need the disks, this one may arrive while
    // delayed initialisation (under the same mutex) is filling the map.
    CFiMutexWrapper lock(getMutex());
    return guardedCall(
        m_errorManager, kEnumerateNodesGuardLine,
        [&]() -> int {
            CFiNodeListFactory nodes(list, count);
            const WString provider = getProviderName();
            if (selection == 0 || (selection & kSelectLocal) != 0) {
                if (m_deviceMap.empty()) enumerateDevices(false, false, false);
                for (const DeviceMap::value_type &entry : m_deviceMap) {
                    if (entry.first.size() <= kMaxSkippedDeviceName) continue;
                    CFiNode node = makeNode(kLocalNode, entry.first, entry.second.udid, provider);
                    trace(1, "enumerateNodes: adding local device %s", entry.first.c_str());
                    nodes.append(node);
                }
            }
            if (selection == 0 || (selection & kSelectGlobal) != 0) {
                if (m_deviceMap.empty()) enumerateDevices(false, false, false);
                DeviceMap byUdid;
                for (const DeviceMap::value_type &entry : m_deviceMap) {
                    DeviceMap::iterator stored = byUdid.find(entry.second.udid);
                    if (stored == byUdid.end()) byUdid.emplace(entry.second.udid, entry.second);
                    else if (entry.second.dmpClaimLevel > stored->second.dmpClaimLevel) stored->second = entry.second;
                }
                for (const DeviceMap::value_type &entry : byUdid) {
                    if (entry.first.size() <= kMaxSkippedUdid) continue;
                    CFiNode node = makeNode(kGlobalNode, entry.first, entry.first, provider);
                    trace(1, "enumerateNodes: adding global device %s", entry.first.c_str());
                    nodes.append(node);
                }
            }
            return 0;
        },
        KEL_EFAIL);
}
