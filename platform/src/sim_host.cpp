// The simulated host's control API: identity, adapters, disks and the paths
// to them; and which host the Windows calls act on.
#include "sim_host_impl.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>

namespace rendo_sim {

using namespace detail;

namespace {
std::atomic<unsigned> g_hostCounter{0};
} // namespace

// ------------------------------------------------------------------- Lun

Lun::Lun(Host *host, std::shared_ptr<Disk> disk, ScsiAddress address, unsigned id)
    : m_host(host), m_disk(std::move(disk)), m_address(address), m_id(id) {}

std::string Lun::dosName() const {
    std::lock_guard<std::mutex> lock(m_host->mutex());
    return m_present ? "PhysicalDrive" + std::to_string(m_driveNumber) : std::string();
}

std::string Lun::devicePath() const {
    std::lock_guard<std::mutex> lock(m_host->mutex());
    return m_present ? "\\\\.\\PHYSICALDRIVE" + std::to_string(m_driveNumber) : std::string();
}

Lun &Lun::claimLevel(uint32_t level) {
    std::lock_guard<std::mutex> lock(m_host->mutex());
    m_claimLevel = level;
    return *this;
}

uint32_t Lun::claimLevel() const {
    std::lock_guard<std::mutex> lock(m_host->mutex());
    return m_claimLevel;
}

uint32_t Lun::targetPort() const { return Disk::defaultTargetPort(m_address); }

// ------------------------------------------------------------------ Host

Host::Host() : m_impl(new Impl) {}
Host::~Host() = default;

std::shared_ptr<Host> Host::create(const std::string &computerName) {
    std::shared_ptr<Host> h(new Host);
    Impl &im = *h->m_impl;
    im.self = h;
    im.computerName = computerName;
    unsigned n = ++g_hostCounter;
    std::string base = computerName.empty() ? "host" : computerName;
    for (char &c : base) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    im.who.initiatorName = "iqn.2026-12.org.rendo.sim:" + base + "-" + std::to_string(n);
    im.who.isid[5] = static_cast<uint8_t>(n);
    im.who.isid[4] = static_cast<uint8_t>(n >> 8);
    // The machine's fixed device tree: the root, then the nodes every PC has
    // beside its disks (parent 1 is the root).
    struct FixedNode { uint32_t parent; const char *instanceId, *classGuid, *className, *location, *description; };
    static const FixedNode kFixed[] = {
        {0, "HTREE\\ROOT\\0", "", "", "", ""},
        {1, "ROOT\\ACPI_HAL\\0000", "{4D36E966-E325-11CE-BFC1-08002BE10318}", "Computer", "", "ACPI x64-based PC"},
        {1, "ACPI\\PNP0A08\\0", "{4D36E97D-E325-11CE-BFC1-08002BE10318}", "System", "", "PCI Express Root Complex"},
        {1, "IDE\\CDROMSIM_DVD-ROM\\5&1A2B3C&0&1.0.0", "{4D36E965-E325-11CE-BFC1-08002BE10318}", "CDROM", "1",
         "Simulated DVD-ROM"},
    };
    for (const FixedNode &f : kFixed) {
        Node node;
        node.parent = f.parent;
        node.instanceId = f.instanceId;
        node.classGuid = f.classGuid;
        node.className = f.className;
        node.location = f.location;
        node.description = f.description;
        im.addNode(node);
    }
    im.dosNames = {{"C:", "\\Device\\HarddiskVolume1"}, {"CdRom0", "\\Device\\CdRom0"},
                   {"GLOBALROOT", ""}, {"NUL", "\\Device\\Null"}};
    return h;
}

std::mutex &Host::mutex() const { return m_impl->mutex; }

std::string Host::computerName() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->computerName;
}

void Host::setComputerName(const std::string &name) {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->computerName = name;
}

InitiatorIdentity Host::initiator() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->who;
}

void Host::setInitiator(const InitiatorIdentity &who) {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->who = who;
    m_impl->backends.clear();
}

void Host::addAdapter(uint8_t port, uint32_t alignmentMask, bool iscsiBus) {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    Adapter &a = m_impl->adapter(port);
    a.alignmentMask = alignmentMask;
    a.iscsi = iscsiBus;
}

Lun &Host::addDisk(const DiskSpec &desc) {
    ScsiAddress a;
    {
        std::lock_guard<std::mutex> lock(m_impl->mutex);
        unsigned target = 0;
        for (auto &l : m_impl->luns)
            if (l->m_address.port == 0 && l->m_address.bus == 0 && l->m_address.target >= target)
                target = l->m_address.target + 1u;
        a.target = static_cast<uint8_t>(std::min(target, 255u));
    }
    return attach(std::make_shared<Disk>(desc), a);
}

