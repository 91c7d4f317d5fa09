// The reserve and release flows against what real SANs do: one registration
// per path, BUSY, time-outs, lost links and unit attentions. Every flow ends
// with its status and a line naming the cause, waits no longer than the
// commands' time-outs, and leaves nothing a later release cannot remove.
// The zero key's conflict is checked through kelm-host reserve
// (tests/kelmhost/reservation-flows.cmake).
#include "sim_support.h"

#include "pgr/reservationdiskwin.h"

#include <functional>

namespace {

using namespace pgr_test;
using rendo_sim::SanFault;
using Strings = std::vector<std::string>;

class SanFaults : public TwoHosts {
protected:
    void SetUp() override {
        TwoHosts::SetUp();
        hostA->setVirtualClock(true);
    }
    rendo_sim::Lun &lunA2 = hostA->attach(lunA.disk(), rendo_sim::ScsiAddress{1, 0, 0, 0});
    const std::string p1 = lunA.devicePath();
    const std::string p2 = lunA2.devicePath();
};

TEST_F(SanFaults, EachPathRegistersAndASelfPreemptUnregistersTheOthers) {
    EXPECT_EQ(0, reserve(lunA, kA, kRegister));
    EXPECT_EQ(0, reserve(lunA2, kA, kRegister)); // registers the second path; the host holds it already
    expectDisk({kA, kA}, kA);

    // Preempting its own key through the second path removes the first
    // path's registration: the flow's "again just in case" branch, whose
    // REGISTER acts on the nexus it is sent on only.
    EXPECT_EQ(0, reserve(lunA2, kA, kRegister | kPreempt));
    EXPECT_TRUE(traced("Registering disk [" + p2 + "] with key [" + kA +
                       "] again just in case  preempt operation has left some of the paths unregistered."));
    rendo_sim::ReservationState s = disk->reservation();
    ASSERT_EQ(1u, s.registrations.size());
    EXPECT_EQ(lunA2.targetPort(), s.registrations[0].targetPort);
    EXPECT_EQ(lunA2.targetPort(), s.holderTargetPort);

    // A reserve through the first path registers it again; a release through
    // each path removes that path's registration.
    EXPECT_EQ(0, reserve(lunA, kA, kRegister));
    expectDisk({kA, kA}, kA);
    EXPECT_EQ(0, release(lunA2, kA, kVerify | kRelease | kRegister));
    expectDisk({kA}, "");
    EXPECT_EQ(0, release(lunA, kA, kRelease | kRegister));
    expectDisk({}, "");
}

TEST_F(SanFaults, EveryFaultEndsWithItsStatusAndItsCause) {
    const std::string unregistered = "Removed the registration with key [" + kA + "] on device [" + p1 +
                                     "] after the failure.";
    const std::string stillRegistered = "Could not remove the registration with key [" + kA + "] on device [" + p1 +
                                        "] after the failure.";
    const std::string readReservation = "PERSISTENT RESERVE IN (READ RESERVATION) on [" + p1 + "] ";
    const std::string registerCommand = "PERSISTENT RESERVE OUT (REGISTER AND IGNORE EXISTING KEY) on [" + p1 + "] ";
    const std::string reserveCommand = "PERSISTENT RESERVE OUT (RESERVE) on [" + p1 + "] ";
    const std::string releaseCommand = "PERSISTENT RESERVE OUT (RELEASE) on [" + p1 + "] ";
    const std::string busy = "was refused: the device is busy (SCSI status BUSY).";
    const std::string timedOut = "got no answer within 10 seconds (time-out, error 121).";
    const std::string dropped = "was lost with the connection to the device (transport failure, error 1117).";
    enum Flow { Reserve, Release };
    // heldBefore: A registered and reserved first; in handlerLine "[path]"
    // stands for the path; cleanUp is "" when no clean-up line is expected.
    struct Row {
        const char *what;
        bool heldBefore;
        std::function<void(rendo_sim::Disk &)> fault;
        Flow flow;
        int flags, status;
        std::string handlerLine, cause, cleanUp;
        uint64_t waitedMs;
        Strings keys;
        std::string holder;
    };
    const Row rows[] = {
        {"REGISTER carried out, its answer timed out", false,
         [](rendo_sim::Disk &d) { d.sanFault(SanFault::TimeOutAfterExecuting, 0, 1, 0x5F); }, Reserve, kRegister,
         1098, "Failed to register disk [path] with error [3].", registerCommand + timedOut, unregistered, 10000, {},
         ""},
        {"silent after READ KEYS: REGISTER and its undoing time out", false,
         [](rendo_sim::Disk &d) { d.sanFault(SanFault::TimeOut, 1, -1); }, Reserve, kRegister, 1098,
         "Failed to register disk [path] with error [3].", registerCommand + timedOut, stillRegistered, 20000, {}, ""},
        {"BUSY on the RESERVE", false, [](rendo_sim::Disk &d) { d.sanFault(SanFault::Busy, 1, 1, 0x5F); }, Reserve,
         kRegister, 1098, "Failed to reserve disk [path] with error [3].", reserveCommand + busy, unregistered, 0, {},
         ""},
        {"link lost for good before the RESERVE", false,
         [](rendo_sim::Disk &d) { d.sanFault(SanFault::TransportDrop, 3, -1); }, Reserve, kRegister, 1098,
         "Failed to reserve disk [path] with error [3].", reserveCommand + dropped, stillRegistered, 0, {kA}, ""},
        {"power-on reset before the release", true, [](rendo_sim::Disk &d) { d.powerOnReset(); }, Release,
         kVerify | kRelease | kRegister, 1096, "Failed to read reservation on disk [path] with error [3].",
         readReservation + "was refused: unit attention, power on or reset occurred (CHECK CONDITION).", "", 0, {},
         ""},
        {"RELEASE timed out", true, [](rendo_sim::Disk &d) { d.sanFault(SanFault::TimeOut, 0, 1, 0x5F); }, Release,
         kRelease | kRegister, 1096, "Failed to release disk [path] with error [3].", releaseCommand + timedOut, "",
         10000, {kA}, kA},
        {"RELEASE carried out, then the link dropped", true,
         [](rendo_sim::Disk &d) { d.sanFault(SanFault::TransportDropAfterExecuting, 0, 1, 0x5F); }, Release,
         kRelease | kRegister, 1096, "Failed to release disk [path] with error [3].", releaseCommand + dropped, "", 0,
         {kA}, ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        disk->clearReservations();
        if (row.heldBefore) {
            ASSERT_EQ(0, reserve(lunA, kA, kRegister));
        }
        clearLines();
        row.fault(*disk);
        uint64_t before = hostA->nowMs();
        int status = row.flow == Reserve ? reserve(lunA, kA, row.flags) : release(lunA, kA, row.flags);
        EXPECT_EQ(row.status, status);
        EXPECT_EQ(row.waitedMs, hostA->nowMs() - before);
        std::string handlerLine = row.handlerLine;
        handlerLine.replace(handlerLine.find("[path]"), 6, "[" + p1 + "]");
        EXPECT_TRUE(traced(handlerLine));
        EXPECT_EQ(3, severityOf(row.cause));
        EXPECT_TRUE(row.cleanUp.empty() || traced(row.cleanUp)) << row.cleanUp;
        disk->clearFaults();
        expectDisk(row.keys, row.holder);
        // Whatever the failure left, a later release removes it.
        EXPECT_EQ(0, release(lunA, kA, kRelease | kRegister));
        expectDisk({}, "");
    }
}

TEST_F(SanFaults, AReleaseThatFindsAnotherHolderStillUnregistersThisHost) {
    ASSERT_EQ(0, reserve(lunA, kA, kRegister));
    ASSERT_EQ(0, reserve(lunB, kB, kRegister | kPreempt));
    // Told that reservations were preempted, the release reports the cause.
    disk->unitAttention(0x2A, 0x03, hostA->initiator().initiatorName);
    EXPECT_EQ(1096, release(lunA, kA, kRelease | kRegister));
    EXPECT_EQ(3, severityOf("PERSISTENT RESERVE IN (READ RESERVATION) on [" + p1 +
                            "] was refused: unit attention, reservations preempted (CHECK CONDITION)."));

    // A registration of A's left on the disk under B's registrants-only
    // reservation: without the register flag it stays, with it it goes.
    {
        rendo_sim::ScopedHost use(hostA);
        ASSERT_EQ(0, ReservationDiskWin(p1).registerDisk(kA, true));
    }
    EXPECT_EQ(1097, release(lunA, kA, kRelease));
    expectDisk({kB, kA}, kB);
    EXPECT_EQ(1097, release(lunA, kA, kRelease | kRegister));
    expectDisk({kB}, kB);
    EXPECT_EQ(1097, release(lunA, kA, kRelease | kRegister));
    EXPECT_TRUE(traced("Host does not have registration on device [" + p1 + "] with key [" + kA + "]"));
}

} // namespace
