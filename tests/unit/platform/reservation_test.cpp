// The SPC-3 persistent-reservation model, with two hosts sharing one disk.
#include "sim_test_util.h"

#include <gtest/gtest.h>

using namespace rendo_sim;
using namespace simtest;
using Bytes = std::vector<uint8_t>;

namespace {

const uint8_t kRegister = 0, kReserve = 1, kRelease = 2, kClear = 3, kPreempt = 4, kPreemptAbort = 5,
              kRegisterIgnore = 6;
const uint8_t kWriteExclusive = 1, kExclusiveAccess = 3, kWriteExclusiveRegistrants = 5;

class Reservations : public ::testing::Test {
protected:
    void SetUp() override {
        disk = std::make_shared<Disk>(DiskSpec::make("EMC", "SYMMETRIX", "5874"));
        a = Host::create("HOSTA");
        b = Host::create("HOSTB");
        ha = openPath(a, a->attach(disk, ScsiAddress{0, 0, 1, 0}));
        hb = openPath(b, b->attach(disk, ScsiAddress{2, 0, 5, 0}));
    }
    // A handle on one path of the disk, opened on its host.
    static HANDLE openPath(const std::shared_ptr<Host> &host, Lun &path) {
        ScopedHost use(host);
        HANDLE h = open(path.devicePath());
        EXPECT_NE(h, INVALID_HANDLE_VALUE);
        return h;
    }
    void TearDown() override {
        CloseHandle(ha);
        CloseHandle(hb);
    }
    std::vector<uint64_t> keys(HANDLE h) {
        Answer r = prIn(h, 0);
        std::vector<uint64_t> out;
        for (size_t at = 8; at + 8 <= r.data.size(); at += 8) out.push_back(LoadBe64(&r.data[at]));
        EXPECT_EQ(be32(r.data, 4), out.size() * 8);
        return out;
    }
    std::shared_ptr<Disk> disk;
    std::shared_ptr<Host> a, b;
    HANDLE ha = INVALID_HANDLE_VALUE, hb = INVALID_HANDLE_VALUE;
};

TEST_F(Reservations, RegisterReserveAndConflictsBetweenInitiators) {
    EXPECT_EQ(prOut(ha, kRegister, 0, 0, 0xAAAA).status, 0x00);
    EXPECT_EQ(prOut(hb, kRegister, 0, 0, 0xBBBB).status, 0x00);
    EXPECT_EQ(keys(ha), (std::vector<uint64_t>{0xAAAA, 0xBBBB}));
    EXPECT_EQ(be32(prIn(ha, 0).data, 0), 2u);  // generation counts registrations

    // Registering again with the wrong key, or reserving with someone else's, conflicts.
    EXPECT_EQ(prOut(ha, kRegister, 0, 0x1234, 0xCCCC).status, 0x18);
    EXPECT_EQ(prOut(hb, kReserve, kWriteExclusive, 0xAAAA, 0).status, 0x18);
    EXPECT_EQ(prOut(ha, kReserve, kWriteExclusive, 0xAAAA, 0).status, 0x00);
    EXPECT_EQ(prOut(ha, kReserve, kWriteExclusive, 0xAAAA, 0).status, 0x00);  // same holder, same type
    EXPECT_EQ(prOut(hb, kReserve, kWriteExclusive, 0xBBBB, 0).status, 0x18);

    Answer res = prIn(hb, 1);
    ASSERT_EQ(res.data.size(), 24u);
    EXPECT_EQ(be32(res.data, 4), 16u);
    EXPECT_EQ(res.data[15], 0xAA);
    EXPECT_EQ(res.data[21], kWriteExclusive);

    // Write exclusive: B may read, not write.
    EXPECT_EQ(passThrough(hb, {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 512, true).status, 0x00);
    EXPECT_EQ(passThrough(hb, {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 512, false, std::vector<uint8_t>(512)).status, 0x18);
    EXPECT_EQ(passThrough(ha, {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 512, false, std::vector<uint8_t>(512)).status, 0x00);

    // Release by a non-holder changes nothing; by the holder with the wrong type is refused.
    EXPECT_EQ(prOut(hb, kRelease, kWriteExclusive, 0xBBBB, 0).status, 0x00);
    EXPECT_TRUE(disk->reservation().reserved);
    EXPECT_EQ(statusAndSense(prOut(ha, kRelease, kExclusiveAccess, 0xAAAA, 0)), (Bytes{0x02, 0x05, 0x26, 0x04}));
    EXPECT_EQ(prOut(ha, kRelease, kWriteExclusive, 0xAAAA, 0).status, 0x00);
    EXPECT_FALSE(disk->reservation().reserved);
    EXPECT_EQ(be32(prIn(ha, 1).data, 4), 0u);
}

TEST_F(Reservations, PreemptTakesOverTheReservationAndDropsTheVictim) {
    prOut(ha, kRegister, 0, 0, 0xAAAA);
    prOut(hb, kRegister, 0, 0, 0xBBBB);
    prOut(ha, kReserve, kExclusiveAccess, 0xAAAA, 0);
    EXPECT_EQ(passThrough(hb, {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 512, true).status, 0x18);
    uint32_t before = disk->reservation().generation;
    EXPECT_EQ(prOut(hb, kPreemptAbort, kWriteExclusiveRegistrants, 0xBBBB, 0xAAAA).status, 0x00);
    ReservationState s = disk->reservation();
    EXPECT_EQ(s.holder, b->initiator().initiatorName);
    EXPECT_EQ(s.type, kWriteExclusiveRegistrants);
    EXPECT_EQ(s.generation, before + 1);
    EXPECT_EQ(keys(hb), std::vector<uint64_t>{0xBBBB});
    // A is no longer registered: its old key conflicts.
    EXPECT_EQ(prOut(ha, kReserve, kExclusiveAccess, 0xAAAA, 0).status, 0x18);
    // Preempting a key nobody holds conflicts; a zero key is an invalid field.
    EXPECT_EQ(prOut(hb, kPreempt, kWriteExclusive, 0xBBBB, 0x9999).status, 0x18);
    prOut(hb, kRelease, kWriteExclusiveRegistrants, 0xBBBB, 0);
    EXPECT_EQ(prOut(hb, kPreempt, kWriteExclusive, 0xBBBB, 0).status, 0x02);
}

// The zero key from an unregistered nexus registers nothing (the flows' test
// of an empty key covers REGISTER AND IGNORE EXISTING KEY).
TEST_F(Reservations, IgnoreExistingKeyUnregisterAndClear) {
    EXPECT_EQ(prOut(ha, kRegister, 0, 0, 0).status, 0x00);
    EXPECT_TRUE(keys(ha).empty());
    prOut(ha, kRegister, 0, 0, 0xAAAA);
    EXPECT_EQ(prOut(ha, kRegisterIgnore, 0, 0x5555, 0xA2A2).status, 0x00);
    EXPECT_EQ(keys(ha), std::vector<uint64_t>{0xA2A2});
    EXPECT_EQ(prOut(ha, kRegister, 0, 0xA2A2, 0).status, 0x00);
    EXPECT_TRUE(keys(ha).empty());
    // An unregistered initiator registering with a non-zero key conflicts.
    EXPECT_EQ(prOut(hb, kRegister, 0, 0x1, 0xBBBB).status, 0x18);
    prOut(ha, kRegister, 0, 0, 0xAAAA);
    prOut(hb, kRegister, 0, 0, 0xBBBB);
    prOut(hb, kReserve, kWriteExclusive, 0xBBBB, 0);
    EXPECT_EQ(prOut(hb, kClear, 0, 0x1, 0).status, 0x18);
    EXPECT_EQ(prOut(ha, kClear, 0, 0xAAAA, 0).status, 0x00);
    EXPECT_TRUE(keys(hb).empty());
    EXPECT_FALSE(disk->reservation().reserved);
}

TEST_F(Reservations, MalformedOutCommandsAreIllegalRequests) {
    // A parameter list length other than 24.
    EXPECT_EQ(statusAndSense(passThrough(ha, {0x5F, 0, 0, 0, 0, 0, 0, 0, 16, 0}, 16, false, Bytes(16))),
              (Bytes{0x02, 0x05, 0x1A, 0x00}));
    // REGISTER AND MOVE is not offered; an invalid type is refused.
    EXPECT_EQ(prOut(ha, 7, 0, 0, 1).status, 0x02);
    prOut(ha, kRegister, 0, 0, 0xAAAA);
    EXPECT_EQ(prOut(ha, kReserve, 2, 0xAAAA, 0).status, 0x02);
    EXPECT_EQ(prIn(ha, 3).status, 0x02);
    EXPECT_EQ(prIn(ha, 2).data.size(), 8u);  // REPORT CAPABILITIES
}

TEST_F(Reservations, ReadKeysIsTruncatedToTheAllocationButReportsTheFullLength) {
    for (uint64_t k = 1; k <= 40; ++k) {
        auto h = Host::create("X");
        HANDLE x = openPath(h, h->attach(disk, ScsiAddress{}));
        ASSERT_EQ(prOut(x, kRegister, 0, 0, k).status, 0);
        CloseHandle(x);
    }
    Answer r = prIn(ha, 0);
    EXPECT_EQ(r.data.size(), 255u);
    EXPECT_EQ(be32(r.data, 4), 40u * 8);
}

// A host with two paths to the disk is two I_T nexuses: each path registers
// on its own, the registrants-only holder is the one nexus that reserved.
TEST_F(Reservations, EveryPathOfAHostIsItsOwnNexus) {
    Lun &second = a->attach(disk, ScsiAddress{1, 0, 1, 0});
    EXPECT_NE(second.targetPort(), a->luns()[0]->targetPort());
    HANDLE ha2 = openPath(a, second);
    const std::vector<uint8_t> block(512);
    auto write = [&](HANDLE h) { return passThrough(h, {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 512, false, block).status; };

    EXPECT_EQ(prOut(ha, kRegister, 0, 0, 0xAAAA).status, 0x00);
    EXPECT_EQ(keys(ha), std::vector<uint64_t>{0xAAAA});
    EXPECT_EQ(prOut(ha2, kReserve, kWriteExclusiveRegistrants, 0xAAAA, 0).status, 0x18);  // not registered there
    EXPECT_EQ(prOut(ha2, kRegister, 0, 0, 0xAAAA).status, 0x00);
    EXPECT_EQ(keys(ha), (std::vector<uint64_t>{0xAAAA, 0xAAAA}));  // one key per registered nexus

    ASSERT_EQ(prOut(ha, kReserve, kWriteExclusiveRegistrants, 0xAAAA, 0).status, 0x00);
    EXPECT_EQ(disk->reservation().holderTargetPort, a->luns()[0]->targetPort());
    // The other path is a registrant, not the holder: its RELEASE does nothing.
    EXPECT_EQ(prOut(ha2, kRelease, kWriteExclusiveRegistrants, 0xAAAA, 0).status, 0x00);
    EXPECT_TRUE(disk->reservation().reserved);
    EXPECT_EQ(write(ha2), 0x00);
    EXPECT_EQ(write(hb), 0x18);

    // A registrant's unregistration leaves the reservation; the holder's ends it.
    EXPECT_EQ(prOut(ha2, kRegister, 0, 0xAAAA, 0).status, 0x00);
    EXPECT_EQ(keys(ha), std::vector<uint64_t>{0xAAAA});
    EXPECT_TRUE(disk->reservation().reserved);
    EXPECT_EQ(prOut(ha, kRegister, 0, 0xAAAA, 0).status, 0x00);
    EXPECT_FALSE(disk->reservation().reserved);

    // ALL_TG_PT registers the initiator on every target port of the unit.
    EXPECT_EQ(prOut(ha, kRegisterIgnore, 0, 0, 0xA1A1, 0x04).status, 0x00);
    EXPECT_EQ(keys(ha).size(), disk->targetPorts().size());
    EXPECT_EQ(prOut(ha2, kReserve, kWriteExclusiveRegistrants, 0xA1A1, 0).status, 0x00);
    CloseHandle(ha2);
}

// Unit attentions (the other SAN faults are exercised through the
// reservation flows).
TEST_F(Reservations, UnitAttentions) {
    // A unit attention reaches each nexus of the initiator once, on its
    // first command but INQUIRY; that command is not carried out.
    disk->unitAttention(0x2A, 0x03, a->initiator().initiatorName);
    EXPECT_EQ(inquiry(ha).status, 0x00);
    EXPECT_EQ(statusAndSense(prOut(ha, kRegister, 0, 0, 0xAAAA)), (Bytes{0x02, 0x06, 0x2A, 0x03}));
    EXPECT_TRUE(disk->reservation().registrations.empty());
    EXPECT_EQ(prOut(hb, kRegister, 0, 0, 0xBBBB).status, 0x00);  // B's nexus is not concerned
    EXPECT_EQ(prOut(ha, kRegister, 0, 0, 0xAAAA).status, 0x00);

    // A power cycle loses every registration; REQUEST SENSE hands over the
    // unit attention as data and clears it.
    prOut(ha, kReserve, kWriteExclusiveRegistrants, 0xAAAA, 0);
    disk->powerOnReset();
    EXPECT_TRUE(disk->reservation().registrations.empty());
    EXPECT_FALSE(disk->reservation().reserved);
    Answer sense = passThrough(ha, {0x03, 0, 0, 0, 18, 0}, 18, true);
    ASSERT_EQ(sense.status, 0x00);
    ASSERT_EQ(sense.data.size(), 18u);
    EXPECT_EQ((std::vector<uint8_t>{uint8_t(sense.data[2] & 0x0F), sense.data[12]}), (std::vector<uint8_t>{0x06, 0x29}));
    EXPECT_EQ(prIn(ha, 0).status, 0x00);
    EXPECT_EQ(prIn(hb, 0).status, 0x02);
    EXPECT_EQ(prIn(hb, 0).status, 0x00);
}

} // namespace

