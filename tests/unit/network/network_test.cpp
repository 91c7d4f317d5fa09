// Network helpers of the kit. Only names the C library answers without a
// name server are used: "localhost" (from the hosts file), numeric
// addresses, and names it rejects before any query.
#include "pdk/cfinetwork.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

using namespace kelm_pdk_4_4;

// A reverse lookup that no hosts file answers goes to the name server when
// one is configured; keep such a wait short where none is reachable.
const bool kResolverOptions = [] {
    setenv("RES_OPTIONS", "timeout:1 attempts:1", 0);
    return true;
}();

// Documentation address (RFC 5737): nothing answers for it.
const char *const kNoReverseEntry = "192.0.2.1";
// Rejected by the C library without a query: not a valid dotted address
// although made of digits and dots, and an empty label.
const char *const kUnresolvable[] = {"999.1.1.1", "1.2.3.4.5", "no..such.host"};

class ComputerName : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char *n = std::getenv("KELM_COMPUTER_NAME")) {
            m_had = true;
            m_saved = n;
        }
    }
    void TearDown() override {
        if (m_had)
            setenv("KELM_COMPUTER_NAME", m_saved.c_str(), 1);
        else
            unsetenv("KELM_COMPUTER_NAME");
    }
    static void set(const char *name) { setenv("KELM_COMPUTER_NAME", name, 1); }

private:
    bool m_had = false;
    std::string m_saved;
};

std::string localhostAddress() {
    std::string a;
    EXPECT_EQ(0, CFiNetwork::getHostbyName("localhost", a));
    return a;
}

TEST(ValidateIPAddress, AcceptsFourDecimalOctets) {
    for (const char *ok : {"0.0.0.0", "255.255.255.255", "10.0.0.1", "192.168.1.254", "001.002.003.004",
                           "0000000000255.0.0.0"}) {
        EXPECT_TRUE(CFiNetwork::validateIPAddress(ok)) << ok;
    }
}

TEST(ValidateIPAddress, RejectsWrongCountsRangesAndCharacters) {
    for (const char *bad : {"256.1.1.1", "1.2.3.256", "1.2.3", "1.2.3.4.5", "", ".", "...", "1..2.3", "1.2.3.4.",
                            ".1.2.3", "1.2..3.4", "1.2.3.-4", "1.2.3.+4", " 1.2.3.4", "1.2.3.4 ", "1.2.3.4a",
                            "0x1.2.3.4", "1,2,3,4", "99999999999999999999.1.1.1", "1.2.3.4294967297"}) {
        EXPECT_FALSE(CFiNetwork::validateIPAddress(bad)) << bad;
    }
    EXPECT_FALSE(CFiNetwork::validateIPAddress(nullptr));
    EXPECT_FALSE(CFiNetwork::validateIPAddress(std::string(100000, '1').c_str()));
    EXPECT_FALSE(CFiNetwork::validateIPAddress(std::string(100000, '.').c_str()));
}

TEST(ValidateIPAddress, LooserKeyTestChecksOnlyShape) {
    EXPECT_TRUE(CFiNetwork::isIpAddress("1.2.3.4"));
    EXPECT_TRUE(CFiNetwork::isIpAddress("999.1.1.1"));
    for (const char *bad : {"", "1.2.3", "1.2.3.4.5", "1..2.3", "1.2.3.", "a.b.c.d", "1.2.3.-4"}) {
        EXPECT_FALSE(CFiNetwork::isIpAddress(bad)) << bad;
    }
}

TEST(Lookup, ForwardGivesTheFirstIPv4AddressAsDottedText) {
    std::string a = localhostAddress();
    EXPECT_TRUE(CFiNetwork::validateIPAddress(a.c_str())) << a;
    EXPECT_EQ(0u, a.find("127.")) << a;
    std::string b;
    ASSERT_EQ(0, CFiNetwork::getHostbyName("LOCALHOST", b));
    EXPECT_EQ(a, b);
    ASSERT_EQ(0, CFiNetwork::getHostbyName("10.1.2.3", b));
    EXPECT_EQ("10.1.2.3", b);
}

TEST(Lookup, ForwardFailureLeavesTheAddressUnchanged) {
    for (const char *name : kUnresolvable) {
        std::string a = "untouched";
        EXPECT_EQ(3, CFiNetwork::getHostbyName(name, a)) << name;
        EXPECT_EQ("untouched", a) << name;
    }
    std::string a = "untouched";
    EXPECT_EQ(3, CFiNetwork::getHostbyName(nullptr, a));
    EXPECT_EQ(3, CFiNetwork::getHostbyName(std::string(100000, 'a').c_str(), a));
    EXPECT_EQ("untouched", a);
}

TEST(Lookup, ReverseGivesTheOfficialName) {
    std::string name;
    ASSERT_EQ(0, CFiNetwork::getHostbyAddr(localhostAddress().c_str(), name));
    EXPECT_EQ("localhost", name);
}

TEST(Lookup, ReverseOfTextTheParserRejectsCopiesTheText) {
    for (const char *bad : {"255.255.255.255", "not an address", "", "1.2.3.4.5"}) {
        std::string name = "untouched";
        EXPECT_EQ(3, CFiNetwork::getHostbyAddr(bad, name)) << bad;
        EXPECT_EQ(bad, name);
    }
}

TEST(Lookup, ReverseWithoutEntryLeavesTheNameUnchanged) {
    std::string name = "untouched";
    EXPECT_EQ(3, CFiNetwork::getHostbyAddr(kNoReverseEntry, name));
    EXPECT_EQ("untouched", name);
    EXPECT_EQ(3, CFiNetwork::getHostbyAddr(nullptr, name));
    EXPECT_EQ("untouched", name);
}

