// The simulated SAN's shared state: the state file, its lock, and masking
// followed across hosts.
#include "sim_test_util.h"
#include "test_env.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace rendo_sim;

namespace {

class SanState : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/rendo-san-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { rendo_test::removeTree(dir); }
    std::string dir;
};

TEST_F(SanState, FilesRoundTripAndMalformedOnesAreRefusedWithAReason) {
    LuState s;
    s.identity = "lu with blanks %";
    s.reservation.generation = 7;
    s.reservation.registrations = {{"iqn.a", 0x6330303030323166ull, 1}, {"-", 1, 2}, {"", 2, 3}};
    s.reservation.reserved = true;
    s.reservation.holder = "-";
    s.reservation.holderTargetPort = 2;
    s.reservation.type = 5;
    s.masking = Masking::UnmaskedByScenario;
    LuState back;
    std::string error;
    ASSERT_TRUE(parseLuState(formatLuState(s), back, &error)) << error;
    EXPECT_EQ(formatLuState(back), formatLuState(s));
    EXPECT_EQ(back.identity, s.identity);
    EXPECT_EQ(back.reservation.registrations[1].initiator, "-");
    EXPECT_EQ(back.reservation.key, 1u);  // the holder's key

    const std::string head = "rendo-sim-lu 1\nidentity x\n";
    const struct {
        std::string text, reason;
    } bad[] = {
        {"", "empty"},
        {head + "end", "no final line feed"},
        {head, "no \"end\""},
        {"rendo-sim-lu 2\nidentity x\nend\n", "version"},
        {"rendo-sim-lu 1\nend\n", "no identity"},
        {head + "generation 1\ngeneration 2\nend\n", "line 4: bad generation"},
        {head + "registration 1 00000000000000zz i\nend\n", "line 3: a registration"},
        {head + "registration 1 0000000000000001 i\nregistration 1 0000000000000002 i\nend\n", "twice"},
        {head + "registration 1 0000000000000001 i\nreservation 1 2 i\nend\n", "TYPE"},
        {head + "reservation 1 5 nobody\nend\n", "holder is not registered"},
        {head + "masking maybe\nend\n", "unknown masking"},
        {head + "identity%zz\nend\n", "unknown or malformed"},
        {head + "end\nend\n", "after \"end\""},
    };
    for (const auto &b : bad) {
        error.clear();
        EXPECT_FALSE(parseLuState(b.text, back, &error)) << b.text;
        EXPECT_NE(error.find(b.reason), std::string::npos) << b.text << " -> " << error;
    }
}

TEST_F(SanState, ACorruptFileIsReportedAndTheUnitStartsAfreshUntilTheNextChangeReplacesIt) {
    SanStateDir store(dir);
    rendo_test::writeFile(store.pathOf("lu1"), "rendo-sim-lu 1\nidentity lu1\ngeneration 9\nregistration 1 zz\n");
    ::testing::internal::CaptureStderr();
    LuState seen = store.read("lu1");
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(store.pathOf("lu1") + ": line 4: "), std::string::npos) << err;
    EXPECT_EQ(seen.reservation.generation, 0u);
    EXPECT_TRUE(store.update("lu1", [](LuState &) {}));  // no change: the file stays as it is
    EXPECT_NE(rendo_test::readFile(store.pathOf("lu1")).find("zz"), std::string::npos);
    EXPECT_TRUE(store.update("lu1", [](LuState &s) { s.masking = Masking::Masked; }));
    EXPECT_EQ(store.read("lu1").masking, Masking::Masked);
    std::vector<std::string> problems;
    EXPECT_EQ(store.list(&problems).size(), 1u);
    EXPECT_TRUE(problems.empty());
}

// A directory that cannot be made (here: below a file) keeps what the disk
// accepted in the process, rather than forgetting it at the next read.
TEST_F(SanState, AnUnusableDirectoryKeepsTheStateInTheProcess) {
    rendo_test::writeFile(dir + "/file", "");
    SanStateDir store(dir + "/file/state");
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(store.update("lu1", [](LuState &s) { s.reservation.generation = 7; }));
    EXPECT_FALSE(store.update("lu1", [](LuState &s) { ++s.reservation.generation; }));
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("state kept in this process only"), std::string::npos);
    EXPECT_EQ(store.read("lu1").reservation.generation, 8u);
}

TEST_F(SanState, ProcessesAndThreadsUpdatingAtOnceLoseNoUpdate) {
    const int kChildren = 3, kUpdates = 25;
    auto work = [this] {
        SanStateDir store(dir);
        for (int i = 0; i < kUpdates; ++i) store.update("busy", [](LuState &s) { ++s.reservation.generation; });
    };
    std::vector<pid_t> children;
    for (int c = 0; c < kChildren; ++c) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            work();
            _exit(0);
        }
        children.push_back(pid);
    }
    std::thread local(work);
    work();
    local.join();
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(SanStateDir(dir).read("busy").reservation.generation, uint32_t((kChildren + 2) * kUpdates));
}

// Two hosts (two processes, as far as the array can tell) share one logical
// unit: masking follows the SAN for a path masked with no scenario of its
// own. That a reservation taken through one is seen by the other, through
// the same shared state, is kelm-host's san and run.twoHosts tests' case.
TEST_F(SanState, TwoHostsShareReservationsAndMasking) {
    auto desc = DiskSpec::make("ACME", "ARRAY", "1").naa("6001405a1b2c3d4e5f60718293a4b5c1");
    EXPECT_EQ(logicalUnitIdentity(desc), "naa.6001405a1b2c3d4e5f60718293a4b5c1");
    auto a = Host::create("A"), b = Host::create("B");
    Lun &la = a->addDisk(desc);
    Lun &lb = b->addDisk(desc);
    la.appearAfterRescans(1);
    lb.mask();
    shareArrayState(*a, dir);
    shareArrayState(*b, dir);
    auto rescan = [](const std::shared_ptr<Host> &h) {
        ScopedHost use(h);
        ASSERT_EQ(CM_Reenumerate_DevNode(1, CM_REENUMERATE_SYNCHRONOUS), CR_SUCCESS);
    };
    rescan(b);
    EXPECT_FALSE(lb.present());     // nothing presented yet
    rescan(a);                      // A's scenario: the array presents the unit
    ASSERT_TRUE(la.present());
    EXPECT_EQ(la.disk()->masking(), Masking::UnmaskedByScenario);
    EXPECT_FALSE(lb.present());     // B finds it on its next rescan
    rescan(b);
    ASSERT_TRUE(lb.present());

    la.mask();                      // a test masks the unit at the array
    rescan(b);
    EXPECT_FALSE(lb.present());
}

} // namespace
