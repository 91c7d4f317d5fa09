// Network helpers over the simulated host's socket calls: "localhost",
// numeric addresses and the host's own name and addresses answer; nothing
// else does, and no name server is asked.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "pdk/cfinetwork.h"
#include "platform/simhost.h"
#include "platform/windows.h"

namespace {

using namespace kelm_pdk_4_4;

// Documentation address (RFC 5737): no host answers for it.
const char *const kNoReverseEntry = "192.0.2.1";

const std::string kLoopback = "127.0.0.1";  // "localhost" in every hosts file

// Address shapes are the fuzz target's, checked against a plain reference
// on its seeds; what it cannot give is null and a huge text.
TEST(ValidateIPAddress, NullAndHugeTextsAreRefused) {
    EXPECT_FALSE(CFiNetwork::validateIPAddress(nullptr));
    EXPECT_FALSE(CFiNetwork::validateIPAddress(std::string(100000, '1').c_str()));
}

TEST(Lookup, FailuresLeaveOrCopyAsDocumented) {
    // Rejected without a query: digits and dots that are no address, an
    // empty label, a name far beyond any limit, null.
    std::string a = "untouched", name = "untouched";
    const std::string huge(100000, 'a');
    for (const char *bad : {"999.1.1.1", "1.2.3.4.5", "no..such.host", huge.c_str(), (const char *)nullptr})
        EXPECT_EQ(3, CFiNetwork::getHostbyName(bad, a));
    for (const char *bad : {kNoReverseEntry, (const char *)nullptr}) EXPECT_EQ(3, CFiNetwork::getHostbyAddr(bad, name));
    for (const char *bad : {"", kNoReverseEntry, "255.255.255.255", "no..such.host", (const char *)nullptr})
        EXPECT_EQ(3, CFiNetwork::getFQDN(bad, a));
    EXPECT_EQ("untouched", a);
    EXPECT_EQ("untouched", name);
    // What the address parser rejects is copied (it cannot tell the
    // all-ones address from its error value).
    for (const char *bad : {"255.255.255.255", "not an address", ""}) {
        EXPECT_EQ(3, CFiNetwork::getHostbyAddr(bad, name));
        EXPECT_EQ(bad, name);
    }
}

std::shared_ptr<rendo_sim::Host> describedHost(const char *text) {
    std::string error;
    auto host = rendo_sim::parseHostDescription(text, &error);
    EXPECT_TRUE(host) << error;
    return host;
}

// The host description gives the host its name and addresses; the lookups
// answer from them, the first address first.
TEST(Lookup, TheSimulatedHostsOwnIdentity) {
    rendo_sim::ScopedHost use(describedHost("computer-name hosta\nip-address 10.1.2.3\nip-address 10.9.9.9\n"));
    EXPECT_EQ("HOSTA", CFiNetwork::getComputerName());
    char name[16] = {};
    ASSERT_EQ(0, gethostname(name, sizeof name));
    EXPECT_STREQ("HOSTA", name);
    EXPECT_EQ(-1, gethostname(name, 5));  // no room for the terminator
    std::string a, n, f;
    ASSERT_EQ(0, CFiNetwork::getHostbyName("hosta", a));
    EXPECT_EQ("10.1.2.3", a);
    ASSERT_EQ(0, CFiNetwork::getHostbyAddr("10.9.9.9", n));
    EXPECT_EQ("HOSTA", n);
    ASSERT_EQ(0, CFiNetwork::getFQDN(f));
    EXPECT_EQ("hosta", f);
    a = n = "untouched";
    EXPECT_EQ(3, CFiNetwork::getHostbyName("hostb", a));
    EXPECT_EQ(3, CFiNetwork::getHostbyAddr("10.1.2.4", n));
    EXPECT_EQ("untouched", a);
    EXPECT_EQ("untouched", n);

    // Without an address of its own the name resolves to nothing.
    rendo_sim::ScopedHost bare(describedHost("computer-name hosta\n"));
    EXPECT_EQ(3, CFiNetwork::getHostbyName("HOSTA", a));
    EXPECT_EQ(3, CFiNetwork::getHostbyAddr("10.1.2.3", n));
    EXPECT_EQ(nullptr, gethostbyname("hosta"));
    EXPECT_EQ(HOST_NOT_FOUND, h_errno);
}

void expectRecord(const CFiHostInfo &h, const std::string &name, const std::string &ip, const std::string &fqdn) {
    EXPECT_EQ(name, h.hostName());
    EXPECT_EQ(ip, h.ipAddress());
    EXPECT_EQ(fqdn, h.fqdn());
}

// Names in any case; the fully qualified name comes lower-cased.
TEST(Resolve, FieldsAsTheLookupsLeaveThem) {
    expectRecord(CFiNetwork::resolve("LocalHost"), "LocalHost", kLoopback, "localhost");
    expectRecord(CFiNetwork::resolve(kLoopback.c_str()), "localhost", kLoopback, "localhost");
    expectRecord(CFiNetwork::resolve("no..such.host"), "no..such.host", "", "");
    expectRecord(CFiNetwork::resolve(kNoReverseEntry), "", kNoReverseEntry, "");
    expectRecord(CFiNetwork::resolve("255.255.255.255"), "255.255.255.255", "255.255.255.255", "");
    expectRecord(CFiNetwork::resolve(""), "", "", "");
    expectRecord(CFiNetwork::resolve(nullptr), "", "", "");
}

TEST(Compare, RecordsAndTexts) {
    const CFiHostInfo full("Alpha", "10.0.0.1", "alpha.example.com");
    EXPECT_TRUE(CFiNetwork::compare(CFiHostInfo("", "10.0.0.1", ""), full));
    // A differing address does not stop a match by name.
    EXPECT_TRUE(CFiNetwork::compare(CFiHostInfo("ALPHA", "10.0.0.2", ""), full));
    EXPECT_TRUE(CFiNetwork::compare(CFiHostInfo("", "", "Alpha.Example.COM"), full));
    // Only fields set in the first record count; empty never matches empty.
    EXPECT_FALSE(CFiNetwork::compare(CFiHostInfo(), CFiHostInfo()));
    EXPECT_FALSE(CFiNetwork::compare(CFiHostInfo("", "10.0.0.1", ""), CFiHostInfo("alpha", "", "")));

    for (const char *same : {"10.0.0.1", "ALPHA.example.com", "alpha"}) EXPECT_TRUE(CFiNetwork::compare(same, full));
    EXPECT_FALSE(CFiNetwork::compare("beta", full));
    EXPECT_FALSE(CFiNetwork::compare(nullptr, full));
}

// The answers are copied out of per-call storage, so threads looking up
// different hosts at once each keep their own.
TEST(NetworkConcurrency, ParallelLookupsKeepTheirOwnAnswers) {
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t, &wrong] {
            std::string own = "10.0." + std::to_string(t) + ".1";
            for (int i = 0; i < 200; ++i) {
                std::string a, b, name;
                // The answer is the thread's own until its next lookup.
                const hostent *mine = gethostbyname(own.c_str());
                std::this_thread::yield();
                if (mine == nullptr || own != mine->h_name) ++wrong;
                if (CFiNetwork::getHostbyName(own.c_str(), a) != 0 || a != own) ++wrong;
                if (CFiNetwork::getHostbyName("localhost", b) != 0 || b != kLoopback) ++wrong;
                if (CFiNetwork::getHostbyAddr(kLoopback.c_str(), name) != 0 || name != "localhost") ++wrong;
            }
        });
    }
    for (std::thread &th : threads) th.join();
    EXPECT_EQ(0, wrong.load());
}

}  // namespace
