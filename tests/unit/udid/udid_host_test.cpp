// The default rule's "path@host" takes the host name from the simulated
// host, never from the build machine.
#include "udid/device_udid_generator.h"
#include "udid_test_util.h"
#include "platform/simhost.h"

#include <gtest/gtest.h>

namespace {

using namespace udid_test;

TEST(UdidGenerators, DefaultRuleNamesTheSimulatedHost) {
    std::string error;
    auto host = rendo_sim::parseHostDescription("computer-name hosta\nip-address 10.1.2.3\n", &error);
    ASSERT_TRUE(host) << error;
    rendo_sim::ScopedHost use(host);
    Device noPage00("ABC", "X 100");
    noPage00.unlisted(0x00);
    EXPECT_EQ("\\\\.\\PHYSICALDRIVE1@HOSTA", CDefaultUdidGenerator("", "").getUniqueDeviceIDSuffix(noPage00.get()));
}

} // namespace
