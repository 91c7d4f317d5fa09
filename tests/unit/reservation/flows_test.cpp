// The reserve and release flows against simulated disks shared by two
// simulated hosts. After each step the test reads what the disk holds
// itself (sim_support.h), besides the flow's status and trace.
#include "pgr_test_support.h"
#include "sim_support.h"

#include "pgr/reservationdiskwin.h"

namespace {

using namespace pgr_test;
using Bytes = std::vector<uint8_t>;

constexpr int kRegister = 0x4000, kPreempt = 0x2000, kVerify = 0x10000, kRelease = 0x800;
const std::string kA = "c0a80001";
const std::string kB = "c0a80002";

class Flows : public ProviderFixture {
protected:
    void SetUp() override {
        ProviderFixture::SetUp();
        hostA = rendo_sim::Host::create("HOSTA");
        hostB = rendo_sim::Host::create("HOSTB");
        lunA = &hostA->addDisk(rendo_sim::DiskSpec::make("DGC", "RAID 5", "0326", "SNAP0001"));
        lunB = &hostB->attach(lunA->disk(), rendo_sim::ScsiAddress{0, 0, 3, 0});
        disk = lunA->disk().get();
    }
    int reserve(const std::shared_ptr<rendo_sim::Host> &host, const std::string &key, int flags) {
        rendo_sim::ScopedHost use(host);
        return provider->diskReserve(pathOf(host), key, flags);
    }
    int release(const std::shared_ptr<rendo_sim::Host> &host, const std::string &key, int flags) {
        rendo_sim::ScopedHost use(host);
        return provider->diskRelease(pathOf(host), key, flags);
    }
    std::string pathOf(const std::shared_ptr<rendo_sim::Host> &host) {
        return host == hostA ? lunA->devicePath() : lunB->devicePath();
    }
    // Service action, type, reservation key and service action key of the
    // PR OUT commands host sent since the last call.
    std::vector<std::string> sent(const std::shared_ptr<rendo_sim::Host> &host) {
        std::vector<std::string> out;
        std::vector<rendo_sim::CommandRecord> all = proutFrom(*disk, host->initiator().initiatorName);
        size_t &seen = host == hostA ? seenA : seenB;
        for (size_t i = seen; i < all.size(); ++i) {
            const rendo_sim::CommandRecord &c = all[i];
            char head[16];
            std::snprintf(head, sizeof head, "%02X/%d ", c.cdb.at(1), c.cdb.at(2));
            out.push_back(head + fieldText(&c.dataOut.at(0)) + "/" + fieldText(&c.dataOut.at(8)));
        }
        seen = all.size();
        return out;
    }

