// Private real iSCSI targets for tests: a tgtd or an istgt of our own on a
// loopback port chosen at run time, logical units backed by small files in a
// temporary directory, everything stopped and removed afterwards. The target
// daemons die with the test process, even if it crashes.
//
//   TgtdTarget tgtd;
//   ASSERT_TRUE(tgtd.start(&error)) << error;
//   std::string iqn = tgtd.addTarget("disks", &error);
//   ASSERT_TRUE(tgtd.addLogicalUnit(iqn, 1, LogicalUnitSpec{}, &error)) << error;
//   auto disk = rendo_sim::openIscsiBackend(tgtd.url(iqn, 1), hostA(), &error);
//
// A missing or failing daemon is an error with a message saying what is
// missing: the setup script installs both, so tests fail rather than skip.
#ifndef RENDO_REALTARGET_FIXTURE_H
#define RENDO_REALTARGET_FIXTURE_H

#include "platform/disk_backend.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace rendo_realtarget {

// Strings go to tgtadm "--params a=b,...": no commas, equals signs or blanks.
struct LogicalUnitSpec {
    std::string vendor = "RENDO";   // at most 8 characters
    std::string product = "VDISK";  // at most 16
    std::string revision = "0001";  // at most 4
    std::string scsiId;             // tgtd: designator of VPD 0x83; empty: generated, unique
    std::string serial;             // VPD 0x80; empty: generated, unique
    uint64_t sizeBytes = 8u << 20;
};

// A loopback TCP port nobody listens on at the time of the call.
uint16_t freeLoopbackPort();
// A socket listening on a free loopback port (*port) that nobody answers; -1
// on failure.
int loopbackListener(uint16_t *port);

// Runs argv (no quotes in it) for at most timeoutMs; output gets stdout and
// stderr. The exit status, or -1 when it could not run or timed out.
int runProgram(const std::vector<std::string> &argv, std::string *output, int timeoutMs = 5000);

// Owns a temporary directory and a daemon child process.
class DaemonBase {
public:
    DaemonBase() = default;
    DaemonBase(const DaemonBase &) = delete;
    DaemonBase &operator=(const DaemonBase &) = delete;
    virtual ~DaemonBase();
    // Kills the daemon and waits for it: the target is gone at once.
    void stop();

    std::string portal() const { return "127.0.0.1:" + std::to_string(port_); }
    std::string url(const std::string &iqn, uint32_t lun) const;

protected:
    bool running();
    // Makes the directory, then up to 3 times: a free port, prepare()
    // (configuration and the command line), start, and wait until the portal
    // accepts connections and ready() holds.
    bool launch(const std::function<bool(std::vector<std::string> &, std::string *)> &prepare,
                const std::function<bool()> &ready, std::string *error);
    bool makeBackingFile(const std::string &name, uint64_t size, std::string *path, std::string *error);

    pid_t pid_ = -1;
    uint16_t port_ = 0;
    std::string dir_;
};

class TgtdTarget : public DaemonBase {
public:
    bool start(std::string *error);

    // New target "iqn.2026-12.org.rendo.test:<name>" open to every
    // initiator; returns its IQN, or empty with *error.
    std::string addTarget(const std::string &name, std::string *error);
    // Logical unit with its vendor, product, revision, scsi_id and serial set.
    bool addLogicalUnit(const std::string &iqn, uint32_t lun, const LogicalUnitSpec &desc, std::string *error);
    // Closes every connection to the target from tgtd's side, as a target
    // that drops its sessions would; returns how many it closed, -1 on error.
    int dropConnections(const std::string &iqn, std::string *error);
    // tgtadm against this daemon's control port; true when it exits 0.
    bool tgtadm(const std::vector<std::string> &args, std::string *output, std::string *error);

private:
    int control_ = 0;
    std::map<std::string, int> targets_;  // IQN to tid
};

class IstgtTarget : public DaemonBase {
public:
    // Writes the configuration and starts istgt with one default unit, LUN 0
    // of target name (under the node base).
    bool start(const std::string &name, std::string *error);
    std::string iqn(const std::string &name) const { return "iqn.2026-12.org.rendo.istgt:" + name; }
};

// Initiator "iqn.2026-12.org.rendo:<name>" with ISID 80 00 00 <tag> 00 01;
// the two simulated hosts are "host-a" (0x0a) and "host-b" (0x0b).
rendo_sim::InitiatorIdentity identity(const std::string &name, uint8_t tag);
inline rendo_sim::InitiatorIdentity hostA() { return identity("host-a", 0x0a); }
inline rendo_sim::InitiatorIdentity hostB() { return identity("host-b", 0x0b); }

// Sends one CDB through a backend; data is resized to what was transferred.
rendo_sim::ScsiResult runCdb(rendo_sim::DiskBackend &disk, const std::vector<uint8_t> &cdb,
                             rendo_sim::DataDirection direction, std::vector<uint8_t> &data);
// PERSISTENT RESERVE OUT with its 24-byte parameter list.
rendo_sim::ScsiResult prOut(rendo_sim::DiskBackend &disk, uint8_t action, uint8_t type, uint64_t key,
                            uint64_t serviceActionKey);

}  // namespace rendo_realtarget

#endif  // RENDO_REALTARGET_FIXTURE_H
