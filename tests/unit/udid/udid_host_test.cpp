// The default rule's "path@host" takes the host name from the simulated
// host, never from the build machine.
#include "udid/device_udid_generator.h"
#include "udid_test_util.h"
#include "platform/simhost.h"

#include <gtest/gtest.h>

namespace {

using namespace udid_test;

TEST(UdidGenerators, DefaultRuleNamesTheSimulatedHost) {
    const struct {
        const char *description, *suffix;
    } cases[] = {
        {"computer-name hosta\nip-address 10.1.2.3\n", "\\\\.\\PHYSICALDRIVE1@HOSTA"},
        {"computer-name lab-b\n", "\\\\.\\PHYSICALDRIVE1@LAB-B"},
    };
    CDefaultUdidGenerator g("", "");
    for (const auto &c : cases) {
        std::string error;
        auto host = rendo_sim::parseHostDescription(c.description, &error);
        ASSERT_TRUE(host) << error;
        rendo_sim::ScopedHost use(host);
        Device noPage00("ABC", "X 100");
        noPage00.unlisted(0x00);
        EXPECT_EQ(c.suffix, g.getUniqueDeviceIDSuffix(noPage00.get()));
    }
}

} // namespace
