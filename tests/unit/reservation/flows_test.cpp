// The reserve and release flows on a simulated disk that two simulated
// hosts share. After each step the test decodes what the disk holds itself.
#include "pgr_test_support.h"
#include "sim_support.h"

#include "pgr/reservationdiskwin.h"

namespace {

using namespace pgr_test;
using Strings = std::vector<std::string>;
constexpr int kRegister = 0x4000, kPreempt = 0x2000, kVerify = 0x10000, kRelease = 0x800;
const std::string kA = "c0a80001";
const std::string kB = "c0a80002";

class Flows : public ProviderFixture {
protected:
    using HostPtr = std::shared_ptr<rendo_sim::Host>;
    int reserve(const HostPtr &host, const std::string &key, int flags) {
        rendo_sim::ScopedHost use(host);
        return provider->diskReserve(pathOf(host), key, flags);
    }
    int release(const HostPtr &host, const std::string &key, int flags) {
        rendo_sim::ScopedHost use(host);
        return provider->diskRelease(pathOf(host), key, flags);
    }
    std::string pathOf(const HostPtr &host) { return (host == hostA ? lunA : lunB).devicePath(); }
    // The PR OUT commands host sent since the last call.
    Strings sent(const HostPtr &host) {
        Strings all = proutFrom(*disk, host->initiator().initiatorName);
        size_t &seen = host == hostA ? seenA : seenB;
        Strings fresh(all.begin() + seen, all.end());
        seen = all.size();
        return fresh;
    }
    void expectDisk(const Strings &keys, const std::string &holder) {
        DiskView v = look(*disk);
        EXPECT_EQ(keys, v.keys);
        EXPECT_EQ(holder, v.holderKey);
        EXPECT_EQ(holder.empty() ? -1 : 5, v.type);
    }

