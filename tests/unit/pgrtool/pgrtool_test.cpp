// Reservation keys: derivation from this host's address, the reverse
// lookup, the numeric form, padding, and the shared tool under threads. The
// provider's choice of key (the caller's unchanged, or the derived one with
// its trace line) is checked through kelm-host reserve (tests/CMakeLists.txt,
// tests/kelmhost/reservation-flows.cmake). The computer name is set to
// numeric addresses, which resolve without a name server.
#include "../scsitool/trace_capture.h"
#include "pgr/pgrtool.h"
#include "platform/simhost.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using namespace kelm_pdk_4_4;

class PgrTool : public ::testing::Test {
protected:
    void SetUp() override { tool->setTraceLog(log); }
    void TearDown() override { unsetenv("KELM_COMPUTER_NAME"); }
    // How often a line was traced at this severity since the last call.
    int count(kel_eseverity severity, const std::string &message) {
        int n = 0;
        for (const scsitool_test::TraceLine &l : trace.take()) n += l.severity == severity && l.message == message;
        return n;
    }

    scsitool_test::TraceCapture trace;
    const CFiTraceLogPtr &log = trace.log();
    CPGRToolPtr tool{new CPGRTool};
};

// Keys come from the simulated host's own address (kelm-host's run.twoHosts
// and san tests: each described host reserves with its own address's key;
// the lookups behind it: the network tests). A host without an address of
// its own gets the zero key and a warning: its name resolves to nothing, even
// when it looks like an address.
TEST_F(PgrTool, AHostWithoutAnAddressGetsTheZeroKeyAndAWarning) {
    std::string error;
    auto host = rendo_sim::parseHostDescription("computer-name 999.1.1.1\n", &error);
    ASSERT_TRUE(host) << error;
    rendo_sim::ScopedHost use(host);
    EXPECT_EQ("00000000", tool->getKeyForHost());
    EXPECT_EQ(1, count(KEL_SEV_WARNING, "Invaild IP address [] found for host '999.1.1.1'."));
}

TEST_F(PgrTool, HostForKeyOfMalformedOrUnknownKeys) {
    // Every malformed key is refused untouched (the fuzz target's property,
    // on seeds of each kind); here the warning, and an embedded NUL.
    for (const std::string &bad : {std::string("0a00000g"), std::string("0a0000011"), std::string("7f00\0" "001", 8)}) {
        std::string ip = "untouched";
        EXPECT_EQ("UnknownHost", tool->getHostForKey(bad, ip)) << bad;
        EXPECT_EQ("untouched", ip);
        EXPECT_EQ(1, count(KEL_SEV_WARNING, "Invaild key format [" + std::string(bad.c_str()) + "]."));
    }
    std::string ip;
    EXPECT_EQ("localhost", tool->getHostForKey("7F000001", ip));  // either case; "localhost" answers
    EXPECT_EQ("127.0.0.1", ip);
    EXPECT_EQ("UnknownHost", tool->getHostForKey("c0000201", ip));  // documentation address: no host
    EXPECT_EQ("192.0.2.1", ip);
    EXPECT_EQ(1, count(KEL_SEV_WARNING, "Could not find host for IP address [192.0.2.1]."));
}

TEST_F(PgrTool, NumericKeys) {
    const std::pair<const char *, const char *> cases[] = {
        {"", nullptr},
        {"0,0000000255", ""},
        {"72,256", "Invalid key format detected! '256' is not an ASCII code.\n"},
        {"-1", "Invalid key format detected! '-1' is not an code.\n"},
        {"72,,73", "Invalid key format detected! '' is not an code.\n"},
        {"99999999999999999999999", "Invalid key format detected! '99999999999999999999999' is not an ASCII code.\n"},
    };
    for (const auto &c : cases) {
        ::testing::internal::CaptureStdout();
        bool valid = tool->isNumericKey(c.first);
        std::string printed = ::testing::internal::GetCapturedStdout();
        EXPECT_EQ(c.second != nullptr && *c.second == '\0', valid) << c.first;
        EXPECT_EQ(c.second != nullptr ? c.second : "", printed);
        EXPECT_EQ(1, count(KEL_SEV_INFO, std::string("PGRTool::getKeyForHost -  numericKey = ") + c.first));
    }
    // That any text converts to its codes and back (bytes above 127 too),
    // and that no other text converts, is the fuzz target's property.
    EXPECT_EQ("72,73", tool->getNumKey("HI"));
    EXPECT_EQ(1, count(KEL_SEV_INFO, "PGRTool::getKeyForHost -  returning numeric key  = 72,73"));
    EXPECT_EQ("HI", tool->getCharKey("72,73"));
    EXPECT_EQ(1, count(KEL_SEV_INFO, "PGRTool::getKeyForHost -  returning character key  = HI"));
    // ASCII, as the SCSI field carries it; bytes above 127 are 128..255.
    EXPECT_EQ("48,97,48,48,48,48,48,49,254,255", tool->getNumKey("0a000001\xFE\xFF"));
}

// The device path test is the fuzz target's, against the prefix itself.
TEST_F(PgrTool, Padding) {
    const std::pair<const char *, const char *> pads[] = {
        {"abc", "abc-----"}, {"", "--------"}, {"abcdefghij", "abcdefghij"}};
    for (const auto &c : pads) {
        std::string key = c.first;
        EXPECT_EQ(0, tool->formatKey(key));
        EXPECT_EQ(c.second, key);
        EXPECT_EQ(
            1, count(KEL_SEV_INFO, std::string("PGRTool::getKeyForHost -  Returning modified key = ") + c.second));
    }
}

// Threads derive keys from the shared tool while it is handed new logs and
// its holder is released and re-created.
using PgrToolConcurrency = PgrTool;
TEST_F(PgrToolConcurrency, SharedToolKeepsItsAnswers) {
    setenv("KELM_COMPUTER_NAME", "10.20.30.40", 1);  // before the threads: the environment is not locked
    CPGRToolSingleton::instance(false)->setTraceLog(log);
    CPGRTool *first = CPGRToolSingleton::instance(false).get();
    std::atomic<int> wrong{0};
    std::atomic<bool> done{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&wrong, first, t] {
            if (t == 0 && CPGRToolSingleton::instance(false).get() != first) ++wrong;
            for (int i = 0; i < 150; ++i) {
                CPGRToolPtr tool = CPGRToolSingleton::instance(false);
                if (tool.isNull()) continue;
                if (tool->getKeyForHost() != "0a141e28") ++wrong;
                if (tool->getCharKey(tool->getNumKey("0a141e28")) != "0a141e28") ++wrong;
            }
        });
    }
    CFiTraceLogPtr other(new CFiTraceLog);
    std::thread swapper([&] {
        for (int i = 0; !done.load(); ++i) {
            if (i % 5 == 4) CPGRToolSingleton::instance(true);
            CPGRToolPtr tool = CPGRToolSingleton::instance(false);
            if (!tool.isNull()) tool->setTraceLog(i % 2 == 0 ? log : other);
            std::this_thread::yield();
        }
    });
    for (std::thread &th : threads) th.join();
    done = true;
    swapper.join();
    EXPECT_EQ(0, wrong.load());
    EXPECT_GT(count(KEL_SEV_INFO, "Generated Key [0a141e28] from IP[10.20.30.40] for host [10.20.30.40]."), 0);
    CPGRToolSingleton::instance(false)->setTraceLog(CFiTraceLogPtr());
}

}  // namespace
