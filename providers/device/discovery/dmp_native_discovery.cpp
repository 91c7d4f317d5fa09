#include "discovery/dmp_native_discovery.h"

#include "pdk/cfitracelog.h"

using kelm_pdk_4_4::CFiTraceLogFunction;

CDmpNativePathDiscovery::CDmpNativePathDiscovery(CDmpClaimManager &claims) : m_claims(claims) {}
CDmpNativePathDiscovery::~CDmpNativePathDiscovery() = default;

int CDmpNativePathDiscovery::enumerateDmpDevices(DeviceMap &deviceMap) {
    CFiTraceLogFunction scope(m_traceLog, "CDmpNativePathDiscovery::enumerateDmpDevices");
    for (DeviceMap::value_type &entry : deviceMap) {
        // Levels other modules gave their pseudo-devices stand.
        if (entry.second.dmpClaimLevel != 0) continue;
        entry.second.dmpClaimLevel = m_claims.claim(entry.first);
        trace(6, "INFO: native path [%s] claimed at level [%u]", entry.first.c_str(), entry.second.dmpClaimLevel);
    }
    return 0;
}

int CDmpNativePathDiscovery::rescan() { return 0; }
