// The multipath claim library stand-in: native disk paths and their
// partition names (the forms are documented in dmpclaim.h).
#include "dmpclaim/dmpclaim.h"

#include "platform/simhost.h"

#include <cctype>
#include <limits>

using kelm_pdk_4_4::CFiTraceLogPtr;

namespace {

// Case-insensitive prefix test of ASCII text.
bool startsWithNoCase(const std::string &text, size_t at, const char *prefix) {
    for (size_t i = 0; prefix[i] != '\0'; ++i) {
        if (at + i >= text.size()) return false;
        if (std::toupper(static_cast<unsigned char>(text[at + i])) != std::toupper(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

// Decimal digits from `at` to the end that fit in 32 bits.
bool parseNumber(const std::string &text, size_t at, uint32_t &value) {
    if (at >= text.size()) return false;
    uint64_t v = 0;
    for (size_t i = at; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (!std::isdigit(c)) return false;
        v = v * 10 + (c - '0');
        if (v > std::numeric_limits<uint32_t>::max()) return false;
    }
    value = static_cast<uint32_t>(v);
    return true;
}

} // namespace

// ------------------------------------------------------------ claim modules

CDmpDeviceClaimBase::CDmpDeviceClaimBase() = default;
CDmpDeviceClaimBase::~CDmpDeviceClaimBase() = default;

void CDmpDeviceClaimBase::registerTraceLog(const CFiTraceLogPtr &log) { setTraceLog(log); }

const char CNativePathClaim::kDiskPrefix[] = "\\\\.\\PHYSICALDRIVE";
const char CNativePathClaim::kPartitionSuffix[] = "\\PARTITION";

CNativePathClaim::CNativePathClaim() = default;
CNativePathClaim::~CNativePathClaim() = default;

bool CNativePathClaim::isDiskPath(const std::string &name) {
    static const size_t prefixLength = sizeof kDiskPrefix - 1;
    if (!startsWithNoCase(name, 0, kDiskPrefix)) return false;
    // A drive number is digits only; it need not fit any width, but keep it sane.
    if (name.size() == prefixLength || name.size() > prefixLength + 10) return false;
    for (size_t i = prefixLength; i < name.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return false;
    return true;
}

bool CNativePathClaim::splitPartition(const std::string &name, std::string &disk, uint32_t &partition) {
    static const size_t suffixLength = sizeof kPartitionSuffix - 1;
    // The disk path holds no backslash after its prefix, so the suffix starts
    // at the last one.
    size_t slash = name.rfind('\\');
    if (slash == std::string::npos || !startsWithNoCase(name, slash, kPartitionSuffix)) return false;
    uint32_t number = 0;
    if (!parseNumber(name, slash + suffixLength, number)) return false;
    std::string head = name.substr(0, slash);
    if (!isDiskPath(head)) return false;
    disk = head;
    partition = number;
    return true;
}

std::vector<std::string> CNativePathClaim::getDeviceClaimStrings() { return {kDiskPrefix}; }

uint32_t CNativePathClaim::claim(const std::string &devicePath) {
    std::string disk = devicePath;
    uint32_t partition = 0;
    if (!isDiskPath(disk) && !splitPartition(devicePath, disk, partition)) return 0;
    uint32_t level = rendo_sim::currentHost()->claimLevelOf(disk, 1);
    trace(5, "CNativePathClaim::claim [%s] level [%u]", devicePath.c_str(), level);
    return level;
}

bool CNativePathClaim::isPartition(const std::string &deviceName) {
    std::string disk;
    uint32_t partition = 0;
    return splitPartition(deviceName, disk, partition);
}

std::string CNativePathClaim::appendPartitionSuffix(const std::string &deviceName, uint32_t partition) {
    if (!isDiskPath(deviceName)) return std::string();
    return deviceName + kPartitionSuffix + std::to_string(partition);
}

std::string CNativePathClaim::removePartitionSuffix(const std::string &partitionName, uint32_t &partition) {
    std::string disk;
    uint32_t number = 0;
    if (splitPartition(partitionName, disk, number)) {
        partition = number;
        return disk;
    }
    partition = 0;
    return partitionName;
}

// ------------------------------------------------------------------ manager

CDmpClaimManager::CDmpClaimManager() { m_modules.push_back(new CNativePathClaim); }

CDmpClaimManager::~CDmpClaimManager() {
    for (CDmpDeviceClaimBase *m : m_modules) delete m;
}

void CDmpClaimManager::registerTraceLog(const CFiTraceLogPtr &log) {
    setTraceLog(log);
    std::lock_guard<std::mutex> g(m_modulesLock);
    for (CDmpDeviceClaimBase *m : m_modules) m->registerTraceLog(log);
}

void CDmpClaimManager::registerClaimModule(CDmpDeviceClaimBase *module) {
    if (module == nullptr) return;
    module->registerTraceLog(traceLog());
    std::lock_guard<std::mutex> g(m_modulesLock);
    m_modules.push_back(module);
}

std::vector<std::string> CDmpClaimManager::getDeviceClaimStrings() {
    std::lock_guard<std::mutex> g(m_modulesLock);
    std::vector<std::string> out;
    for (CDmpDeviceClaimBase *m : m_modules)
        for (std::string &s : m->getDeviceClaimStrings()) out.push_back(std::move(s));
    return out;
}

uint32_t CDmpClaimManager::claim(const std::string &devicePath) {
    std::lock_guard<std::mutex> g(m_modulesLock);
    uint32_t best = 0;
    for (CDmpDeviceClaimBase *m : m_modules) {
        uint32_t level = m->claim(devicePath);
        if (level > best) best = level;
    }
    return best;
}

bool CDmpClaimManager::isPartition(const std::string &deviceName) {
    std::lock_guard<std::mutex> g(m_modulesLock);
    for (CDmpDeviceClaimBase *m : m_modules)
        if (m->isPartition(deviceName)) return true;
    return false;
}

std::string CDmpClaimManager::appendPartitionSuffix(const std::string &deviceName, uint32_t partition) {
    std::lock_guard<std::mutex> g(m_modulesLock);
    for (CDmpDeviceClaimBase *m : m_modules) {
        std::string name = m->appendPartitionSuffix(deviceName, partition);
        if (!name.empty()) return name;
    }
    return std::string();
}

std::string CDmpClaimManager::removePartitionSuffix(const std::string &partitionName, uint32_t &partition) {
    std::lock_guard<std::mutex> g(m_modulesLock);
    for (CDmpDeviceClaimBase *m : m_modules)
        if (m->isPartition(partitionName)) return m->removePartitionSuffix(partitionName, partition);
    partition = 0;
    return partitionName;
}
