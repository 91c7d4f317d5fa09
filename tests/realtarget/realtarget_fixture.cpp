#include "realtarget_fixture.h"

#include "scsitool/scsi_bytes.h"
#include "test_env.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace rendo_realtarget {
namespace {

sockaddr_in loopback(uint16_t port) { return sockaddr_in{AF_INET, htons(port), {htonl(INADDR_LOOPBACK)}, {}}; }

bool portAccepts(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(port);
    bool ok = fd >= 0 && connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    if (fd >= 0) close(fd);
    return ok;
}

// Where Debian's packages "tgt" and "istgt" install the daemons.
const std::string kTgtd = "/usr/sbin/tgtd", kTgtadm = "/usr/sbin/tgtadm", kIstgt = "/usr/sbin/istgt";

int g_unitCounter = 0;

}  // namespace

int loopbackListener(uint16_t *port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = loopback(0);
    socklen_t len = sizeof a;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 && listen(fd, 4) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) == 0) {
        *port = ntohs(a.sin_port);
        return fd;
    }
    if (fd >= 0) close(fd);
    return -1;
}

uint16_t freeLoopbackPort() {
    uint16_t port = 0;
    int fd = loopbackListener(&port);
    if (fd >= 0) close(fd);
    return port;
}

int runProgram(const std::vector<std::string> &argv, std::string *output, int timeoutMs) {
    // coreutils' timeout bounds the run; it exits 124 when it strikes. Our
    // arguments hold no quotes.
    std::string command = "/usr/bin/timeout -s KILL " + std::to_string(timeoutMs / 1000.0);
    for (const auto &a : argv) command += " '" + a + "'";
    FILE *pipe = argv.empty() ? nullptr : popen((command + " 2>&1").c_str(), "re");
    if (!pipe) return -1;
    std::string out;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
    int status = pclose(pipe);
    if (output) *output = out;
    return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) != 124 ? WEXITSTATUS(status) : -1;
}

// ---------------------------------------------------------------- DaemonBase

DaemonBase::~DaemonBase() {
    stop();
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
}

std::string DaemonBase::url(const std::string &iqn, uint32_t lun) const {
    return "iscsi://" + portal() + "/" + iqn + "/" + std::to_string(lun);
}

bool DaemonBase::running() {
    if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;
    return pid_ > 0;
}

bool DaemonBase::launch(const std::function<bool(std::vector<std::string> &, std::string *)> &prepare,
                        const std::function<bool()> &ready, std::string *error) {
    char tmpl[] = "/tmp/rendo-realtarget-XXXXXX";
    if (!mkdtemp(tmpl))
        return *error = std::string("cannot create a temporary directory: ") + std::strerror(errno), false;
    dir_ = tmpl;
    const std::string logPath = dir_ + "/daemon.log";
    // A port taken by someone else in the meantime makes the daemon exit: retry.
    for (int attempt = 0; attempt < 3; ++attempt) {
        port_ = freeLoopbackPort();
        std::vector<std::string> argv;
        if (!prepare(argv, error)) return false;
        if (access(argv[0].c_str(), X_OK) != 0) {
            *error = argv[0] + " not found: install the Debian packages \"tgt\" and \"istgt\" (scripts/setup.sh does)";
            return false;
        }
        std::vector<char *> args;
        for (auto &a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        pid_t parent = getpid();
        if ((pid_ = fork()) < 0) return *error = std::string("fork failed: ") + std::strerror(errno), false;
        if (pid_ == 0) {
            // The daemon must not outlive a test that crashes.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent) _exit(1);
            int fd = open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644), null = open("/dev/null", O_RDONLY);
            dup2(fd, 1);
            dup2(fd, 2);
            dup2(null, 0);
            setpgid(0, 0);
            execv(args[0], args.data());
            _exit(127);
        }
        for (int waited = 0; waited < 500 && running(); ++waited, usleep(10000))
            if (portAccepts(port_) && ready()) return true;
        *error = "the target daemon did not come up on " + portal() + "; its output:\n" + rendo_test::readFile(logPath);
        stop();
    }
    return false;
}

