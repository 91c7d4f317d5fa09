// The simulated host's internals, shared by the sources that implement it:
// the device tree (sim_devtree.cpp), the Configuration Manager and SetupAPI
// calls (sim_setupapi.cpp), device handles and IOCTLs (sim_ioctl.cpp), the
// clock (sim_clock.cpp), fault injection (sim_faults.cpp) and the control
// API with the choice of the current host (sim_host.cpp).
#ifndef PLATFORM_SIM_HOST_IMPL_H
#define PLATFORM_SIM_HOST_IMPL_H

#include "sim_internal.h"

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace rendo_sim {

struct Node {
    uint32_t devInst = 0;
    uint32_t parent = 0;
    std::string instanceId;
    std::string classGuid;   // empty: none
    std::string className;
    std::string location;
    std::string description;
    std::string hardwareId;
    Lun *lun = nullptr;
    int port = -1;           // adapters
};

struct Adapter {
    uint8_t port = 0;
    uint32_t alignmentMask = 0;
    bool iscsi = false;
    uint32_t devInst = 0;
    unsigned rescans = 0;
};

struct Host::Impl {
    mutable std::mutex mutex;
    std::weak_ptr<Host> self;
    std::string computerName;
    InitiatorIdentity who;
    std::map<uint8_t, Adapter> adapters;
    std::vector<std::unique_ptr<Lun>> luns;
    unsigned nextLunId = 1;
    std::map<unsigned, Lun *> timed;   // Luns given a time to appear at, by id (creation order); settle() scans these
    std::vector<std::pair<std::string, std::string>> dosNames;
    std::map<uint32_t, Node> nodes;
    // Upper-cased instance IDs to their nodes, for CM_Locate_DevNode; equal
    // IDs keep the order of their (ever growing) device instances.
    std::multimap<std::string, uint32_t> byInstanceId;
    uint32_t nextDevInst = 1;
    unsigned rootRescans = 0;
    uint64_t rootDelayMs = 0;
    std::vector<uint64_t> pendingRoot;   // due times of asynchronous root re-enumerations
    bool rebootOnRemove = false;
    std::vector<std::string> removedIds;
    std::vector<RemovalRecord> removals;
    unsigned openSets = 0;   // device information sets not yet destroyed
    std::map<std::string, std::pair<uint32_t, int>> callFaults;
    bool virtualClock = false;
    uint64_t virtualNow = 0;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::vector<uint32_t> sleeps;
    std::map<const Disk *, std::shared_ptr<DiskBackend>> backends;
    // Present Luns by drive number (null: free) and the free numbers below
    // drives.size(), so that numbering a Lun and finding one by name do not
    // walk every Lun of a large host.
    std::vector<Lun *> drives;
    std::set<size_t> freeDrives;

    // The present Lun named "PHYSICALDRIVEn" (upper-cased, no leading zero).
    Lun *drive(const std::string &name) const;

    uint64_t now() const;
    uint32_t addNode(Node n);
    void eraseNode(uint32_t devInst);
    Adapter &adapter(uint8_t port);
    void makePresent(Lun &l);
    void makeGone(Lun &l);
    // Whether a path that is not present comes (back) now.
    void consider(Lun &l, bool rescan);
    // Presents a path whose time has come; an appear* scenario's appearance
    // is recorded on the SAN.
    void appear(Lun &l);
    void rescanPort(uint8_t port);
    void rescanRoot();
    // Lets asynchronous and timed events that are due take effect.
    void settle();
    // The SAN's masking record for a path (sim_devtree.cpp): a path masked
    // with no appearance scenario of its own comes when the array presents
    // the unit; a present one goes when the array masks it.
    void followSanMasking(Lun &l);
    // A scripted failure of `function`: its code, or 0 when none is due.
    uint32_t callFault(const char *function);
    DiskBackend *backendFor(const Disk &disk, std::string *error);
};

// Access for the Windows functions, which are no members of Host.
struct HostAccess {
    static Host::Impl &impl(Host &h) { return h.impl(); }
};

namespace detail {
inline bool fail(DWORD error) {
    SetLastError(error);
    return false;
}
inline std::shared_ptr<Host> hostNow() { return currentHost(); }
} // namespace detail

} // namespace rendo_sim

#endif
