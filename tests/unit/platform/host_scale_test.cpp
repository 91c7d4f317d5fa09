// Host descriptions of a large host, and the library's fallback for a bad one
// (kelm-host stops before the library sees it, so only here).
#include "discovery/pnp_manager.h"
#include "platform/simhost.h"
#include "test_env.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

using namespace rendo_sim;

namespace {

TEST(HostScale, SixteenThousandPathsAreAllListed) {
    const unsigned kPaths = 16384;  // 8192 disks, each on adapters 0 and 1
    std::string text;
    char buf[128];
    for (unsigned i = 0; i < kPaths / 2; ++i) {
        std::snprintf(buf, sizeof buf, "disk\n serial S%u\n address 0 0 %u %u\n path 1 0 %u %u\n", i, i >> 8, i & 255,
                      i >> 8, i & 255);
        text += buf;
    }
    std::string error;
    auto host = parseHostDescription(text, &error);
    ASSERT_TRUE(host) << error;
    ScopedHost use(host);
    std::vector<std::string> paths = CPnpManager().enumerateNativeDevicePaths();
    ASSERT_EQ(paths.size(), kPaths);
    for (unsigned i = 0; i < kPaths; i += 4095) EXPECT_EQ(paths[i], "\\\\.\\PHYSICALDRIVE" + std::to_string(i));
    EXPECT_EQ(host->findLun(paths.back())->disk()->desc().serial, "S8191");
}

TEST(HostScale, ABadDescriptionIsAnEmptyHostAndOneLineNamingItsLine) {
    std::string path = ::testing::TempDir() + "bad-host-" + std::to_string(::getpid()) + ".txt";
    rendo_test::writeFile(path, "computer-name badhost\n\ndisk\n  address 0 0 1\n");
    ::setenv("RENDO_SIM_HOST", path.c_str(), 1);
    setCurrentHost(nullptr);
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(currentHost()->luns().empty());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "rendo simulated host: " + path +
                  ":4: an address is PORT BUS TARGET LUN [target-port N] [claim-level N]; using an empty host\n");
    ::unsetenv("RENDO_SIM_HOST");
    std::remove(path.c_str());
}

} // namespace