bool DaemonBase::makeBackingFile(const std::string &name, uint64_t size, std::string *path, std::string *error) {
    *path = dir_ + "/" + name;
    std::error_code ec;
    std::ofstream(*path).close();
    std::filesystem::resize_file(*path, size, ec);  // sparse
    if (ec) *error = "cannot create backing file " + *path + ": " + ec.message();
    return !ec;
}

// Both daemons wait for their sessions to end before they leave (tgtd
// ignores SIGTERM altogether): kill.
void DaemonBase::stop() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    pid_ = -1;
}

// ---------------------------------------------------------------- tgtd

bool TgtdTarget::start(std::string *error) {
    auto prepare = [&](std::vector<std::string> &argv, std::string *) {
        // tgtd accepts control ports up to 32767; 0 and low ones are for real use.
        control_ = 1000 + static_cast<int>((static_cast<unsigned>(getpid()) * 7919u + port_) % 31000u);
        argv = {kTgtd, "-f", "--iscsi", "portal=" + portal(), "-C", std::to_string(control_)};
        return true;
    };
    auto ready = [this] { return tgtadm({"--op", "show", "--mode", "system"}, nullptr, nullptr); };
    return launch(prepare, ready, error);
}

bool TgtdTarget::tgtadm(const std::vector<std::string> &args, std::string *output, std::string *error) {
    std::vector<std::string> argv = {kTgtadm, "-C", std::to_string(control_)};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string out;
    int rc = runProgram(argv, &out);
    if (output) *output = out;
    if (rc != 0 && error) {
        *error = "tgtadm";
        for (const auto &a : args) *error += " " + a;
        *error += " failed (" + std::to_string(rc) + "): " + out;
    }
    return rc == 0;
}

std::string TgtdTarget::addTarget(const std::string &name, std::string *error) {
    std::string tid = std::to_string(targets_.size() + 1);
    std::string iqn = "iqn.2026-12.org.rendo.test:" + name;
    if (!tgtadm({"--lld", "iscsi", "--mode", "target", "--op", "new", "--tid", tid, "--targetname", iqn}, nullptr,
                error))
        return {};
    targets_[iqn] = std::stoi(tid);
    if (!tgtadm({"--lld", "iscsi", "--mode", "target", "--op", "bind", "--tid", tid, "--initiator-address", "ALL"},
                nullptr, error))
        return {};
    return iqn;
}

int TgtdTarget::dropConnections(const std::string &iqn, std::string *error) {
    int tid = targets_.count(iqn) ? targets_.at(iqn) : 0;
    std::string out;
    if (tid == 0 || !tgtadm({"--lld", "iscsi", "--mode", "target", "--op", "show"}, &out, error)) return -1;
    // "Target <tid>: <iqn>" opens a section; in it, "I_T nexus: <sid>"
    // lines are each followed by their "Connection: <cid>" lines.
    int closed = 0;
    bool ours = false;
    std::istringstream lines(out);
    std::string line, sid;
    while (std::getline(lines, line)) {
        size_t at;
        if (line.compare(0, 7, "Target ") == 0) {
            ours = line.compare(7, std::string::npos, std::to_string(tid) + ": " + iqn) == 0;
            sid.clear();
        } else if (ours && (at = line.find("I_T nexus: ")) != std::string::npos) {
            sid = line.substr(at + 11);
        } else if (ours && (at = line.find("Connection: ")) != std::string::npos && !sid.empty()) {
            if (!tgtadm({"--lld", "iscsi", "--mode", "conn", "--op", "delete", "--tid", std::to_string(tid), "--sid",
                         sid, "--cid", line.substr(at + 12)},
                        nullptr, error))
                return -1;
            ++closed;
        }
    }
    return closed;
}

