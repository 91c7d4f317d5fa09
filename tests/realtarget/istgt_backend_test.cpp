// The iSCSI backend against a private istgt, the target that implements
// PREEMPT AND ABORT: login, inquiry, and the reservation moving to the
// preempting host.
#include "realtarget_fixture.h"
#include "realtarget_scsi.h"

#include <gtest/gtest.h>

using namespace rendo_realtarget;
using rendo_sim::DataDirection;
using rendo_sim::DiskBackend;
using rendo_sim::ScsiResult;

namespace {

constexpr uint8_t kGood = 0x00;
constexpr uint8_t kReservationConflict = 0x18;

class IstgtBackend : public ::testing::Test {
protected:
    void SetUp() override
    {
        IstgtTarget::Unit unit;
        unit.name = "shared";
        unit.desc.vendor = "RENDO";
        unit.desc.product = "ISTGT-DISK";
        unit.desc.revision = "0042";
        unit.desc.serial = "ISTGT0001";
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

    ScsiResult prOut(DiskBackend &disk, uint8_t action, uint8_t type, uint64_t key, uint64_t saKey)
    {
        std::vector<uint8_t> params = persistentReserveOutParams(key, saKey);
        return runCdb(disk, persistentReserveOutCdb(action, type), DataDirection::Out, params);
    }

    IstgtTarget istgt_;
};

TEST_F(IstgtBackend, LoginAndInquiry)
{
    auto disk = open(hostA());
    ASSERT_TRUE(disk);
    std::vector<uint8_t> d(96);
    ScsiResult r = runCdb(*disk, testUnitReadyCdb(), DataDirection::None, d);
    ASSERT_FALSE(r.transportError) << r.transportMessage;
    EXPECT_EQ(kGood, r.status);
    d.assign(96, 0);
    r = runCdb(*disk, inquiryCdb(96), DataDirection::In, d);
    ASSERT_EQ(kGood, r.status);
    ASSERT_GE(d.size(), 36u);
    EXPECT_EQ("RENDO   ", asText(d, 8, 8));
    EXPECT_EQ("ISTGT-DISK      ", asText(d, 16, 16));
    EXPECT_EQ("0042", asText(d, 32, 4));
    d.assign(255, 0);
    r = runCdb(*disk, vpdCdb(0x80, 255), DataDirection::In, d);
    ASSERT_EQ(kGood, r.status);
    ASSERT_GE(d.size(), 4u);
    EXPECT_NE(std::string::npos, asText(d, 4, d[3]).find("ISTGT0001"));
    uint64_t blocks = 0;
    uint32_t size = 0;
    ASSERT_TRUE(disk->capacity(blocks, size));
    EXPECT_EQ((8u << 20) / 512, blocks);
}

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
