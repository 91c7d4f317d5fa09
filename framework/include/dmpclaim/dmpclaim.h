// The multipath claim library: decides whether multipath software claims a
// device path, at which level, and how partition names map to disk names.
//
// This is the stand-in that ships with the provider. Its one module,
// CNativePathClaim, knows plain native disk paths:
//
//   disk path       \\.\PHYSICALDRIVE<n>            n: decimal digits
//   partition name  <disk path>\PARTITION<p>        p: decimal, 0 to 4294967295
//
// Both are matched without regard to letter case; appendPartitionSuffix
// writes the suffix in upper case, as disk paths are. So
//   removePartitionSuffix(appendPartitionSuffix(d, p), q) == d and q == p
// for every disk path d, and isPartition is true exactly for the names
// removePartitionSuffix takes a suffix from.
//
// Claim levels: 0 means no multipath software claims the path; higher wins
// among the paths of one LUN. A disk path, and every partition of it, is
// claimed at the level the host gives that path (the simulated host's
// per-path level), 1 when the host does not know the path. Anything else
// is not claimed.
#ifndef FRAMEWORK_DMPCLAIM_DMPCLAIM_H
#define FRAMEWORK_DMPCLAIM_DMPCLAIM_H

#include "pdk/cfibase.h"

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// One kind of device naming the claim library understands.
class CDmpDeviceClaimBase : public virtual kelm_pdk_4_4::CFiTraceable {
public:
    CDmpDeviceClaimBase();
    ~CDmpDeviceClaimBase() override;

    virtual void registerTraceLog(const kelm_pdk_4_4::CFiTraceLogPtr &log);
    // Name prefixes this module looks at.
    virtual std::vector<std::string> getDeviceClaimStrings() = 0;
    // Claim level of a device path or partition name; 0 = not claimed.
    virtual uint32_t claim(const std::string &devicePath) = 0;
    virtual bool isPartition(const std::string &deviceName) = 0;
    // The partition name of partition `partition` of a disk; "" when the
    // module does not know the disk name.
    virtual std::string appendPartitionSuffix(const std::string &deviceName, uint32_t partition) = 0;
    // The disk name of a partition name, with its partition number. A name
    // without a partition suffix comes back unchanged with number 0.
    virtual std::string removePartitionSuffix(const std::string &partitionName, uint32_t &partition) = 0;
};

// Plain native disk paths (see the top of this file).
class CNativePathClaim : public CDmpDeviceClaimBase {
public:
    CNativePathClaim();
    ~CNativePathClaim() override;

    std::vector<std::string> getDeviceClaimStrings() override;
    uint32_t claim(const std::string &devicePath) override;
    bool isPartition(const std::string &deviceName) override;
    std::string appendPartitionSuffix(const std::string &deviceName, uint32_t partition) override;
    std::string removePartitionSuffix(const std::string &partitionName, uint32_t &partition) override;

    static const char kDiskPrefix[];       // "\\.\PHYSICALDRIVE"
    static const char kPartitionSuffix[];  // "\PARTITION"
    // True for "\\.\PHYSICALDRIVE<digits>" (any letter case).
    static bool isDiskPath(const std::string &name);
    // Splits "<disk path>\PARTITION<digits>"; false for anything else.
    static bool splitPartition(const std::string &name, std::string &disk, uint32_t &partition);
};

// The library's entry object. Owns its claim modules; the constructor
// registers a CNativePathClaim. Safe to use from several threads.
class CDmpClaimManager : public virtual kelm_pdk_4_4::CFiTraceable {
public:
    CDmpClaimManager();
    virtual ~CDmpClaimManager();
    CDmpClaimManager(const CDmpClaimManager &) = delete;
    CDmpClaimManager &operator=(const CDmpClaimManager &) = delete;

    // Keeps the log and hands it to every claim module.
    virtual void registerTraceLog(const kelm_pdk_4_4::CFiTraceLogPtr &log);
    // Takes ownership; a null module is ignored.
    void registerClaimModule(CDmpDeviceClaimBase *module);
    // The claim strings of every module, in registration order.
    std::vector<std::string> getDeviceClaimStrings();
    // The highest level any module gives the path; 0 = not claimed.
    uint32_t claim(const std::string &devicePath);
    bool isPartition(const std::string &deviceName);
    // The first module's non-empty answer; "" when no module knows the disk.
    std::string appendPartitionSuffix(const std::string &deviceName, uint32_t partition);
    // The first module that finds a partition suffix answers; otherwise the
    // name comes back unchanged with partition number 0.
    std::string removePartitionSuffix(const std::string &partitionName, uint32_t &partition);

private:
    std::mutex m_modulesLock;
    std::vector<CDmpDeviceClaimBase *> m_modules;
};

#endif // FRAMEWORK_DMPCLAIM_DMPCLAIM_H