TEST(FQDN, NameOrAddressGivesTheLowerCasedOfficialName) {
    std::string f;
    ASSERT_EQ(0, CFiNetwork::getFQDN("LocalHost", f));
    EXPECT_EQ("localhost", f);
    f.clear();
    ASSERT_EQ(0, CFiNetwork::getFQDN(localhostAddress().c_str(), f));
    EXPECT_EQ("localhost", f);
}

TEST(FQDN, FailuresReturnThreeAndLeaveTheNameUnchanged) {
    std::string f = "untouched";
    EXPECT_EQ(3, CFiNetwork::getFQDN(nullptr, f));
    EXPECT_EQ(3, CFiNetwork::getFQDN("", f));
    EXPECT_EQ(3, CFiNetwork::getFQDN(kNoReverseEntry, f));
    EXPECT_EQ(3, CFiNetwork::getFQDN("255.255.255.255", f));
    EXPECT_EQ(3, CFiNetwork::getFQDN("no..such.host", f));
    EXPECT_EQ("untouched", f);
}

TEST_F(ComputerName, ComesFromThePlatform) {
    set("rendo-host");
    EXPECT_EQ("RENDO-HOST", CFiNetwork::getComputerName());
    set("localhost");
    std::string f;
    ASSERT_EQ(0, CFiNetwork::getFQDN(f));
    EXPECT_EQ("localhost", f);
    CFiHostInfo self = CFiNetwork::resolve();
    EXPECT_EQ("LOCALHOST", self.hostName());
    EXPECT_EQ(localhostAddress(), self.ipAddress());
    EXPECT_EQ("localhost", self.fqdn());
}

TEST(Resolve, NameFillsAllThreeFields) {
    CFiHostInfo h = CFiNetwork::resolve("localhost");
    EXPECT_EQ("localhost", h.hostName());
    EXPECT_EQ(localhostAddress(), h.ipAddress());
    EXPECT_EQ("localhost", h.fqdn());
}

TEST(Resolve, AddressFillsAllThreeFields) {
    std::string a = localhostAddress();
    CFiHostInfo h = CFiNetwork::resolve(a.c_str());
    EXPECT_EQ("localhost", h.hostName());
    EXPECT_EQ(a, h.ipAddress());
    EXPECT_EQ("localhost", h.fqdn());
}

TEST(Resolve, FailedLookupsLeaveTheirFields) {
    CFiHostInfo unknown = CFiNetwork::resolve("no..such.host");
    EXPECT_EQ("no..such.host", unknown.hostName());
    EXPECT_EQ("", unknown.ipAddress());
    EXPECT_EQ("", unknown.fqdn());

    CFiHostInfo noReverse = CFiNetwork::resolve(kNoReverseEntry);
    EXPECT_EQ("", noReverse.hostName());
    EXPECT_EQ(kNoReverseEntry, noReverse.ipAddress());
    EXPECT_EQ("", noReverse.fqdn());

    // The parser's rejection copies the text into the host name.
    CFiHostInfo allOnes = CFiNetwork::resolve("255.255.255.255");
    EXPECT_EQ("255.255.255.255", allOnes.hostName());
    EXPECT_EQ("255.255.255.255", allOnes.ipAddress());
    EXPECT_EQ("", allOnes.fqdn());

    for (const char *empty : {static_cast<const char *>(nullptr), ""}) {
        CFiHostInfo h = CFiNetwork::resolve(empty);
        EXPECT_EQ("", h.hostName());
        EXPECT_EQ("", h.ipAddress());
        EXPECT_EQ("", h.fqdn());
    }
}

TEST(Compare, RecordsMatchOnTheFirstFieldSetInTheFirst) {
    const CFiHostInfo full("Alpha", "10.0.0.1", "alpha.example.com");
    EXPECT_TRUE(CFiNetwork::compare(CFiHostInfo("", "10.0.0.1", ""), full));
    EXPECT_TRUE(CFiNetwork::compare(CFiHostInfo("ALPHA", "", ""), full));
    EXPECT_TRUE(CFiNetwork::compare(CFiHostInfo("", "", "Alpha.Example.COM"), full));
    // A differing address does not stop a match on the name.
    EXPECT_TRUE(CFiNetwork::compare(CFiHostInfo("alpha", "10.0.0.2", ""), full));
    EXPECT_FALSE(CFiNetwork::compare(CFiHostInfo("beta", "10.0.0.2", "beta.example.com"), full));
    // Empty fields of the first record never match empty fields of the second.
    EXPECT_FALSE(CFiNetwork::compare(CFiHostInfo(), CFiHostInfo()));
    EXPECT_FALSE(CFiNetwork::compare(CFiHostInfo(), full));
    EXPECT_FALSE(CFiNetwork::compare(CFiHostInfo("alpha", "", ""), CFiHostInfo("", "10.0.0.1", "")));
    // Only the first record's fields count.
    EXPECT_FALSE(CFiNetwork::compare(CFiHostInfo("", "10.0.0.1", ""), CFiHostInfo("alpha", "", "")));
}

TEST(Compare, TextMatchesAnyNameOfTheRecord) {
    const CFiHostInfo full("Alpha", "10.0.0.1", "alpha.example.com");
    EXPECT_TRUE(CFiNetwork::compare("10.0.0.1", full));
    EXPECT_TRUE(CFiNetwork::compare("ALPHA.example.com", full));
    EXPECT_TRUE(CFiNetwork::compare("alpha", full));
    EXPECT_FALSE(CFiNetwork::compare("beta", full));
    EXPECT_FALSE(CFiNetwork::compare("", CFiHostInfo()));
    EXPECT_FALSE(CFiNetwork::compare(nullptr, full));
    EXPECT_FALSE(CFiNetwork::compare("", CFiHostInfo("", "", "")));
}

} // namespace
