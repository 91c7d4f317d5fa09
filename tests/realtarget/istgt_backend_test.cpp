// The iSCSI backend against a private istgt, the target that implements
// PREEMPT AND ABORT: the reservation moving to the preempting host, and
// where istgt departs from SPC-3 in doing so.
#include "realtarget_fixture.h"
#include "realtarget_scsi.h"

#include <gtest/gtest.h>

using namespace rendo_realtarget;
using rendo_sim::DataDirection;
using rendo_sim::DiskBackend;
using rendo_sim::ScsiResult;

namespace {

class IstgtBackend : public ::testing::Test {
protected:
    void SetUp() override
    {
        IstgtTarget::Unit unit;
        unit.name = "shared";
        std::string error;
        ASSERT_TRUE(istgt_.start({unit}, &error)) << error;
    }

    std::shared_ptr<DiskBackend> open(const rendo_sim::InitiatorIdentity &who)
    {
        std::string error;
        auto disk = rendo_sim::openIscsiBackend(istgt_.url(istgt_.iqn("shared"), 0), who, &error);
        EXPECT_TRUE(disk) << error << "\nistgt output:\n" << istgt_.log();
        return disk;
    }

    IstgtTarget istgt_;
};

TEST_F(IstgtBackend, PreemptAndAbortMovesTheReservation)
{
    auto a = open(hostA());
    auto b = open(hostB());
    ASSERT_TRUE(a && b);
    const uint64_t keyA = 0xAAAA000000000001ull, keyB = 0xBBBB000000000002ull;
    ASSERT_EQ(kGood, prOut(*a, kRegister, 0, 0, keyA).status);
    ASSERT_EQ(kGood, prOut(*b, kRegister, 0, 0, keyB).status);
    ASSERT_EQ(kGood, prOut(*a, kReserve, kExclusiveAccess, keyA, 0).status);
    std::vector<uint8_t> block(512, 0x11);
    EXPECT_EQ(kReservationConflict, runCdb(*b, rw10Cdb(0x2A, 0, 1), DataDirection::Out, block).status);

    ScsiResult r = prOut(*b, kPreemptAndAbort, kExclusiveAccess, keyB, keyA);
    ASSERT_FALSE(r.transportError) << r.transportMessage;
    ASSERT_EQ(kGood, r.status);

    std::vector<uint8_t> d(64);
    ASSERT_EQ(kGood, runCdb(*b, persistentReserveInCdb(kReadReservation, 64), DataDirection::In, d).status);
    ReadReservation res = decodeReadReservation(d);
    EXPECT_TRUE(res.reserved);
    EXPECT_EQ(keyB, res.key);
    EXPECT_EQ(kExclusiveAccess, res.type);
    // istgt 0.4 (20111008) then keeps the preempted key and drops the
    // preemptor's, where SPC-3 removes keyA and keeps keyB; the new holder is
    // therefore unregistered and its own WRITE conflicts. The preempted host
    // gets no REGISTRATIONS PREEMPTED unit attention either.
    d.assign(64, 0);
    ASSERT_EQ(kGood, runCdb(*b, persistentReserveInCdb(kReadKeys, 64), DataDirection::In, d).status);
    ReadKeys keys = decodeReadKeys(d);
    EXPECT_EQ(std::vector<uint64_t>{keyA}, keys.keys);
    EXPECT_EQ(res.generation, keys.generation);
    EXPECT_EQ(kReservationConflict, runCdb(*b, rw10Cdb(0x2A, 0, 1), DataDirection::Out, block).status);
    r = runCdb(*a, rw10Cdb(0x2A, 0, 1), DataDirection::Out, block);
    EXPECT_EQ(kReservationConflict, r.status);
    EXPECT_TRUE(r.sense.empty());
}

} // namespace
