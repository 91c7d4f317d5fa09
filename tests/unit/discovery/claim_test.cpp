// The claim library stand-in: partition names and per-path claim levels.
#include "dmpclaim/dmpclaim.h"

#include "platform/simhost.h"

#include <gtest/gtest.h>

namespace {

using rendo_sim::DiskSpec;

TEST(ClaimLibrary, PartitionSuffixRoundTrips) {
    CDmpClaimManager claims;
    for (const std::string disk : {"\\\\.\\PHYSICALDRIVE0", "\\\\.\\physicalDrive12"})
        for (uint32_t p : {0u, 17u, 4294967295u}) {
            std::string name = claims.appendPartitionSuffix(disk, p);
            EXPECT_EQ(name, disk + "\\PARTITION" + std::to_string(p));
            EXPECT_TRUE(claims.isPartition(name)) << name;
            uint32_t back = 12345;
            EXPECT_EQ(claims.removePartitionSuffix(name, back), disk);
            EXPECT_EQ(back, p);
        }
    // Not partitions: unchanged, number 0.
    for (const std::string name :
         {"", "\\\\.\\PHYSICALDRIVE1", "\\\\.\\PHYSICALDRIVE1\\PARTITION", "\\\\.\\PHYSICALDRIVE1\\PARTITION1x",
          "\\\\.\\PHYSICALDRIVE1\\PARTITION+1", "\\\\.\\PHYSICALDRIVE1\\PARTITION4294967296",
          "\\\\.\\PHYSICALDRIVE\\PARTITION1", "C:\\PARTITION1", "\\\\.\\PHYSICALDRIVE1\\PARTITION1\\PARTITION2"}) {
        uint32_t p = 7;
        EXPECT_FALSE(claims.isPartition(name)) << name;
        EXPECT_EQ(claims.removePartitionSuffix(name, p), name);
        EXPECT_EQ(p, 0u);
    }
    EXPECT_EQ(claims.appendPartitionSuffix("\\\\.\\CDROM0", 1), "");
}

TEST(ClaimLibrary, LevelsComeFromTheHostPerPath) {
    auto host = rendo_sim::Host::create("CLAIMS");
    rendo_sim::ScopedHost use(host);
    auto disk = std::make_shared<rendo_sim::Disk>(DiskSpec::make("ACME", "MULTI", "0001", "MP1"));
    rendo_sim::Lun &a = host->attach(disk, rendo_sim::ScsiAddress{0, 0, 1, 0});
    rendo_sim::Lun &b = host->attach(disk, rendo_sim::ScsiAddress{1, 0, 1, 0}).claimLevel(2);
    rendo_sim::Lun &off = host->addDisk(DiskSpec::make("ACME", "PLAIN", "0001", "P1")).claimLevel(0);

    CDmpClaimManager claims;
    EXPECT_EQ(claims.claim(a.devicePath()), 1u);
    EXPECT_EQ(claims.claim(b.devicePath()), 2u);
    EXPECT_EQ(claims.claim(claims.appendPartitionSuffix(b.devicePath(), 1)), 2u);
    EXPECT_EQ(claims.claim(off.devicePath()), 0u);
    EXPECT_EQ(claims.claim("\\\\.\\PHYSICALDRIVE99"), 1u);  // not on the host: the default
    EXPECT_EQ(claims.claim("UDID##EMC##SYMMETRIX##1234##0A1B"), 0u);
}

// Claims "emcpower..." at 16.
struct PseudoClaim : CDmpDeviceClaimBase {
    std::vector<std::string> getDeviceClaimStrings() override { return {"emcpower"}; }
    uint32_t claim(const std::string &path) override { return path.rfind("emcpower", 0) == 0 ? 16 : 0; }
    bool isPartition(const std::string &) override { return false; }
    std::string appendPartitionSuffix(const std::string &, uint32_t) override { return ""; }
    std::string removePartitionSuffix(const std::string &name, uint32_t &p) override { return p = 0, name; }
};

TEST(ClaimLibrary, RegisteredModulesJoinTheClaim) {
    CDmpClaimManager claims;
    claims.registerClaimModule(nullptr);
    EXPECT_EQ(claims.claim("emcpowera"), 0u);
    claims.registerClaimModule(new PseudoClaim);
    EXPECT_EQ(claims.claim("emcpowera"), 16u);
    EXPECT_EQ(claims.getDeviceClaimStrings(), (std::vector<std::string>{"\\\\.\\PHYSICALDRIVE", "emcpower"}));
}

} // namespace
