// The iSCSI backend against a private tgtd: the unit attention of a new
// session, sessions kept across open/close, capacity, and failures. Two
// hosts contending for one unit are the reservation tests' case.
#include "iscsi_session.h"
#include "realtarget_fixture.h"
#include "realtarget_scsi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <unistd.h>

using namespace rendo_realtarget;
using rendo_sim::DataDirection;
using rendo_sim::DiskBackend;
using rendo_sim::openIscsiBackend;
using rendo_sim::ScsiResult;

namespace {

class TgtdBackend : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(tgtd_.start(&error)) << error;
        for (auto [iqn, name] : {std::pair{&iqn1_, "disk-one"}, std::pair{&iqn2_, "disk-two"}}) {
            *iqn = tgtd_.addTarget(name, &error);
            ASSERT_TRUE(!iqn->empty() && tgtd_.addLogicalUnit(*iqn, 1, LogicalUnitSpec{}, &error)) << error;
        }
    }

    std::shared_ptr<DiskBackend> open(const std::string &iqn, const rendo_sim::InitiatorIdentity &who) {
        std::string error;
        auto disk = openIscsiBackend(tgtd_.url(iqn, 1), who, &error);
        EXPECT_TRUE(disk) << error;
        return disk;
    }

    ScsiResult in(DiskBackend &disk, const std::vector<uint8_t> &cdb, std::vector<uint8_t> &data, size_t size) {
        data.assign(size, 0xEE);
        return runCdb(disk, cdb, DataDirection::In, data);
    }
    // TEST UNIT READY, which must reach the unit and find nothing to report.
    void expectReady(DiskBackend &disk) {
        std::vector<uint8_t> none;
        ScsiResult r = runCdb(disk, testUnitReadyCdb(), DataDirection::None, none);
        EXPECT_FALSE(r.transportError) << r.transportMessage;
        EXPECT_EQ(kGood, r.status);
        EXPECT_TRUE(r.sense.empty());
    }

    TgtdTarget tgtd_;
    std::string iqn1_, iqn2_;
};

// tgtd raises POWER ON RESET on a new session; the backend absorbs it, so
// its first command is clean.
TEST_F(TgtdBackend, FirstCommandAfterLoginMeetsNoUnitAttention) {
    for (auto who : {hostA(), hostB()}) {
        auto disk = open(iqn1_, who);
        ASSERT_TRUE(disk);
        expectReady(*disk);
    }
}

// Closing and opening the disk again keeps its session, and so the
// registration tgtd binds to it. When the target closes the connection
// while the disk is idle, the next open notices and logs in again with the
// same identity (the same I_T nexus: tgtd keeps the registration), and disks
// opened before use the new login.
TEST_F(TgtdBackend, SessionAndItsRegistrationSurviveReopeningAndADroppedConnection) {
    size_t before = rendo_sim::iscsiLoggedInSessionCount();
    auto disk = open(iqn1_, hostA());
    ASSERT_TRUE(disk);
    EXPECT_EQ(before + 1, rendo_sim::iscsiLoggedInSessionCount());
    ScsiResult r = prOut(*disk, kRegister, 0, 0, 0xA1A1A1A1A1A1A1A1ull);
    ASSERT_FALSE(r.transportError) << r.transportMessage;
    ASSERT_EQ(kGood, r.status);
    disk.reset();

    auto reopened = open(iqn1_, hostA());
    ASSERT_TRUE(reopened);
    EXPECT_EQ(before + 1, rendo_sim::iscsiLoggedInSessionCount());
    std::vector<uint8_t> d;
    r = in(*reopened, persistentReserveInCdb(kReadKeys, 64), d, 64);
    ASSERT_EQ(kGood, r.status);
    EXPECT_EQ(std::vector<uint64_t>{0xA1A1A1A1A1A1A1A1ull}, readKeys(d));
    // Still registered: registering again with key 0 is a conflict for this nexus.
    EXPECT_EQ(kReservationConflict, prOut(*reopened, kRegister, 0, 0, 0xA1A1A1A1A1A1A1A1ull).status);

    std::string error;
    ASSERT_EQ(1, tgtd_.dropConnections(iqn1_, &error)) << error;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    auto after = open(iqn1_, hostA());
    ASSERT_TRUE(after);
    expectReady(*after);
    r = in(*reopened, persistentReserveInCdb(kReadKeys, 64), d, 64);
    ASSERT_FALSE(r.transportError) << r.transportMessage;
    ASSERT_EQ(kGood, r.status);
    EXPECT_EQ(std::vector<uint64_t>{0xA1A1A1A1A1A1A1A1ull}, readKeys(d));
}

