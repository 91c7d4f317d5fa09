// Fuzzes the names discovery reads from outside: device and partition names
// given to the claim library (round trip and claim invariants), and DOS
// device names listed by the host (only "PhysicalDrive" names become paths).
#include "discovery/pnp_manager.h"
#include "dmpclaim/dmpclaim.h"

#include "platform/simhost.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool startsWith(const std::string &s, const std::string &prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

void claimNames(CDmpClaimManager &claims, const std::string &name) {
    uint32_t partition = 99;
    std::string disk = claims.removePartitionSuffix(name, partition);
    bool isPart = claims.isPartition(name);
    if (!isPart && (disk != name || partition != 0)) std::abort();
    if (isPart) {
        if (disk.size() >= name.size() || !CNativePathClaim::isDiskPath(disk)) std::abort();
        std::string again = claims.appendPartitionSuffix(disk, partition);
        uint32_t back = 0;
        if (!claims.isPartition(again) || claims.removePartitionSuffix(again, back) != disk || back != partition)
            std::abort();
    }
    uint32_t level = claims.claim(name);
    if (level != 0 && !isPart && !CNativePathClaim::isDiskPath(name)) std::abort();
    std::string appended = claims.appendPartitionSuffix(name, partition);
    if (!appended.empty() && (!CNativePathClaim::isDiskPath(name) || !claims.isPartition(appended))) std::abort();
}

void dosNames(const std::string &text) {
    auto host = rendo_sim::Host::create("FUZZ");
    size_t start = 0;
    size_t added = 0;
    while (start < text.size() && added < 64) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string name = text.substr(start, end - start);
        if (!name.empty() && name.find('\0') == std::string::npos) {
            host->addDosName(name, "\\Device\\Fuzz");
            ++added;
        }
        start = end + 1;
    }
    rendo_sim::ScopedHost use(host);
    CPnpManager pnp;
    for (const std::string &path : pnp.enumerateNativeDevicePaths())
        if (!startsWith(path, "\\\\.\\PHYSICALDRIVE")) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static CDmpClaimManager *claims = new CDmpClaimManager;
    std::string text(reinterpret_cast<const char *>(data), size);
    claimNames(*claims, text);
    dosNames(text);
    return 0;
}