bool TgtdTarget::addLogicalUnit(const std::string &iqn, uint32_t lun, const LogicalUnitSpec &desc, std::string *error) {
    const int tid = targets_.at(iqn);
    // Without scsi_id and scsi_sn tgtd derives identifiers that repeat
    // across targets; always give every unit its own.
    int n = ++g_unitCounter;
    std::string scsiId = desc.scsiId.empty() ? "rendo-" + std::to_string(tid) + "-" + std::to_string(lun) : desc.scsiId;
    std::string serial = desc.serial.empty() ? "RSN" + std::to_string(getpid()) + "x" + std::to_string(n) : desc.serial;
    std::string path;
    auto unit = [&](std::vector<std::string> op) {
        op.insert(op.begin(), {"--lld", "iscsi", "--mode", "logicalunit", "--tid", std::to_string(tid), "--lun",
                               std::to_string(lun), "--op"});
        return op;
    };
    return makeBackingFile("t" + std::to_string(tid) + "-lun" + std::to_string(lun) + ".img", desc.sizeBytes, &path,
                           error) &&
           tgtadm(unit({"new", "--backing-store", path}), nullptr, error) &&
           tgtadm(unit({"update", "--params",
                        "vendor_id=" + desc.vendor + ",product_id=" + desc.product + ",product_rev=" + desc.revision +
                            ",scsi_id=" + scsiId + ",scsi_sn=" + serial}),
                  nullptr, error);
}

// ---------------------------------------------------------------- istgt

bool IstgtTarget::start(const std::string &name, std::string *error) {
    auto prepare = [&](std::vector<std::string> &argv, std::string *error) {
        const LogicalUnitSpec desc;
        std::string path;
        if (!makeBackingFile(name + ".img", desc.sizeBytes, &path, error)) return false;
        std::ofstream(dir_ + "/auth.conf").close();
        std::ofstream(dir_ + "/istgt.conf")
            << "[Global]\n  NodeBase \"iqn.2026-12.org.rendo.istgt\"\n"
            << "  PidFile " << dir_ << "/istgt.pid\n  AuthFile " << dir_ << "/auth.conf\n"
            << "  MediaDirectory " << dir_ << "\n  LogFacility \"local7\"\n"
            << "  Timeout 30\n  NopInInterval 20\n  DiscoveryAuthMethod None\n  MaxSessions 16\n  MaxConnections 4\n"
            << "  FirstBurstLength 262144\n  MaxBurstLength 1048576\n  MaxRecvDataSegmentLength 262144\n"
            << "[UnitControl]\n  AuthMethod None\n"
            << "[PortalGroup1]\n  Portal DA1 " << portal() << "\n"
            << "[InitiatorGroup1]\n  InitiatorName \"ALL\"\n  Netmask 127.0.0.1/32\n"
            << "[LogicalUnit1]\n  TargetName " << name << "\n"
            << "  Mapping PortalGroup1 InitiatorGroup1\n  AuthMethod None\n  UseDigest Auto\n  UnitType Disk\n"
            << "  UnitInquiry \"" << desc.vendor << "\" \"" << desc.product << "\" \"" << desc.revision << "\" \"ISN"
            << getpid() << "\"\n  LUN0 Storage " << path << " " << (desc.sizeBytes >> 20) << "MB\n";
        argv = {kIstgt, "-c", dir_ + "/istgt.conf", "-p", dir_ + "/istgt.pid", "-D"};
        return true;
    };
    auto ready = [] { return true; };
    return launch(prepare, ready, error);
}

// ---------------------------------------------------------------- helpers

rendo_sim::InitiatorIdentity identity(const std::string &name, uint8_t tag) {
    return {"iqn.2026-12.org.rendo:" + name, {0x80, 0x00, 0x00, tag, 0x00, 0x01}};
}

rendo_sim::ScsiResult runCdb(rendo_sim::DiskBackend &disk, const std::vector<uint8_t> &cdb,
                             rendo_sim::DataDirection direction, std::vector<uint8_t> &data) {
    const rendo_sim::ScsiRequest request{cdb.data(),  cdb.size(), direction, data.empty() ? nullptr : data.data(),
                                         data.size(), 10};
    rendo_sim::ScsiResult result = disk.execute(request);
    if (direction == rendo_sim::DataDirection::In) data.resize(std::min(data.size(), result.dataTransferred));
    return result;
}

rendo_sim::ScsiResult prOut(rendo_sim::DiskBackend &disk, uint8_t action, uint8_t type, uint64_t key,
                            uint64_t serviceActionKey) {
    std::vector<uint8_t> params(24, 0);
    StoreBe64(&params[0], key);
    StoreBe64(&params[8], serviceActionKey);
    return runCdb(disk, {0x5F, action, type, 0, 0, 0, 0, 0, 24, 0}, rendo_sim::DataDirection::Out, params);
}

}  // namespace rendo_realtarget
