// The reserve and release flows against real iSCSI targets: two simulated
// hosts, each its own initiator name and ISID, share one logical unit of a
// private tgtd or istgt, host A in this process and host B in a helper
// process of its own, as two machines would. After every step a third initiator reads READ KEYS and READ
// RESERVATION and the bytes are decoded by the flow tests' own helper
// (sim_support.h), not by the provider's parser.
#include "sim_support.h"
#include "realtarget_fixture.h"
#include "realtarget_scsi.h"

#include "platform/simhost.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace rendo_realtarget;
using rendo_sim::DataDirection;
using Strings = std::vector<std::string>;

namespace {

// The flows' keys and flags (these hide the PR OUT service action kRegister).
using pgr_test::kA, pgr_test::kB, pgr_test::kRegister, pgr_test::kPreempt, pgr_test::kVerify, pgr_test::kRelease;

// Host B (hostB()) in a process of its own (pgr_host_helper), kept alive for the
// whole scenario: tgtd binds a registration to the iSCSI session rather
// than to the I_T nexus (initiator name and ISID) as SPC-3 does, so a new
// login by B would find its registration orphaned.
class HostProcess {
public:
    ~HostProcess() { stop(); }

    bool start(const std::string &url, std::string *error) {
        int toChild[2], fromChild[2];
        if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0 || (pid_ = fork()) < 0)
            return *error = "pipe or fork failed", false;
        if (pid_ == 0) {
            dup2(toChild[0], 0);
            dup2(fromChild[1], 1);
            execl(RENDO_PGR_HOST_HELPER, RENDO_PGR_HOST_HELPER, url.c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
        close(toChild[0]);
        close(fromChild[1]);
        in_ = toChild[1];
        out_ = fdopen(fromChild[0], "r");
        // Trace lines of the provider's set-up, then the disk's path.
        std::string first;
        while (readLine(first) && first.rfind("T ", 0) == 0)
            ;
        path_ = first.substr(std::min<size_t>(2, first.size()));
        *error = "helper did not start: " + first;
        return first.rfind("P ", 0) == 0;
    }

    // One flow call; its trace lines are kept in lines. -1 when the helper failed.
    int call(const std::string &verb, const std::string &key, int flags) {
        std::string command = verb + " " + key + " " + std::to_string(flags) + "\n", line;
        if (in_ < 0 || write(in_, command.data(), command.size()) != static_cast<ssize_t>(command.size())) return -1;
        while (readLine(line) && line.rfind("S ", 0) != 0)
            if (line.rfind("T ", 0) == 0) lines.push_back(line.substr(2));
        return line.rfind("S ", 0) == 0 ? std::atoi(line.c_str() + 2) : -1;
    }

    // Closes its input, so the helper quits; its exit status: 0 unless it
    // failed or a sanitizer found a fault in it.
    int stop() {
        int status = -1;
        if (in_ >= 0) close(in_);
        if (pid_ > 0 && waitpid(pid_, &status, 0) == pid_) status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (out_) std::fclose(out_);
        in_ = pid_ = -1;
        out_ = nullptr;
        return status;
    }

    const std::string &path() const { return path_; }
    Strings lines;

private:
    // Blocking: a helper that hangs is ended by the test's time limit.
    bool readLine(std::string &line) {
        char buffer[8192];
        line.clear();
        if (!out_ || !std::fgets(buffer, sizeof buffer, out_)) return false;
        line.assign(buffer, std::strcspn(buffer, "\n"));
        return true;
    }

    pid_t pid_ = -1;
    int in_ = -1;
    FILE *out_ = nullptr;
    std::string path_;
};

// The provider (with its trace collected), host A in this process, host B
// in a helper process, and the observing initiator.
class RealTargetFlows : public pgr_test::ProviderFixture {
protected:
    void attach(const std::string &url) {
        url_ = url;
        std::string error;
        hostA_->setInitiator(hostA());
        pathA_ = hostA_->addDisk(rendo_sim::DiskSpec::make("RENDO", "VDISK", "0001").iscsi(url)).devicePath();
        ASSERT_TRUE(other_.start(url, &error)) << error;
        pathB_ = other_.path();
        observer_ = rendo_sim::openIscsiBackend(url, identity("observer", 0x0c), &error);
        ASSERT_TRUE(observer_) << error;
    }

    int reserve(char host, const std::string &key, int flags) { return run(host, "reserve", key, flags); }
    int release(char host, const std::string &key, int flags) { return run(host, "release", key, flags); }

    int run(char host, const std::string &verb, const std::string &key, int flags) {
        if (host == 'B') return other_.call(verb, key, flags);
        rendo_sim::ScopedHost use(hostA_);
        return verb == "reserve" ? provider->diskReserve(pathA_, key, flags)
                                 : provider->diskRelease(pathA_, key, flags);
    }

    bool tracedByB(const std::string &line) {
        return std::find(other_.lines.begin(), other_.lines.end(), line) != other_.lines.end();
    }

    // What the target holds, read by the observer, an initiator that never
    // registers and so never meets a unit attention.
    void expectHeld(const Strings &keys, const std::string &holder, const char *step) {
        SCOPED_TRACE(step);
        pgr_test::expectHeld(pgr_test::look(observed_, observer_.get()), keys, holder);
    }

    std::shared_ptr<rendo_sim::Host> hostA_ = rendo_sim::Host::create("HOSTA");
    void TearDown() override {
        EXPECT_EQ(0, other_.stop()) << "host B's process failed";
        pgr_test::ProviderFixture::TearDown();
    }