// Past 2^32 blocks READ CAPACITY(10) saturates and the backend asks again
// with READ CAPACITY(16); the backing file is sparse.
TEST_F(TgtdBackend, CapacityComesFromReadCapacityTenOrSixteen) {
    uint64_t blocks = 0;
    uint32_t size = 0;
    auto two = open(iqn2_, hostA());
    ASSERT_TRUE(two && two->capacity(blocks, size));
    EXPECT_EQ(512u, size);
    EXPECT_EQ((8u << 20) / 512, blocks);

    std::string error;
    std::string iqn = tgtd_.addTarget("huge", &error);
    LogicalUnitSpec huge;
    huge.sizeBytes = 3ull << 40;
    ASSERT_TRUE(!iqn.empty() && tgtd_.addLogicalUnit(iqn, 1, huge, &error)) << error;
    auto disk = open(iqn, hostA());
    ASSERT_TRUE(disk);
    std::vector<uint8_t> d;
    ASSERT_EQ(kGood, in(*disk, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, d, 8).status);
    EXPECT_EQ(0xFFFFFFFFu, be32(d, 0));
    ASSERT_TRUE(disk->capacity(blocks, size));
    EXPECT_EQ(512u, size);
    EXPECT_EQ((3ull << 40) / 512, blocks);
}

// Small reads are copied out of libiscsi's buffer, large ones land in the
// caller's: both give every byte and the count the target moved, whatever
// the length's alignment.
TEST_F(TgtdBackend, ReadsOfEverySizeArriveWholeWithTheirCount) {
    auto disk = open(iqn2_, hostA());
    ASSERT_TRUE(disk);
    std::vector<uint8_t> written(130 * 512);
    for (size_t i = 0; i < written.size(); ++i) written[i] = static_cast<uint8_t>(i * 7 + i / 512);
    std::vector<uint8_t> out = written;
    ASSERT_EQ(kGood, runCdb(*disk, rw10Cdb(0x2A, 8, 130), DataDirection::Out, out).status);
    for (uint32_t blocks : {1u, 128u, 129u, 130u}) {
        std::vector<uint8_t> d;
        ASSERT_EQ(kGood, in(*disk, rw10Cdb(0x28, 8, static_cast<uint16_t>(blocks)), d, blocks * 512).status) << blocks;
        EXPECT_TRUE(std::equal(d.begin(), d.end(), written.begin()) && d.size() == blocks * 512) << blocks;
    }
    std::vector<uint8_t> full, part;
    ASSERT_EQ(kGood, in(*disk, {0x12, 0, 0, 0, 255, 0}, full, 255).status);
    ASSERT_GE(full.size(), 5u);
    EXPECT_EQ(std::min<size_t>(255, full[4] + 5u), full.size());  // underflow: the residual is not data
    ASSERT_EQ(kGood, in(*disk, {0x12, 0, 0, 0, 37, 0}, part, 37).status);
    EXPECT_EQ(std::vector<uint8_t>(full.begin(), full.begin() + 37), part);
}

