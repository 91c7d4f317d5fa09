// kelm-host disks: every disk of the (simulated) host with the generator
// that named it and its UDID, and the generators that claimed it but had to
// pass it on, so that one can see why a LUN got the identifier it got.
#include "commands.h"

#include "udid/device_udid_factory.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace kelm_host {
namespace {

int runDisks(ProviderHost &, const std::vector<std::string> &args) {
    if (!args.empty()) {
        std::fprintf(stderr, "kelm-host disks: takes no arguments\n");
        return 2;
    }
    CUDIDFactory factory;
    std::vector<CScsiDeviceData *> records = factory.pnpManager().rescan(false, false, false);
    std::vector<std::unique_ptr<CScsiDeviceData>> owned(records.begin(), records.end());
    std::printf("%-22s %-8s %-16s %-18s %s\n", "PATH", "VENDOR", "PRODUCT", "GENERATOR", "UDID");
    for (const std::unique_ptr<CScsiDeviceData> &d : owned) {
        std::string generator;
        std::vector<std::string> refusals;
        std::string udid;
        if (d->stdInquiry().present()) udid = factory.getUniqueDeviceID(d.get(), generator, &refusals);
        else generator = "(no inquiry data)";
        if (generator == ":") generator = ": (default)";
        std::printf("%-22s %-8s %-16s %-18s %s\n", d->m_deviceName.c_str(), d->m_vendorId.c_str(),
                    d->m_productId.c_str(), generator.c_str(), udid.c_str());
        for (const std::string &r : refusals) std::printf("%-22s refused by %s\n", "", r.c_str());
    }
    std::printf("%zu disk(s)\n", owned.size());
    return 0;
}

const CommandRegistration reg{
    {"disks", "list the host's disks: path, vendor, product, the generator that named each and its UDID", "disks",
     &runDisks, false}};

} // namespace
} // namespace kelm_host
