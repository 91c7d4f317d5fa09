// Fuzzes the names discovery reads from outside: device and partition names
// given to the claim library (round trip and claim invariants), and DOS
// device names listed by the host (only "PhysicalDrive" names become paths).
#include "discovery/pnp_manager.h"
#include "dmpclaim/dmpclaim.h"
#include "fuzz_target.h"

#include "platform/simhost.h"

#include <algorithm>

namespace {

void claimNames(CDmpClaimManager &claims, const std::string &name) {
    uint32_t partition = 99, back = 0;
    std::string disk = claims.removePartitionSuffix(name, partition);
    bool isPart = claims.isPartition(name);
    require(isPart || (disk == name && partition == 0));
    if (isPart) {
        require(disk.size() < name.size() && CNativePathClaim::isDiskPath(disk));
        std::string again = claims.appendPartitionSuffix(disk, partition);
        require(claims.isPartition(again) && claims.removePartitionSuffix(again, back) == disk && back == partition);
    }
    require(claims.claim(name) == 0 || isPart || CNativePathClaim::isDiskPath(name));
    std::string appended = claims.appendPartitionSuffix(name, partition);
    require(appended.empty() || (CNativePathClaim::isDiskPath(name) && claims.isPartition(appended)));
}

void dosNames(const std::string &text) {
    auto host = rendo_sim::Host::create("FUZZ");
    size_t added = 0;
    for (size_t start = 0, end; start < text.size() && added < 64; start = end + 1) {
        end = std::min(text.find('\n', start), text.size());
        std::string name = text.substr(start, end - start);
        if (name.empty() || name.find('\0') != std::string::npos) continue;
        host->addDosName(name, "\\Device\\Fuzz");
        ++added;
    }
    rendo_sim::ScopedHost use(host);
    for (const std::string &path : CPnpManager().enumerateNativeDevicePaths())
        require(path.rfind("\\\\.\\PHYSICALDRIVE", 0) == 0);
}

} // namespace

FUZZ_TEXT_TARGET(text) {
    static CDmpClaimManager *claims = new CDmpClaimManager;
    claimNames(*claims, text);
    dosNames(text);
}