TEST_F(TgtdBackend, BadCommandsMissingUnitsAndALostTargetAreReportedNotSent) {
    std::string error;
    EXPECT_FALSE(openIscsiBackend(tgtd_.url("iqn.2026-12.org.rendo.test:no-such-target", 1), hostA(), &error));
    EXPECT_NE(std::string::npos, error.find("cannot log in")) << error;
    error.clear();
    EXPECT_FALSE(openIscsiBackend(tgtd_.url(iqn1_, 9), hostA(), &error));
    EXPECT_NE(std::string::npos, error.find("TEST UNIT READY")) << error;

    auto disk = open(iqn1_, hostA());
    ASSERT_TRUE(disk);
    rendo_sim::ScsiRequest request;
    EXPECT_TRUE(disk->execute(request).transportError);  // no CDB
    uint8_t cdb[6] = {0x12, 0, 0, 0, 36, 0};
    request.cdb = cdb;
    request.cdbLength = 17;
    EXPECT_TRUE(disk->execute(request).transportError);
    request.cdbLength = 6;
    request.direction = DataDirection::In;
    request.dataLength = 36;
    EXPECT_TRUE(disk->execute(request).transportError);  // no buffer
    // The session is still good afterwards.
    std::vector<uint8_t> d;
    EXPECT_EQ(kGood, in(*disk, inquiryCdb(36), d, 36).status);

    // The target gone: transport errors, and no new login, all quickly.
    tgtd_.stop();
    auto started = std::chrono::steady_clock::now();
    ScsiResult r = in(*disk, inquiryCdb(36), d, 36);
    EXPECT_TRUE(r.transportError);
    EXPECT_FALSE(r.transportMessage.empty());
    r = in(*disk, inquiryCdb(36), d, 36);
    EXPECT_TRUE(r.transportError);
    EXPECT_NE(std::string::npos, r.transportMessage.find("not logged in")) << r.transportMessage;
    error.clear();
    EXPECT_FALSE(openIscsiBackend(tgtd_.url(iqn1_, 1), hostA(), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

// Several threads through shared sessions: the per-session lock keeps each
// libiscsi context single-threaded, the registry hands out one per key.
class TgtdBackendConcurrency : public TgtdBackend {};

TEST_F(TgtdBackendConcurrency, ThreadsShareOneSessionPerIdentityAndUnit) {
    size_t before = rendo_sim::iscsiLoggedInSessionCount();
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&, t] {
            std::string error;
            auto disk = openIscsiBackend(tgtd_.url(t % 2 ? iqn1_ : iqn2_, 1), t < 3 ? hostA() : hostB(), &error);
            if (!disk) {
                ++failures;
                return;
            }
            for (int i = 0; i < 40; ++i) {
                std::vector<uint8_t> d(96);
                ScsiResult r = runCdb(*disk, i % 2 ? inquiryCdb(96) : vpdCdb(0x80, 96), DataDirection::In, d);
                uint64_t blocks = 0;
                uint32_t size = 0;
                if (r.transportError || r.status != kGood || d.size() < 8 || !disk->capacity(blocks, size)) ++failures;
            }
        });
    for (auto &t : threads) t.join();
    EXPECT_EQ(0, failures.load());
    EXPECT_EQ(before + 4, rendo_sim::iscsiLoggedInSessionCount());
}

// -------------------------------------------------------------- no target

TEST(IscsiBackendOpen, MalformedUrlsAndIdentitiesAreRefused) {
    for (const char *url :
         {"", "iscsi://", "iscsi:///iqn.x.y/1", "http://127.0.0.1/iqn.x.y/1", "iscsi://127.0.0.1:3260/iqn.x.y",
          "iscsi://127.0.0.1:3260//1", "iscsi://127.0.0.1:70000/iqn.x.y/1", "iscsi://127.0.0.1:3260/iqn.x.y/16384",
          "iscsi://127.0.0.1:3260/iqn.x.y/1/", "iscsi://127.0.0.1:3260/iqn.x y/1", "iscsi://127.0.0.1:3260/target/1",
          "iscsi://u:p@127.0.0.1:3260/iqn.x.y/1", "iscsi://127.0.0.1:/iqn.x.y/1", "iscsi://[::1/iqn.x.y/1",
          "iscsi://127.0.0.1:3260/iqn.x.y/-1"}) {
        std::string error;
        EXPECT_FALSE(openIscsiBackend(url, hostA(), &error)) << url;
        EXPECT_NE(std::string::npos, error.find("invalid iSCSI URL")) << url << ": " << error;
    }
    std::string huge = "iscsi://127.0.0.1:3260/iqn." + std::string(100000, 'a') + "/1";
    std::string error;
    EXPECT_FALSE(openIscsiBackend(huge, hostA(), &error));
    EXPECT_LT(error.size(), 400u);

    rendo_sim::InitiatorIdentity who = hostA();
    who.initiatorName = "";
    EXPECT_FALSE(openIscsiBackend("iscsi://127.0.0.1:1/iqn.x.y/1", who, &error));
    EXPECT_NE(std::string::npos, error.find("initiator name")) << error;
    who = hostA();
    who.isid[0] = 0x81;  // random-type ISID with reserved bits set
    uint16_t port = freeLoopbackPort();
    EXPECT_FALSE(openIscsiBackend("iscsi://127.0.0.1:" + std::to_string(port) + "/iqn.x.y/1", who, &error));
    EXPECT_NE(std::string::npos, error.find("ISID")) << error;
}

TEST(IscsiBackendOpen, UnreachablePortalsFailQuicklyWithAReason) {
    uint16_t port = freeLoopbackPort();
    std::string error;
    auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(openIscsiBackend("iscsi://127.0.0.1:" + std::to_string(port) + "/iqn.x.y/1", hostA(), &error));
    EXPECT_NE(std::string::npos, error.find("connect")) << error;
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));

    // A listener that never answers the login: the login time-out bounds it.
    int fd = loopbackListener(&port);
    ASSERT_GE(fd, 0);
    auto saved = rendo_sim::iscsiLoginTimeout();
    rendo_sim::setIscsiLoginTimeout(std::chrono::milliseconds(300));
    started = std::chrono::steady_clock::now();
    error.clear();
    EXPECT_FALSE(openIscsiBackend("iscsi://127.0.0.1:" + std::to_string(port) + "/iqn.x.y/1", hostA(), &error));
    auto took = std::chrono::steady_clock::now() - started;
    rendo_sim::setIscsiLoginTimeout(saved);
    close(fd);
    EXPECT_NE(std::string::npos, error.find("no answer")) << error;
    EXPECT_GE(took, std::chrono::milliseconds(250));
    EXPECT_LT(took, std::chrono::seconds(2));
}

