// The reserve and release flows on a simulated disk that two simulated
// hosts share: the commands each step sends, and what the disk then holds,
// decoded by the test itself. Two hosts contending and preempting step by
// step are the real-target tests' case (tgtd and istgt).
#include "sim_support.h"

#include "pgr/reservationdiskwin.h"

namespace {

using namespace pgr_test;
using Strings = std::vector<std::string>;

class Flows : public TwoHosts {
protected:
    // The PR OUT commands host sent since the last call.
    Strings sent(const HostPtr &host) {
        Strings all = proutFrom(*disk, host->initiator().initiatorName);
        size_t &seen = host == hostA ? seenA : seenB;
        Strings fresh(all.begin() + seen, all.end());
        seen = all.size();
        return fresh;
    }
    size_t seenA = 0, seenB = 0;
};

TEST_F(Flows, ReserveWhatTheHostHoldsAlready) {
    EXPECT_EQ(0, reserve(lunA, kA, kRegister));
    sent(hostA);
    // Again: no RESERVE.
    EXPECT_EQ(0, reserve(lunA, kA, kRegister));
    EXPECT_EQ(Strings{"06/0 " + kA + "/" + kA}, sent(hostA));
    // With preemption allowed the host preempts itself and registers again.
    EXPECT_EQ(0, reserve(lunA, kA, kRegister | kPreempt));
    EXPECT_EQ((Strings{"06/0 " + kA + "/" + kA, "05/5 " + kA + "/" + kA, "06/0 " + kA + "/" + kA}), sent(hostA));
    expectDisk({kA}, kA);

    // A key longer than the 8-byte field: the disk holds its first 8
    // characters, and the flows compare in that form.
    const std::string longKey = kA + "-host";
    EXPECT_EQ(0, reserve(lunA, longKey, kRegister));
    EXPECT_EQ(0, release(lunA, longKey, kVerify | kRelease | kRegister));
    expectDisk({}, "");
}

TEST_F(Flows, ReleaseVariants) {
    ASSERT_EQ(0, reserve(lunA, kA, kRegister));
    {
        rendo_sim::ScopedHost use(hostB);
        ASSERT_EQ(0, ReservationDiskWin(lunB.devicePath()).registerDisk(kB, true));
    }
    sent(hostA);
    EXPECT_EQ(0, release(lunA, kA, kVerify));   // verification alone: reads only
    EXPECT_EQ(0, release(lunA, kA, kRegister)); // no unregistration without the release flag
    EXPECT_TRUE(sent(hostA).empty());
    ASSERT_EQ(0, release(lunA, kA, kRelease | kRegister));
    sent(hostB);
    // No reservation at all: no RELEASE, but the unregistration; then nothing.
    EXPECT_EQ(0, release(lunB, kB, kRelease | kRegister));
    EXPECT_EQ(Strings{"00/0 " + kB + "/"}, sent(hostB));
    EXPECT_EQ(0, release(lunB, kB, kRelease | kRegister));
    EXPECT_TRUE(sent(hostB).empty());
    expectDisk({}, "");
}

// A drive that does not exist, and an empty path, are checked through
// kelm-host reserve and release (tests/kelmhost/reservation-flows.cmake); a
// refused RESERVE through the SAN-fault rows.
} // namespace
