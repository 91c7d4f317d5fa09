// Claiming objects and describing the provider to the framework.
#include "device_plugin.h"

#include "device_guard.h"

#include "pdk/cfinodelist.h"
#include "pdk/cfistringtool.h"
#include "pdk/cfitracelog.h"

using namespace kelm_pdk_4_4;

namespace {
const char kUdidPrefix[] = "UDID##";
} // namespace

int CDevicePlugin::claim(kelm_objid *object, kelm_objid ***claimed, int *level) {
    CFiTraceLogFunction traceScope(m_traceLog, "CDevicePlugin::claim");
    if (claimed != nullptr) *claimed = nullptr;
    if (level != nullptr) *level = 0;
    if (object == nullptr) return KEL_CLAIM_NONE;
    return guardedCall(
        m_errorManager, kClaimGuardLine,
        [&]() -> int {
            const std::string name = CFiStringTool::toNarrow(object->name);
            if (m_dmpManager.claim(name) == 0) {
                if (name.compare(0, sizeof kUdidPrefix - 1, kUdidPrefix) == 0) {
                    trace(3, "KEL_CLAIM_TERTIARY [%s]", name.c_str());
                    return KEL_CLAIM_TERTIARY;
                }
                trace(3, "KEL_CLAIM_NONE [%s]", name.c_str());
                return KEL_CLAIM_NONE;
            }
            if (!m_dmpManager.isPartition(name)) {
                trace(3, "KEL_CLAIM_SECONDARY [%s]", name.c_str());
                return KEL_CLAIM_SECONDARY;
            }
            trace(3, "KEL_CLAIM_NONE [%s], a partition", name.c_str());
            return KEL_CLAIM_NONE;
        },
        KEL_CLAIM_NONE);
}

int CDevicePlugin::getProviderInfo(kel_provider_list **list) {
    CFiTraceLogFunction traceScope(m_traceLog, "CDevicePlugin::getProviderInfo");
    if (list == nullptr) return KEL_EINVAL;
    return guardedCall(
        m_errorManager, kProviderInfoGuardLine,
        [&]() -> int {
            const kel_version version{{7, 0, 0, 0}};
            CFiProviderInfoList providers(list, getProviderName(), version);
            CFiProviderInfo entry(1, 1);
            entry.addObjectType(WString(L"device"));
            entry.addObjectType(WString(L"jbod"));
            providers.append(entry);
            return 0;
        },
        KEL_EFAIL);
}