    std::shared_ptr<rendo_sim::Host> hostA, hostB;
    rendo_sim::Lun *lunA = nullptr, *lunB = nullptr;
    rendo_sim::Disk *disk = nullptr;
    size_t seenA = 0, seenB = 0;
};

TEST_F(Flows, TwoHostsContendForOneDisk) {
    // A registers and reserves.
    EXPECT_EQ(0, reserve(hostA, kA, kRegister));
    EXPECT_EQ((std::vector<std::string>{"06/0 " + kA + "/" + kA, "01/5 " + kA + "/"}), sent(hostA));
    DiskView v = look(*disk);
    EXPECT_EQ(std::vector<std::string>{kA}, v.keys);
    EXPECT_TRUE(v.reserved);
    EXPECT_EQ(kA, v.holderKey);
    EXPECT_EQ(5, v.type);

    // B may not preempt: 1099, and its fresh registration goes again.
    EXPECT_EQ(1099, reserve(hostB, kB, kRegister));
    EXPECT_EQ((std::vector<std::string>{"06/0 " + kB + "/" + kB, "00/0 " + kB + "/"}), sent(hostB));
    EXPECT_TRUE(traced("Could not reserve the disk as the disk is already reserved by key [" + kA +
                       "]But the preempt flag is not set."));
    v = look(*disk);
    EXPECT_EQ(std::vector<std::string>{kA}, v.keys);
    EXPECT_EQ(kA, v.holderKey);

    // B may preempt: PREEMPT AND ABORT of A's key, then B registers again.
    EXPECT_EQ(0, reserve(hostB, kB, kRegister | kPreempt));
    EXPECT_EQ((std::vector<std::string>{"06/0 " + kB + "/" + kB, "05/5 " + kB + "/" + kA, "06/0 " + kB + "/" + kB}),
              sent(hostB));
    v = look(*disk);
    EXPECT_EQ(std::vector<std::string>{kB}, v.keys) << "A's registration went with the preemption";
    EXPECT_EQ(kB, v.holderKey);
    EXPECT_EQ(5, v.type);

    // A's release finds B holding it: 1097, nothing sent, nothing changed.
    EXPECT_EQ(1097, release(hostA, kA, kRelease | kRegister));
    EXPECT_TRUE(sent(hostA).empty());
    EXPECT_TRUE(traced("Some other host has reservation on the device [" + lunA->devicePath() + "] with key [" + kB +
                       "]"));
    // A verifying its own reservation: 1100.
    EXPECT_EQ(1100, release(hostA, kA, kVerify | kRelease));
    EXPECT_EQ(kB, look(*disk).holderKey);

    // B verifies, releases and unregisters: the disk is left empty.
    EXPECT_EQ(0, release(hostB, kB, kVerify | kRelease | kRegister));
    EXPECT_EQ((std::vector<std::string>{"02/5 " + kB + "/", "00/0 " + kB + "/"}), sent(hostB));
    v = look(*disk);
    EXPECT_TRUE(v.keys.empty());
    EXPECT_FALSE(v.reserved);
    rendo_sim::ReservationState state = disk->reservation();
    EXPECT_TRUE(state.registrations.empty());
    EXPECT_FALSE(state.reserved);
}

TEST_F(Flows, ReserveOnAFreshDiskAndAgain) {
    EXPECT_EQ(0, reserve(hostA, kA, kRegister));
    const std::string path = lunA->devicePath();
    EXPECT_TRUE(traced("Host registration on device [" + path + "] with key [" + kA + "] completed."));
    EXPECT_TRUE(traced("Successfully reserved the disk [" + path + "]."));
    sent(hostA);

    // Held already: the line twice, no RESERVE.
    collector.clear();
    EXPECT_EQ(0, reserve(hostA, kA, kRegister));
    EXPECT_EQ(2, countOf("Host already have reservation on device [" + path + "] with key [" + kA + "]"));
    EXPECT_EQ(std::vector<std::string>{"06/0 " + kA + "/" + kA}, sent(hostA));

    // With preemption allowed the host preempts itself and registers again.
    EXPECT_EQ(0, reserve(hostA, kA, kRegister | kPreempt));
    EXPECT_EQ((std::vector<std::string>{"06/0 " + kA + "/" + kA, "05/5 " + kA + "/" + kA, "06/0 " + kA + "/" + kA}),
              sent(hostA));
    DiskView v = look(*disk);
    EXPECT_EQ(kA, v.holderKey);
    EXPECT_EQ(std::vector<std::string>{kA}, v.keys);
}

TEST_F(Flows, AKeyLongerThanTheFieldKnowsItsOwnReservation) {
    // The disk holds the first 8 characters; the flow compares in that form.
    const std::string longKey = kA + "-host";
    EXPECT_EQ(0, reserve(hostA, longKey, kRegister));
    EXPECT_EQ(0, reserve(hostA, longKey, kRegister));
    EXPECT_TRUE(traced("Host already have reservation on device [" + lunA->devicePath() + "] with key [" + longKey +
                       "]"));
    DiskView v = look(*disk);
    EXPECT_EQ(kA, v.holderKey);
    EXPECT_EQ(std::vector<std::string>{kA}, v.keys);
    EXPECT_EQ(0, release(hostA, longKey, kVerify | kRelease | kRegister));
    EXPECT_TRUE(look(*disk).keys.empty());
}

TEST_F(Flows, ReleaseVariants) {
    ASSERT_EQ(0, reserve(hostA, kA, kRegister));
    sent(hostA);
    // Verification alone: reads only.
    EXPECT_EQ(0, release(hostA, kA, kVerify));
    EXPECT_TRUE(sent(hostA).empty());
    // Unregistration is not done without the release flag.
    EXPECT_EQ(0, release(hostA, kA, kRegister));
    EXPECT_EQ(1u, look(*disk).keys.size());

    // B registered, A holding: B's release gets 1097 and keeps B registered.
    {
        rendo_sim::ScopedHost use(hostB);
        ReservationDiskWin b(lunB->devicePath());
        ASSERT_EQ(0, b.registerDisk(kB, true));
    }
    EXPECT_EQ(1097, release(hostB, kB, kRelease | kRegister));
    EXPECT_EQ(2u, look(*disk).keys.size());

    // No reservation at all: no RELEASE, but the unregistration.
    ASSERT_EQ(0, release(hostA, kA, kRelease | kRegister));
    sent(hostB);
    collector.clear();
    EXPECT_EQ(0, release(hostB, kB, kRelease | kRegister));
    EXPECT_TRUE(traced("Host does not have reservation on device [" + lunB->devicePath() + "] with key [" + kB + "]"));
    EXPECT_EQ(std::vector<std::string>{"00/0 " + kB + "/"}, sent(hostB));
    EXPECT_TRUE(look(*disk).keys.empty());
    // Not registered either: said, nothing sent.
    EXPECT_EQ(0, release(hostB, kB, kRelease | kRegister));
    EXPECT_TRUE(traced("Host does not have registration on device [" + lunB->devicePath() + "] with key [" + kB +
                       "]"));
    EXPECT_TRUE(sent(hostB).empty());
}

TEST_F(Flows, PathsThatDoNotOpen) {
    rendo_sim::ScopedHost use(hostA);
    // An empty path is no device path (ERROR_PATH_NOT_FOUND); the drive
    // does not exist (ERROR_FILE_NOT_FOUND). Both are open failures, code 2.
    const std::vector<std::pair<std::string, int>> paths = {{"", 3}, {"\\\\.\\PHYSICALDRIVE42", 2}};
    for (const auto &[path, error] : paths) {
        collector.clear();
        EXPECT_EQ(1098, provider->diskReserve(path, kA, kRegister));
        EXPECT_TRUE(traced("Failed to read registration on disk [" + path + "] with error [2]."));
        EXPECT_EQ(1098, provider->diskReserve(path, kA, 0));
        EXPECT_TRUE(traced("Failed to read reservation on disk [" + path + "] with error [2]."));
        EXPECT_EQ(1096, provider->diskRelease(path, kA, kVerify));
        EXPECT_EQ(1096, provider->diskRelease(path, kA, kRelease));
        EXPECT_EQ(0, provider->diskRelease(path, kA, 0));
        // The command level explains why.
        EXPECT_TRUE(traced("Error opening " + path + ". Error: " + std::to_string(error) + "\n"));
    }
}

TEST_F(Flows, ConflictingReserveEndsIn1098) {
    // The device refuses the RESERVE (as it does to the loser of a race).
    disk->answerStatus(0x5F, 0x18, 1);
    EXPECT_EQ(1098, reserve(hostA, kA, 0));
    EXPECT_TRUE(traced("Failed to reserve disk [" + lunA->devicePath() + "] with error [3]."));
    EXPECT_FALSE(look(*disk).reserved);
}

} // namespace
