// Host description files (the embedded default host: the UDID factory tests,
// which name every disk on it).
#include "sim_test_util.h"

#include <gtest/gtest.h>

using namespace rendo_sim;
using namespace simtest;

namespace {

TEST(HostDescription, SettingsAndDiskOptions) {
    // computer-name and ip-address: the reservation key tool's tests;
    // virtual-clock: kelm-host import's.
    const char *text = R"(initiator iqn.2026-12.org.example:lab
isid 80 00 00 00 00 07
removal-needs-reboot on
adapter 3 alignment-mask 7 iscsi
dos-name E: \Device\HarddiskVolume9
# a comment
disk late
  vendor "AB  "
  product P
  address 3 0 1 4
  appear-after-rescans 2
  raw-page 0x00 00 00 00 02 00 83
  raw-page 0x83 00 83 00 FF 01
  peripheral 0x7F
disk broken
  fail-open 5
  masked
disk claimed
  claim-level 7
disk two-paths
  address 0 0 9 0 target-port 12 claim-level 2
  path 1 0 9 0
  path 2 0 9 0 target-port 12 claim-level 0
  vanish-after-listing
end
)";
    std::string error;
    auto host = parseHostDescription(text, &error);
    ASSERT_TRUE(host) << error;
    EXPECT_EQ(host->initiator().initiatorName, "iqn.2026-12.org.example:lab");
    EXPECT_EQ(host->initiator().isid[5], 7);
    auto luns = host->luns();
    ASSERT_EQ(luns.size(), 6u);
    EXPECT_FALSE(luns[0]->present());
    EXPECT_EQ(luns[0]->address().lun, 4);
    EXPECT_EQ(luns[0]->disk()->desc().vendor, "AB  ");
    EXPECT_EQ(luns[0]->disk()->vpdPage(0x83).size(), 5u);  // a page whose length byte lies
    EXPECT_EQ(luns[0]->disk()->standardInquiry()[0], 0x7F);
    EXPECT_EQ(luns[0]->disk()->vpdPage(0x83)[0], 0x00);  // raw pages keep their own byte 0
    EXPECT_FALSE(luns[1]->present());
    EXPECT_EQ(luns[0]->claimLevel(), 1u);
    EXPECT_EQ(luns[2]->claimLevel(), 7u);
    EXPECT_EQ(host->claimLevelOf(luns[2]->devicePath(), 0), 7u);
    EXPECT_EQ(host->claimLevelOf("PhysicalDrive77", 9), 9u);  // absent: the caller's fallback
    // A path's own level; the others keep the disk's (default 1).
    EXPECT_EQ(luns[3]->claimLevel(), 2u);
    EXPECT_EQ(luns[4]->claimLevel(), 1u);
    EXPECT_EQ(luns[5]->claimLevel(), 0u);
    EXPECT_EQ(luns[3]->disk(), luns[5]->disk());
    // Each path's target port: given, or one of its own derived from its address.
    EXPECT_EQ(luns[3]->targetPort(), 12u);
    EXPECT_NE(luns[4]->targetPort(), 12u);
    EXPECT_EQ(luns[5]->targetPort(), 12u);
    EXPECT_EQ(luns[3]->disk()->targetPorts().size(), 2u);
    EXPECT_TRUE(luns[3]->m_vanishAfterListing);
}

TEST(HostDescription, ErrorsNameTheLine) {
    struct Case {
        const char *text;
        const char *message;
    } cases[] = {
        {"disk\n  page 0x83 0G\n", "line 2: not hexadecimal"},
        {"disk\n  page 0x83 012\n", "line 2: not hexadecimal"},
        {"frobnicate\n", "line 1: unknown setting"},
        {"disk\n  blocks -1\n", "line 2: not a number"},
        {"disk\n  inquiry-bytes 250 01 02 03 04 05 06\n", "line 2: standard inquiry data ends"},
        {"disk\n  address 1 2 3 256\n", "line 2: not a number up to 255"},
        {"disk\n  path 1 2 3 4 claim-level\n", "line 2: an address is PORT BUS TARGET LUN [target-port N] [claim-level N]"},
        {"disk\n  path 1 2 3 4 level 2\n", "line 2: an address is PORT BUS TARGET LUN [target-port N] [claim-level N]"},
        {"disk\n  iscsi http://x\n", "line 2: an iSCSI disk"},
        {"virtual-clock maybe\n", "line 1: expected on or off"},
        {"disk\n  address 0 0 1 0 target-port 0\n", "line 2: a target port is 1 to 65535"},
        {"disk\n  path 0 0 1 0 target-port\n", "line 2: an address is"},
        {"ip-address 10.1.2\n", "line 1: ip-address needs four dotted numbers"},
        {"ip-address 10.1.2.256\n", "line 1: ip-address needs four dotted numbers"},
    };
    for (const auto &c : cases) {
        std::string error;
        EXPECT_FALSE(parseHostDescription(c.text, &error)) << c.text;
        EXPECT_EQ(error.rfind(c.message, 0), 0u) << error;
    }
}

TEST(HostDescription, TheEnvironmentNamesTheProcessHost) {
    setCurrentHost(nullptr);
    std::string path = std::string(RENDO_SOURCE_DIR) + "/examples/host-two-arrays.txt";
    ::setenv("RENDO_SIM_HOST", path.c_str(), 1);
    auto host = currentHost();
    EXPECT_EQ(host->computerName(), "LABHOST01");
    EXPECT_EQ(currentHost(), host); // the same file: the same host, state and all
    // Naming no file (or another one) gives that host at the next call.
    ::unsetenv("RENDO_SIM_HOST");
    std::string error;
    EXPECT_EQ(currentHost()->luns().size(), parseHostDescription(defaultHostDescription(), &error)->luns().size());
    EXPECT_NE(currentHost()->computerName(), "LABHOST01");
    // Naming the earlier file again returns the earlier host, rescans and all.
    ::setenv("RENDO_SIM_HOST", path.c_str(), 1);
    EXPECT_EQ(currentHost(), host);
    // A host set by the program stays, whatever the environment names.
    auto own = Host::create("OWNHOST");
    setCurrentHost(own);
    ::setenv("RENDO_SIM_HOST", path.c_str(), 1);
    EXPECT_EQ(currentHost(), own);
    ::unsetenv("RENDO_SIM_HOST");
    setCurrentHost(nullptr);
}

TEST(HostDescription, AnUnreachableIscsiDiskFailsItsCommandsNotTheHost) {
    std::string error;
    auto host = parseHostDescription("disk\n  iscsi iscsi://127.0.0.1:1/iqn.2026-12.org.rendo:none/1\n", &error);
    ASSERT_TRUE(host) << error;
    ScopedHost use(host);
    HANDLE h = open("\\\\.\\PHYSICALDRIVE0");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    Answer a = inquiry(h);
    EXPECT_TRUE(!a.ok && a.error == ERROR_IO_DEVICE) << a.error;
    DISK_GEOMETRY g;
    DWORD n = 0;
    EXPECT_FALSE(DeviceIoControl(h, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &g, sizeof g, &n, nullptr));
    CloseHandle(h);
}

} // namespace