    HostProcess other_;
    std::string url_, pathA_, pathB_;
    std::shared_ptr<rendo_sim::DiskBackend> observer_;
    rendo_sim::Disk observed_{rendo_sim::DiskSpec::make("RENDO", "VDISK", "0001")};  // forwards to observer_
};

// ------------------------------------------------------------------- tgtd

class TgtdReservation : public RealTargetFlows {
protected:
    void SetUp() override {
        RealTargetFlows::SetUp();
        std::string error;
        ASSERT_TRUE(tgtd_.start(&error)) << error;
        std::string iqn = tgtd_.addTarget("pgr", &error);
        ASSERT_TRUE(!iqn.empty() && tgtd_.addLogicalUnit(iqn, 1, LogicalUnitSpec{}, &error)) << error;
        attach(tgtd_.url(iqn, 1));
    }
    TgtdTarget tgtd_;
};

TEST_F(TgtdReservation, EveryStepTgtdImplements) {
    // A registers and reserves.
    EXPECT_EQ(0, reserve('A', kA, kRegister));
    expectHeld({kA}, kA, "A reserved");

    // B may not preempt: 1099, and its fresh registration goes again.
    EXPECT_EQ(1099, reserve('B', kB, kRegister));
    EXPECT_TRUE(tracedByB("Could not reserve the disk as the disk is already reserved by key [" + kA +
                          "]But the preempt flag is not set."));
    expectHeld({kA}, kA, "B refused without preemption");

    // tgtd does not implement PREEMPT AND ABORT (SPC-3 makes it mandatory
    // with persistent reservations) and refuses it (error [3]: status not GOOD),
    // so B's preemption fails: 1098, and the registration B made at the
    // start of the call goes again: B is no registrant under A's
    // registrants-only reservation.
    EXPECT_EQ(1098, reserve('B', kB, kRegister | kPreempt));
    EXPECT_TRUE(tracedByB("Failed to preempt disk [" + pathB_ + "] with error [3]."));
    expectHeld({kA}, kA, "B's preemption refused");

    // B's release finds A holding it: 1097; verifying first: 1100.
    EXPECT_EQ(1097, release('B', kB, kRelease | kRegister));
    EXPECT_TRUE(tracedByB("Some other host has reservation on the device [" + pathB_ + "] with key [" + kA + "]"));
    EXPECT_EQ(1100, release('B', kB, kVerify | kRelease));
    EXPECT_TRUE(tracedByB("No reservation found for host on device [" + pathB_ + "] with key [" + kB + "]"));
    expectHeld({kA}, kA, "B's releases refused");

    // A verifies, releases and unregisters; verifying again: 1100.
    EXPECT_EQ(0, release('A', kA, kVerify | kRelease | kRegister));
    expectHeld({}, "", "A released");
    EXPECT_EQ(1100, release('A', kA, kVerify));
    EXPECT_TRUE(traced("No reservation found for host on device [" + pathA_ + "] with key [" + kA + "]"));

    // B, with no reservation to release, removes its registration: nothing left.
    EXPECT_EQ(0, release('B', kB, kRelease | kRegister));
    expectHeld({}, "", "B unregistered");
}

// ------------------------------------------------------------------ istgt

class IstgtReservation : public RealTargetFlows {
protected:
    void SetUp() override {
        RealTargetFlows::SetUp();
        std::string error;
        ASSERT_TRUE(istgt_.start("pgr", &error)) << error;
        attach(istgt_.url(istgt_.iqn("pgr"), 0));
    }
    IstgtTarget istgt_;
};

TEST_F(IstgtReservation, PreemptAndAbortHandsTheReservationToB) {
    EXPECT_EQ(0, reserve('A', kA, kRegister));
    expectHeld({kA}, kA, "A reserved");
    EXPECT_EQ(1099, reserve('B', kB, kRegister));
    expectHeld({kA}, kA, "B refused without preemption");

    // PREEMPT AND ABORT of A's key, then B registers again.
    EXPECT_EQ(0, reserve('B', kB, kRegister | kPreempt));
    EXPECT_TRUE(tracedByB("Successfully preempted the reservation on the disk [" + pathB_ + "]."));
    // istgt 0.4 (20111008) departs from SPC-3 after PREEMPT AND ABORT: READ
    // KEYS then lists the victim's key alone, and the nexus that record
    // belongs to is B's, not A's: istgt removes A's registration but writes
    // the victim's key over B's. The flows' registration "just in
    // case" after a preemption sets B's record back to B's key, so the
    // outcome is the one SPC-3 gives: B holds, B alone is registered.
    expectHeld({kB}, kB, "B preempted");
    std::string error;
    auto a = rendo_sim::openIscsiBackend(url_, hostA(), &error);
    ASSERT_TRUE(a) << error;
    std::vector<uint8_t> block(512, 0x33);
    EXPECT_EQ(kReservationConflict, runCdb(*a, rw10Cdb(0x2A, 0, 1), DataDirection::Out, block).status);

    // A's release finds B holding it: 1097; B releases and unregisters.
    EXPECT_EQ(1097, release('A', kA, kRelease | kRegister));
    EXPECT_TRUE(traced("Some other host has reservation on the device [" + pathA_ + "] with key [" + kB + "]"));
    expectHeld({kB}, kB, "A's release refused");
    EXPECT_EQ(0, release('B', kB, kVerify | kRelease | kRegister));
    expectHeld({}, "", "B released and unregistered");
}

}  // namespace
