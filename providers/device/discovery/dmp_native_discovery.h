// The multipath discovery module for plain native disk paths: it gives every
// path of the device map the level at which the claim library claims it.
//
// The identifier factory builds every entry at level 0, so without this
// module the paths of one LUN would always tie and the choice of a primary
// path ("the highest claim level wins") would fall to map order alone.
#ifndef PROVIDERS_DEVICE_DISCOVERY_DMP_NATIVE_DISCOVERY_H
#define PROVIDERS_DEVICE_DISCOVERY_DMP_NATIVE_DISCOVERY_H

#include "discovery/dmp_discovery.h"

class CDmpNativePathDiscovery : public CDmpDiscoveryBase {
public:
    // REQUIRES: claims outlives the module (it is the manager that owns it).
    explicit CDmpNativePathDiscovery(CDmpClaimManager &claims);
    ~CDmpNativePathDiscovery() override;

    // Sets dmpClaimLevel of each entry still at 0 to claims.claim(its name);
    // adds and removes nothing. Returns 0.
    int enumerateDmpDevices(DeviceMap &deviceMap) override;
    // Nothing to ask of native paths. Returns 0.
    int rescan() override;

private:
    CDmpClaimManager &m_claims;
};

#endif // PROVIDERS_DEVICE_DISCOVERY_DMP_NATIVE_DISCOVERY_H