Lun &Host::addDisk(const DiskSpec &desc, ScsiAddress address) {
    return attach(std::make_shared<Disk>(desc), address);
}

Lun &Host::attach(std::shared_ptr<Disk> disk, ScsiAddress address) {
    disk->addTargetPort(Disk::defaultTargetPort(address));
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->adapter(address.port);
    std::unique_ptr<Lun> l(new Lun(this, std::move(disk), address, m_impl->nextLunId++));
    Lun &ref = *l;
    m_impl->luns.push_back(std::move(l));
    m_impl->makePresent(ref);
    return ref;
}

std::vector<Lun *> Host::luns() {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    std::vector<Lun *> out;
    for (auto &l : m_impl->luns) out.push_back(l.get());
    return out;
}

Lun *Host::findLun(const std::string &pathOrDosName) {
    std::string name = pathOrDosName;
    if (name.rfind("\\\\.\\", 0) == 0 || name.rfind("\\\\?\\", 0) == 0) name = name.substr(4);
    name = upper(name);
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->settle();
    return m_impl->drive(name);
}

uint32_t Host::claimLevelOf(const std::string &pathOrDosName, uint32_t fallback) const {
    std::string name = pathOrDosName;
    if (name.rfind("\\\\.\\", 0) == 0 || name.rfind("\\\\?\\", 0) == 0) name = name.substr(4);
    name = upper(name);
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->settle();
    Lun *l = m_impl->drive(name);
    return l != nullptr ? l->m_claimLevel : fallback;
}

void Host::unplug(Lun &lun) {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->makeGone(lun);
    lun.m_unplugged = true;
}

void Host::addDosName(const std::string &name, const std::string &target) {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->dosNames.emplace_back(name, target);
}

// ---------------------------------------------------------- current host

namespace {
std::mutex g_currentMutex;
std::shared_ptr<Host> g_current;
thread_local std::shared_ptr<Host> t_current;

// What RENDO_SIM_HOST names now ("" when unset).
std::string hostDescriptionPath() {
    const char *path = std::getenv("RENDO_SIM_HOST");
    return path != nullptr ? std::string(path) : std::string();
}

std::shared_ptr<Host> describedHost(const std::string &path) {
    std::string error;
    if (!path.empty()) {
        auto h = loadHostDescription(path, &error);
        if (h) return h;
        std::fprintf(stderr, "rendo simulated host: %s; using an empty host\n", error.c_str());
        return Host::create();
    }
    auto h = parseHostDescription(defaultHostDescription(), &error);
    if (h) return h;
    std::fprintf(stderr, "rendo simulated host: default host: %s\n", error.c_str());
    return Host::create();
}

// A described host is one machine on the simulated SAN: its disks' array
// state is shared with every process that names the same logical units.
std::shared_ptr<Host> hostFromEnvironment(const std::string &path) {
    auto h = describedHost(path);
    shareArrayState(*h, sanStateDirectory());
    return h;
}

// The description the process-wide host was loaded from; a host given by
// setCurrentHost has none.
bool g_fromEnvironment = false;
std::string g_loadedPath;
// Hosts loaded from descriptions, by path ("": the embedded default), kept for
// the life of the process: a stand-in that switches RENDO_SIM_HOST back to an
// earlier file finds that host as it left it (device tree, sessions, rescans).
std::map<std::string, std::shared_ptr<Host>> g_loaded;
} // namespace

std::shared_ptr<Host> currentHost() {
    if (t_current) return t_current;
    std::lock_guard<std::mutex> lock(g_currentMutex);
    if (g_current && !g_fromEnvironment) return g_current;
    // A process that names another description (a framework stand-in
    // running one provider library over several hosts) gets that host.
    std::string path = hostDescriptionPath();
    if (!g_current || path != g_loadedPath) {
        std::shared_ptr<Host> &loaded = g_loaded[path];
        if (!loaded) loaded = hostFromEnvironment(path);
        g_current = loaded;
        g_loadedPath = path;
        g_fromEnvironment = true;
    }
    return g_current;
}

void setCurrentHost(std::shared_ptr<Host> host) {
    std::lock_guard<std::mutex> lock(g_currentMutex);
    g_current = std::move(host);
    g_fromEnvironment = false;
}

ScopedHost::ScopedHost(std::shared_ptr<Host> host) : m_previous(t_current) { t_current = std::move(host); }
ScopedHost::~ScopedHost() { t_current = m_previous; }

// The host's computer name for GetComputerNameW; empty: use the fallbacks.
namespace detail {
std::string simulatedComputerName() { return currentHost()->computerName(); }
} // namespace detail

} // namespace rendo_sim
