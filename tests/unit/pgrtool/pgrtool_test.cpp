// Reservation keys: derivation from this host's address, the reverse
// lookup, the numeric form, padding, the device path test and the
// provider's choice between the caller's key and the derived one.
#include "device_plugin.h"
#include "pgrtool_fixture.h"

#include "pdk/cfinetwork.h"

#include <string>
#include <vector>

namespace pgrtool_test {
namespace {

using namespace kelm_pdk_4_4;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

// Numeric host names resolve locally, without a name server, so each case
// below pins the address that the key is derived from.
struct KeyCase {
    const char *computerName;
    const char *key;
};

TEST_F(PgrToolTest, KeyIsTheLowerCaseHexOfTheOctetsInAddressOrder) {
    const KeyCase cases[] = {
        {"10.0.0.1", "0a000001"},        {"192.168.1.254", "c0a801fe"}, {"255.255.255.255", "ffffffff"},
        {"1.2.3.4", "01020304"},         {"172.16.15.160", "ac100fa0"}, {"localhost", "7f000001"},
        {"001.002.003.004", "01020304"}, // the resolver reads the octets; the key is of the address found
    };
    for (const KeyCase &c : cases) {
        setComputerName(c.computerName);
        lines();
        EXPECT_EQ(c.key, tool->getKeyForHost()) << c.computerName;
        std::vector<TraceLine> seen = lines();
        std::string host = CFiNetwork::getComputerName();
        std::string address;
        ASSERT_EQ(0, CFiNetwork::getHostbyName(host.c_str(), address));
        EXPECT_EQ(1, count(seen, KEL_SEV_INFO,
                           "Generated Key [" + std::string(c.key) + "] from IP[" + address + "] for host [" + host +
                               "]."))
            << c.computerName;
        EXPECT_EQ(1, count(seen, KEL_SEV_DEBUG, "Entering Function CPGRTool::getKeyForHost"));
        EXPECT_EQ(1, count(seen, KEL_SEV_DEBUG, "Exiting Function CPGRTool::getKeyForHost"));
    }
}

TEST_F(PgrToolTest, AllZeroAddressGivesTheFailureValueButIsTracedAsGenerated) {
    setComputerName("0.0.0.0");
    lines();
    EXPECT_EQ("00000000", tool->getKeyForHost());
    std::vector<TraceLine> seen = lines();
    EXPECT_EQ(1, count(seen, KEL_SEV_INFO, "Generated Key [00000000] from IP[0.0.0.0] for host [0.0.0.0]."));
    EXPECT_EQ(0, count(seen, KEL_SEV_WARNING, "Invaild IP address [0.0.0.0] found for host '0.0.0.0'."));
}

TEST_F(PgrToolTest, UnresolvableHostGetsZeroKeyAndOneWarning) {
    // Names the C library rejects without asking a name server.
    for (const char *name : {"999.1.1.1", "1.2.3.4.5", "A..B"}) {
        setComputerName(name);
        lines();
        EXPECT_EQ("00000000", tool->getKeyForHost()) << name;
        std::vector<TraceLine> seen = lines();
        EXPECT_EQ(1, count(seen, KEL_SEV_WARNING, std::string("Invaild IP address [] found for host '") + name + "'."))
            << name;
        for (const TraceLine &l : seen) EXPECT_NE(l.severity, KEL_SEV_INFO) << l.message;
    }
}

TEST_F(PgrToolTest, AddressToKeyRejectsWhatCannotFillEightCharacters) {
    std::string key = "untouched";
    for (const char *bad : {"", "1.2.3", "1.2.3.4.5", "256.1.1.1", "1.2.3.1000", "1..2.3", "1.2.3.4.", "a.b.c.d",
                            "1.2.3.-4", " 1.2.3.4", "99999999999999999999999.1.1.1"}) {
        EXPECT_FALSE(CPGRTool::addressToKey(bad, key)) << bad;
        EXPECT_EQ("untouched", key) << bad;
    }
    ASSERT_TRUE(CPGRTool::addressToKey("0.15.16.255", key));
    EXPECT_EQ("000f10ff", key);
}

TEST_F(PgrToolTest, HostForKeyStoresTheAddressAndReverseResolvesIt) {
    std::string ip = "untouched";
    EXPECT_EQ("localhost", tool->getHostForKey("7f000001", ip));
    EXPECT_EQ("127.0.0.1", ip);
    // Upper-case hex digits are read as well.
    ip.clear();
    EXPECT_EQ("localhost", tool->getHostForKey("7F000001", ip));
    EXPECT_EQ("127.0.0.1", ip);
}

TEST_F(PgrToolTest, KeyOfThisHostLeadsBackToIt) {
    setComputerName("localhost");
    std::string key = tool->getKeyForHost();
    std::string ip;
    EXPECT_EQ("localhost", tool->getHostForKey(key, ip));
    std::string expected;
    ASSERT_EQ(0, CFiNetwork::getHostbyName("localhost", expected));
    EXPECT_EQ(expected, ip);
}

TEST_F(PgrToolTest, MalformedKeysGiveUnknownHostAndLeaveTheAddressAlone) {
    // 7 and 9 characters; a last pair that is not hex; pairs that a
    // stop-at-first-non-digit scan would half read.
    for (const char *bad : {"", "0a00000", "0a0000011", "0a0000zz", "0a00000g", "g0a00000", "+f000001", " f000001",
                            "-1000001", "0x000001", "7f00 001"}) {
        std::string ip = "untouched";
        lines();
        EXPECT_EQ("UnknownHost", tool->getHostForKey(bad, ip)) << bad;
        EXPECT_EQ("untouched", ip) << bad;
        EXPECT_EQ(1, count(lines(), KEL_SEV_WARNING, std::string("Invaild key format [") + bad + "].")) << bad;
    }
    std::string withNul("7f00\0" "001", 8);
    std::string ip = "untouched";
    EXPECT_EQ("UnknownHost", tool->getHostForKey(withNul, ip));
    EXPECT_EQ("untouched", ip);
}

TEST_F(PgrToolTest, KeyWithoutReverseEntryGivesUnknownHost) {
    // 192.0.2.1 is reserved for documentation: no host answers for it,
    // whether or not a name server is reachable.
    std::string ip;
    lines();
    EXPECT_EQ("UnknownHost", tool->getHostForKey("c0000201", ip));
    EXPECT_EQ("192.0.2.1", ip);
    EXPECT_EQ(1, count(lines(), KEL_SEV_WARNING, "Could not find host for IP address [192.0.2.1]."));
}

TEST_F(PgrToolTest, AllOnesKeyReportsTheAddressTheParserRejects) {
    std::string ip;
    lines();
    EXPECT_EQ("255.255.255.255", tool->getHostForKey("ffffffff", ip));
    EXPECT_EQ("255.255.255.255", ip);
    EXPECT_EQ(1, count(lines(), KEL_SEV_WARNING, "Could not find host for IP address [255.255.255.255]."));
}

TEST_F(PgrToolTest, NumericKeyTest) {
    struct Case {
        const char *text;
        bool valid;
        const char *printed;
    };
    const Case cases[] = {
        {"", false, ""},
        {"72,73", true, ""},
        {"0,255", true, ""},
        {"72,256", false, "Invalid key format detected! '256' is not an ASCII code.\n"},
        {"72,a", false, "Invalid key format detected! 'a' is not an code.\n"},
        {"a,256", false, "Invalid key format detected! 'a' is not an code.\n"},
        {"-1", false, "Invalid key format detected! '-1' is not an code.\n"},
        {"72,,73", false, "Invalid key format detected! '' is not an code.\n"},
        {"72,", false, "Invalid key format detected! '' is not an code.\n"},
        {" 72", false, "Invalid key format detected! ' 72' is not an code.\n"},
        {"99999999999999999999999", false,
         "Invalid key format detected! '99999999999999999999999' is not an ASCII code.\n"},
        {"0000000065", true, ""},
    };
    for (const Case &c : cases) {
        lines();
        CaptureStdout();
        bool valid = tool->isNumericKey(c.text);
        std::string printed = GetCapturedStdout();
        EXPECT_EQ(c.valid, valid) << c.text;
        EXPECT_EQ(c.printed, printed) << c.text;
        EXPECT_EQ(1, count(lines(), KEL_SEV_INFO, std::string("PGRTool::getKeyForHost -  numericKey = ") + c.text));
    }
}

TEST_F(PgrToolTest, CharacterAndNumericKeysConvertBothWays) {
    lines();
    EXPECT_EQ("72,73", tool->getNumKey("HI"));
    std::vector<TraceLine> seen = lines();
    EXPECT_EQ(1, count(seen, KEL_SEV_INFO, "PGRTool::getKeyForHost -  charKey = HI"));
    EXPECT_EQ(1, count(seen, KEL_SEV_INFO, "PGRTool::getKeyForHost -  returning numeric key  = 72,73"));

    EXPECT_EQ("HI", tool->getCharKey("72,73"));
    seen = lines();
    EXPECT_EQ(1, count(seen, KEL_SEV_INFO, "PGRTool::getKeyForHost -  numericKey = 72,73"));
    EXPECT_EQ(1, count(seen, KEL_SEV_INFO, "PGRTool::getKeyForHost -  returning character key  = HI"));

    // A derived key as the SCSI field carries it: ASCII codes of the digits.
    EXPECT_EQ("48,97,48,48,48,48,48,49", tool->getNumKey("0a000001"));
    EXPECT_EQ("0a000001", tool->getCharKey("48,97,48,48,48,48,48,49"));

    // Every byte value survives the round trip; bytes above 127 are codes
    // 128..255, never negative.
    std::string all;
    for (int c = 1; c < 256; ++c) all.push_back(static_cast<char>(c));
    std::string numeric = tool->getNumKey(all);
    EXPECT_EQ(0u, numeric.find("1,2,3,"));
    EXPECT_EQ(numeric.size() - 7, numeric.find("254,255"));
    EXPECT_EQ(all, tool->getCharKey(numeric));
    EXPECT_EQ("", tool->getNumKey(""));
}

TEST_F(PgrToolTest, CharKeyOfTextThatIsNoNumericKeyIsEmpty) {
    for (const char *bad : {"", "300", "72,x", "72,,73", "99999999999999999999999", "-1"}) {
        EXPECT_EQ("", tool->getCharKey(bad)) << bad;
    }
}

TEST_F(PgrToolTest, FormatKeyPadsToEightWithDashes) {
    const std::pair<const char *, const char *> cases[] = {
        {"abc", "abc-----"}, {"", "--------"}, {"abcdefgh", "abcdefgh"}, {"abcdefghij", "abcdefghij"}};
    for (const auto &c : cases) {
        std::string key = c.first;
        lines();
        EXPECT_EQ(0, tool->formatKey(key));
        EXPECT_EQ(c.second, key);
        std::vector<TraceLine> seen = lines();
        EXPECT_EQ(1, count(seen, KEL_SEV_INFO, std::string("PGRTool::getKeyForHost -  key = ") + c.first));
        EXPECT_EQ(1, count(seen, KEL_SEV_INFO, std::string("PGRTool::getKeyForHost -  Returning modified key = ") +
                                                   c.second));
    }
}

TEST_F(PgrToolTest, OnlyPhysicalDrivePathsCarryReservations) {
    EXPECT_TRUE(tool->isValidDevice("\\\\.\\PHYSICALDRIVE3"));
    EXPECT_TRUE(tool->isValidDevice("\\\\.\\PHYSICALDRIVE12"));
    EXPECT_FALSE(tool->isValidDevice("\\\\.\\Scsi2:"));
    EXPECT_FALSE(tool->isValidDevice("x\\\\.\\PHYSICALDRIVE3"));
    EXPECT_FALSE(tool->isValidDevice("\\\\.\\PHYSICALDRIV"));
    EXPECT_FALSE(tool->isValidDevice("\\\\.\\physicaldrive3"));
    EXPECT_FALSE(tool->isValidDevice(""));
}

TEST_F(PgrToolTest, WithoutTraceLogNothingIsTracedAndResultsStand) {
    CPGRToolPtr bare(new CPGRTool);
    setComputerName("10.0.0.1");
    lines();
    EXPECT_EQ("0a000001", bare->getKeyForHost());
    EXPECT_TRUE(lines().empty());
}

// ---- the provider's choice of key ----

TEST_F(PgrToolTest, PluginUsesTheCallersKeyUnchanged) {
    CFiSmartPtr<CDevicePlugin> plugin(new CDevicePlugin);
    plugin->setTraceLog(log);
    setComputerName("10.0.0.1");
    // No padding, cutting or validation, whatever the length or content.
    EXPECT_EQ("HOSTNAME", plugin->getKeyForHost(L"HOSTNAME"));
    EXPECT_EQ("abc", plugin->getKeyForHost(L"abc"));
    EXPECT_EQ("", plugin->getKeyForHost(L""));
    EXPECT_EQ("a-much-longer-key", plugin->getKeyForHost(L"a-much-longer-key"));
    EXPECT_EQ("\xc3\xa9t\xc3\xa9", plugin->getKeyForHost(L"\u00e9t\u00e9"));
    lines();
    EXPECT_EQ("0a000001", plugin->getKeyForHost(nullptr));
    std::vector<TraceLine> seen = lines();
    EXPECT_EQ(1, count(seen, KEL_SEV_DEBUG, "Entering Function CDevicePlugin::getKeyForHost"));
}

TEST_F(PgrToolTest, PluginInitGivesTheSharedToolItsTraceLog) {
    CFiSmartPtr<CDevicePlugin> plugin(new CDevicePlugin);
    plugin->setTraceLog(log);
    EXPECT_TRUE(plugin->reservationTool().isNull());
    ASSERT_EQ(0, plugin->init());
    CPGRToolPtr shared = CPGRToolSingleton::instance(false);
    ASSERT_FALSE(shared.isNull());
    EXPECT_EQ(shared.get(), plugin->reservationTool().get());
    EXPECT_EQ(log.get(), shared->traceLog().get());

    setComputerName("192.168.1.254");
    lines();
    EXPECT_EQ("c0a801fe", plugin->getKeyForHost(nullptr));
    EXPECT_EQ(1, count(lines(), KEL_SEV_INFO,
                       "Generated Key [c0a801fe] from IP[192.168.1.254] for host [192.168.1.254]."));
    shared->setTraceLog(CFiTraceLogPtr());
}

} // namespace
} // namespace pgrtool_test