    HostPtr hostA = rendo_sim::Host::create("HOSTA");
    HostPtr hostB = rendo_sim::Host::create("HOSTB");
    rendo_sim::Lun &lunA = hostA->addDisk(rendo_sim::DiskSpec::make("DGC", "RAID 5", "0326", "SNAP0001"));
    rendo_sim::Lun &lunB = hostB->attach(lunA.disk(), rendo_sim::ScsiAddress{0, 0, 3, 0});
    rendo_sim::Disk *disk = lunA.disk().get();
    size_t seenA = 0, seenB = 0;
};

TEST_F(Flows, TwoHostsContendForOneDisk) {
    // A registers and reserves.
    EXPECT_EQ(0, reserve(hostA, kA, kRegister));
    EXPECT_EQ((Strings{"06/0 " + kA + "/" + kA, "01/5 " + kA + "/"}), sent(hostA));
    expectDisk({kA}, kA);

    // B may not preempt: 1099, and its fresh registration goes again.
    EXPECT_EQ(1099, reserve(hostB, kB, kRegister));
    EXPECT_EQ((Strings{"06/0 " + kB + "/" + kB, "00/0 " + kB + "/"}), sent(hostB));
    EXPECT_TRUE(traced("Could not reserve the disk as the disk is already reserved by key [" + kA +
                       "]But the preempt flag is not set."));
    expectDisk({kA}, kA);

    // B may preempt: PREEMPT AND ABORT of A's key (A's registration goes
    // with it), then B registers again.
    EXPECT_EQ(0, reserve(hostB, kB, kRegister | kPreempt));
    EXPECT_EQ((Strings{"06/0 " + kB + "/" + kB, "05/5 " + kB + "/" + kA, "06/0 " + kB + "/" + kB}), sent(hostB));
    expectDisk({kB}, kB);

    // A's release finds B holding it: 1097, nothing sent. Verifying: 1100.
    EXPECT_EQ(1097, release(hostA, kA, kRelease | kRegister));
    EXPECT_EQ(1100, release(hostA, kA, kVerify | kRelease));
    EXPECT_TRUE(sent(hostA).empty());
    expectDisk({kB}, kB);

    // B verifies, releases and unregisters: nothing is left on the disk.
    EXPECT_EQ(0, release(hostB, kB, kVerify | kRelease | kRegister));
    EXPECT_EQ((Strings{"02/5 " + kB + "/", "00/0 " + kB + "/"}), sent(hostB));
    expectDisk({}, "");
    EXPECT_TRUE(disk->reservation().registrations.empty());
    EXPECT_FALSE(disk->reservation().reserved);
}

TEST_F(Flows, ReserveWhatTheHostHoldsAlready) {
    EXPECT_EQ(0, reserve(hostA, kA, kRegister));
    sent(hostA);
    // Again: no RESERVE.
    EXPECT_EQ(0, reserve(hostA, kA, kRegister));
    EXPECT_EQ(Strings{"06/0 " + kA + "/" + kA}, sent(hostA));
    // With preemption allowed the host preempts itself and registers again.
    EXPECT_EQ(0, reserve(hostA, kA, kRegister | kPreempt));
    EXPECT_EQ((Strings{"06/0 " + kA + "/" + kA, "05/5 " + kA + "/" + kA, "06/0 " + kA + "/" + kA}), sent(hostA));
    expectDisk({kA}, kA);

    // A key longer than the 8-byte field: the disk holds its first 8
    // characters, and the flows compare in that form.
    const std::string longKey = kA + "-host";
    EXPECT_EQ(0, reserve(hostA, longKey, kRegister));
    EXPECT_EQ(0, release(hostA, longKey, kVerify | kRelease | kRegister));
    expectDisk({}, "");
}

TEST_F(Flows, ReleaseVariants) {
    ASSERT_EQ(0, reserve(hostA, kA, kRegister));
    {
        rendo_sim::ScopedHost use(hostB);
        ASSERT_EQ(0, ReservationDiskWin(pathOf(hostB)).registerDisk(kB, true));
    }
    sent(hostA);
    EXPECT_EQ(0, release(hostA, kA, kVerify));   // verification alone: reads only
    EXPECT_EQ(0, release(hostA, kA, kRegister)); // no unregistration without the release flag
    EXPECT_TRUE(sent(hostA).empty());
    ASSERT_EQ(0, release(hostA, kA, kRelease | kRegister));
    sent(hostB);
    // No reservation at all: no RELEASE, but the unregistration; then nothing.
    EXPECT_EQ(0, release(hostB, kB, kRelease | kRegister));
    EXPECT_EQ(Strings{"00/0 " + kB + "/"}, sent(hostB));
    EXPECT_EQ(0, release(hostB, kB, kRelease | kRegister));
    EXPECT_TRUE(sent(hostB).empty());
    expectDisk({}, "");
}

TEST_F(Flows, FailuresOfTheDevice) {
    rendo_sim::ScopedHost use(hostA);
    // An empty path is no device path (ERROR_PATH_NOT_FOUND), the drive
    // does not exist (ERROR_FILE_NOT_FOUND): both are open failures, code 2.
    for (const auto &[path, error] : std::vector<std::pair<std::string, int>>{{"", 3}, {"\\\\.\\PHYSICALDRIVE42", 2}}) {
        EXPECT_EQ(1098, provider->diskReserve(path, kA, kRegister));
        EXPECT_TRUE(traced("Failed to read registration on disk [" + path + "] with error [2]."));
        EXPECT_EQ(1098, provider->diskReserve(path, kA, 0));
        EXPECT_EQ(1096, provider->diskRelease(path, kA, kVerify));
        EXPECT_EQ(0, provider->diskRelease(path, kA, 0));
        EXPECT_TRUE(traced("Error opening " + path + ". Error: " + std::to_string(error) + "\n"));
    }
    // The device refuses the RESERVE, as it does to the loser of a race.
    disk->answerStatus(0x5F, 0x18, 1);
    EXPECT_EQ(1098, provider->diskReserve(pathOf(hostA), kA, 0));
    EXPECT_TRUE(traced("Failed to reserve disk [" + pathOf(hostA) + "] with error [3]."));
    expectDisk({}, "");
}

} // namespace