TEST(IscsiSense, DescriptorSenseIsConvertedAndLengthsAreClamped) {
    using Bytes = std::vector<uint8_t>;
    // Data segment (SenseLength, then the sense data) and the fixed sense made of it.
    const std::pair<Bytes, Bytes> cases[] = {
        // Descriptor header only: current, ILLEGAL REQUEST, 24/00.
        {{0, 8, 0x72, 0x05, 0x24, 0x00, 0, 0, 0, 0}, {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x24, 0, 0, 0, 0, 0}},
        // An information descriptor carrying LBA 0x1234 fills INFORMATION, VALID set.
        {{0, 20, 0x72, 0x03, 0x11, 0x00, 0, 0, 0, 12, 0x00, 0x0A, 0x80, 0, 0, 0, 0, 0, 0, 0, 0x12, 0x34},
         {0xF0, 0, 0x03, 0, 0, 0x12, 0x34, 10, 0, 0, 0, 0, 0x11, 0, 0, 0, 0, 0}},
        // A descriptor whose length runs past the data is ignored, not read.
        {{0, 12, 0x72, 0x03, 0x11, 0x00, 0, 0, 0, 40, 0x00, 0x0A, 0x80, 0},
         {0x70, 0, 0x03, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x11, 0, 0, 0, 0, 0}},
        // Fixed sense passes through, cut to what arrived even if SenseLength lies.
        {{0, 200, 0x70, 0, 0x06, 0, 0, 0, 0, 10}, {0x70, 0, 0x06, 0, 0, 0, 0, 10}},
        {{0, 0, 0x70}, {}},
    };
    for (const auto &c : cases) EXPECT_EQ(c.second, rendo_sim::fixedSenseFromSegment(c.first.data(), c.first.size()));
    EXPECT_TRUE(rendo_sim::fixedSenseFromSegment(nullptr, 10).empty());
}

}  // namespace
