// The device provider as the framework meets it: start-up, claims, provider
// information and node lists, on host descriptions made for each case.
#include "ep_fixture.h"

#include "kelm/kelm_util.h"

#include <cstdio>
#include <thread>

namespace {

using namespace ep_test;

// A host-description entry of an ACME array disk with serial MP000<serial>.
std::string disk(const std::string &name, const std::string &serial, const std::string &rest) {
    return "disk " + name + "\n  vendor ACME\n  product \"STORAGE ARRAY\"\n  serial MP000" + serial + "\n" + rest;
}
const std::string kNaa = "  naa 6001405a1b2c3d4e5f60718293a4b50";
// Two paths of one LUN at levels 2 and 1 (PHYSICALDRIVE0, 1), two at equal
// levels (2, 3), a disk gone between listing and inquiry (4) and one that
// multipath software does not claim (5).
const std::string kHost = disk("lun", "1", kNaa + "1\n  address 0 0 0 0 claim-level 2\n  path 1 0 0 0 claim-level 1\n") +
                          disk("tie", "2", kNaa + "2\n  address 0 0 1 0\n  path 1 0 1 0\n") +
                          disk("gone", "3", "  address 0 0 2 0\n  vanish-after-listing\n") +
                          disk("unclaimed", "4", kNaa + "4\n  address 0 0 3 0\n  claim-level 0\n");

const std::string kUdid = "UDID##ACME##STORAGE_ARRAY##00830014010300106001405A1B2C3D4E5F60718293A4B50";
const std::string kUdid1 = kUdid + "1", kUdid2 = kUdid + "2", kUdid4 = kUdid + "4";

std::string drive(int n) { return "\\\\.\\PHYSICALDRIVE" + std::to_string(n); }


// One element of a node list as the framework reads it: its four leading
// fields, node name, object name, provider name and object flags.
using Node = std::string;
Node local(const std::string &name, const std::string &udid) { return "1,2,1,0 " + name + " " + udid + " rendo 3"; }
Node global(const std::string &udid) { return "2,2,1,0 " + udid + " " + udid + " rendo 3"; }

struct Provider : EntryPointTest {
    void TearDown() override {
        EntryPointTest::TearDown();
        unsetenv("RENDO_SIM_HOST");
    }
    // The provider's host from now on (the platform loads it at its next call).
    void useHost(const std::string &description) {
        std::string path = m_root + "host.txt";
        rendo_test::writeFile(path, description);
        setenv("RENDO_SIM_HOST", path.c_str(), 1);
    }
    // rendo_fi_pgn_enumerate_nodes, expecting status; the list is read,
    // checked against the count and freed as the framework frees it.
    std::vector<Node> nodes(int selection, int status = 0, ProviderLibrary &from = lib()) {
        kel_node_list *list = reinterpret_cast<kel_node_list *>(this); // whatever the framework left there
        int count = -1;
        EXPECT_EQ(status, from.ep().enumerate_nodes(&list, &count, selection, nullptr)) << "selection " << selection;
        std::vector<Node> out;
        for (kel_node_list *n = list; n != nullptr; n = n->next)
            out.push_back(std::to_string(n->lead1) + "," + std::to_string(n->lead2) + "," + std::to_string(n->lead3) +
                          "," + std::to_string(n->lead4) + " " + narrow(n->node_name) + " " + narrow(n->objid->name) +
                          " " + narrow(n->provider_name) + " " + std::to_string(n->objid->flags));
        EXPECT_EQ(count, static_cast<int>(out.size()));
        kelm_free_nodelist(list);
        return out;
    }
    static ProviderLibrary &lib() { return ProviderLibrary::rendo(); }
};

TEST_F(Provider, ClaimLevelsAndTheirTraceLines) {
    useHost(kHost);
    traceAtLevel(3);
    ASSERT_EQ(0, start(lib()));
    const struct {
        std::string name;
        int level;
        const char *line;
    } cases[] = {
        {drive(0), KEL_CLAIM_SECONDARY, "KEL_CLAIM_SECONDARY [%s]"},
        {drive(0) + "\\PARTITION1", KEL_CLAIM_NONE, "KEL_CLAIM_NONE [%s], a partition"},
        {drive(5), KEL_CLAIM_NONE, "KEL_CLAIM_NONE [%s]"}, // multipath software leaves it alone
        {kUdid1, KEL_CLAIM_TERTIARY, "KEL_CLAIM_TERTIARY [%s]"},
        {"disk " + kUdid1, KEL_CLAIM_NONE, "KEL_CLAIM_NONE [%s]"}, // the prefix must lead
        {"", KEL_CLAIM_NONE, "KEL_CLAIM_NONE [%s]"},
    };
    for (const auto &c : cases) {
        kelm_objid **claimed = reinterpret_cast<kelm_objid **>(this);
        int level = 7;
        std::wstring name(c.name.begin(), c.name.end());
        kelm_objid object{&name[0], static_cast<uint32_t>((name.size() + 1) * sizeof(wchar_t)), 1};
        EXPECT_EQ(c.level, lib().ep().claim(&object, &claimed, &level)) << c.name;
        EXPECT_EQ(nullptr, claimed);
        EXPECT_EQ(0, level);
        char expected[512];
        std::snprintf(expected, sizeof expected, c.line, c.name.c_str());
        std::vector<std::string> lines = traced("KEL_CLAIM_");
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(expected, lines.back());
    }
}

TEST_F(Provider, ProviderInformationIsAFreshOneNodeListEachTimeAndFreesCleanly) {
    ASSERT_EQ(0, start(lib()));
    kelm_buf_stats before = kelm_get_buf_stats();
    for (int call = 0; call < 2; ++call) {
        kel_provider_list *list = reinterpret_cast<kel_provider_list *>(this); // cleared by the entry point
        ASSERT_EQ(0, lib().ep().get_provider_info(&list));
        ASSERT_NE(nullptr, list);
        // Its fields: kelm-host's info test.
        EXPECT_EQ("rendo", narrow(list->provider_name));
        EXPECT_EQ(nullptr, list->next);
        kelm_free_providerlist(list);
    }
    expectNothingLeft(before);
    // No memory for the list: the guard's status, and nothing left behind.
    kelm_fail_allocations_after(1);
    kel_provider_list *list = nullptr;
    EXPECT_EQ(6, lib().ep().get_provider_info(&list));
    kelm_fail_allocations_after(-1);
    EXPECT_EQ(nullptr, list);
    EXPECT_EQ(before.live, kelm_get_buf_stats().live);
}

TEST_F(Provider, NodesBySelectionLocalsFirst) {
    useHost(kHost);
    ASSERT_EQ(0, start(lib()));
    const std::vector<Node> locals = {local(drive(0), kUdid1), local(drive(1), kUdid1), local(drive(2), kUdid2),
                                      local(drive(3), kUdid2), local(drive(4), ""), local(drive(5), kUdid4)};
    const std::vector<Node> globals = {global(kUdid1), global(kUdid2), global(kUdid4)};
    std::vector<Node> both = locals;
    both.insert(both.end(), globals.begin(), globals.end());
    const struct {
        int selection;
        std::vector<Node> expected;
    } cases[] = {{0, both}, {0x4, locals}, {0x8, globals}, {0xC, both}, {0x10, {}}};
    kelm_buf_stats before = kelm_get_buf_stats();
    for (const auto &c : cases) EXPECT_EQ(c.expected, nodes(c.selection)) << "selection " << c.selection;
    // Memory runs out at the second node's element: the guard's status, the
    // first node stays in the list and the second's identifier is not lost.
    kelm_fail_allocations_after(5 + 2);
    std::vector<Node> partial = nodes(0x4, 6);
    kelm_fail_allocations_after(-1);
    EXPECT_EQ(std::vector<Node>{locals[0]}, partial);
    expectNothingLeft(before);
}

// Loading never reads a disk: on a host whose every disk fails to open, init
// succeeds and discovery starts with the first entry point that needs disks.
// The tuning line shows the defaults (the configuration tests: other values).
TEST_F(Provider, InitTouchesNoDiskAndTracesItsTuning) {
    useHost("disk a\n  vendor ACME\n  fail-open\ndisk b\n  vendor ACME\n  fail-open 5\n");
    traceAtLevel(6);
    ASSERT_EQ(0, start(lib()));
    EXPECT_TRUE(traced("Getting data for disk").empty());
    EXPECT_EQ(std::vector<std::string>{"Device provider tuning params: importRetryDelayInSec(10) importRetryAttempts(4) "
                                       "scsiRetryDelayInSec(0) scsiRetryAttempts(1) importInitialDelayInSec(5) "},
              traced("Device provider tuning params"));
    kel_domain node{};
    EXPECT_EQ(0, lib().ep().pre_prepare(&node));
    EXPECT_EQ(2u, traced("CDeviceDiscoveryBase::rescan FAILED - Remove disk").size());
}

// A discovery that throws during delayed initialisation: the first entry
// point that needs disks answers 1 (the last error it leaves: the lifecycle
// tests), later ones run without a device map (enumeration then starts from
// an empty map).
TEST_F(Provider, DiscoveryThrowingAtDelayedInitFailsOnceAndLeavesTheMapEmpty) {
    useHost(kHost);
    ProviderLibrary &pgn = ProviderLibrary::testpgn();
    ASSERT_EQ(0, start(pgn));
    pgn.control()->discoveryThrows = 1;
    kel_domain node{};
    EXPECT_EQ(KEL_EDELAYEDINIT, pgn.ep().pre_prepare(&node));
    EXPECT_EQ(0, pgn.ep().pre_prepare(&node));
    EXPECT_EQ(1, pgn.control()->discoveries.load()); // not retried

    std::vector<std::string> messages = forwardedMessages();
    ASSERT_EQ(2u, messages.size());
    EXPECT_NE(std::string::npos, messages[0].find("multipath listing failed")) << messages[0];

    EXPECT_EQ(3u, nodes(0x8, 0, pgn).size());
    EXPECT_EQ(2, pgn.control()->discoveries.load()); // the map was empty: enumerated now
}

// The first node list may be asked for while delayed initialisation, on
// another framework thread, is filling the device map: it waits for that
// map instead of enumerating the disks a second time beside it.
TEST_F(Provider, ConcurrencyNodesWhileDelayedInitFillsTheMap) {
    useHost(kHost);
    ProviderLibrary &pgn = ProviderLibrary::testpgn();
    ASSERT_EQ(0, start(pgn));
    pgn.control()->discoverySleepMs = 100;
    kel_domain node{};
    int prepared = -1;
    std::thread other([&] { prepared = pgn.ep().pre_prepare(&node); });
    while (pgn.control()->discoveries.load() == 0) std::this_thread::yield(); // delayed init is enumerating
    EXPECT_EQ(3u, nodes(0x8, 0, pgn).size());
    other.join();
    EXPECT_EQ(0, prepared);
    EXPECT_EQ(1, pgn.control()->discoveries.load());
}

} // namespace
