// The simulated host: adapters, disks and the paths to them, the DOS device
// namespace, the device tree with its installation data, rescans, removal,
// the clock, and which host the Windows calls act on.
#include "sim_internal.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <stdexcept>
#include <thread>

namespace rendo_sim {

namespace detail {

namespace {
std::mutex g_handleMutex;
std::map<uintptr_t, std::shared_ptr<HandleObject>> &handleTable() {
    static auto *table = new std::map<uintptr_t, std::shared_ptr<HandleObject>>;  // outlives static destructors
    return *table;
}
uintptr_t g_nextHandle = 0x1000;
} // namespace

HANDLE addHandle(std::shared_ptr<HandleObject> object) {
    std::lock_guard<std::mutex> lock(g_handleMutex);
    uintptr_t v = g_nextHandle;
    g_nextHandle += 4;
    handleTable()[v] = std::move(object);
    return reinterpret_cast<HANDLE>(v);
}

std::shared_ptr<HandleObject> findHandle(HANDLE h) {
    std::lock_guard<std::mutex> lock(g_handleMutex);
    auto it = handleTable().find(reinterpret_cast<uintptr_t>(h));
    return it == handleTable().end() ? nullptr : it->second;
}

std::shared_ptr<HandleObject> removeHandle(HANDLE h) {
    std::lock_guard<std::mutex> lock(g_handleMutex);
    auto it = handleTable().find(reinterpret_cast<uintptr_t>(h));
    if (it == handleTable().end()) return nullptr;
    auto object = it->second;
    handleTable().erase(it);
    return object;
}

std::wstring widen(const std::string &s) {
    std::wstring w;
    w.reserve(s.size());
    for (unsigned char c : s) w.push_back(static_cast<wchar_t>(c));
    return w;
}

std::string narrow(const std::wstring &s) {
    std::string n;
    n.reserve(s.size());
    for (wchar_t c : s) n.push_back(static_cast<char>(static_cast<unsigned char>(c & 0xFF)));
    return n;
}

std::string upper(std::string s) {
    for (char &c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

} // namespace detail

using namespace detail;

namespace {

const char kAdapterClass[] = "{4D36E97B-E325-11CE-BFC1-08002BE10318}";
const char kDiskClass[] = "{4D36E967-E325-11CE-BFC1-08002BE10318}";

std::atomic<unsigned> g_hostCounter{0};

std::string trimRight(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
    return s;
}

// Instance-ID fields as Plug and Play writes them: upper case, blanks and
// anything unprintable as "_".
std::string idField(const std::string &s, size_t width) {
    std::string t = trimRight(s.substr(0, width));
    for (char &c : t) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u > 0x7E || c == ',' || c == '\\') c = '_';
    }
    return upper(t);
}

} // namespace

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
    Lun *drive(const std::string &name) const {
        static const std::string kDrive = "PHYSICALDRIVE";
        if (name.size() <= kDrive.size() || name.size() > kDrive.size() + 9 ||
            name.compare(0, kDrive.size(), kDrive) != 0 ||
            name.find_first_not_of("0123456789", kDrive.size()) != std::string::npos ||
            (name[kDrive.size()] == '0' && name.size() != kDrive.size() + 1))
            return nullptr;
        size_t number = std::stoul(name.substr(kDrive.size()));
        return number < drives.size() ? drives[number] : nullptr;
    }

    uint64_t now() const {
        if (virtualClock) return virtualNow;
        return static_cast<uint64_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
    }

    uint32_t addNode(Node n) {
        n.devInst = nextDevInst++;
        nodes[n.devInst] = n;
        byInstanceId.emplace(upper(n.instanceId), n.devInst);
        return n.devInst;
    }

    void eraseNode(uint32_t devInst) {
        auto it = nodes.find(devInst);
        if (it == nodes.end()) return;
        auto range = byInstanceId.equal_range(upper(it->second.instanceId));
        for (auto j = range.first; j != range.second; ++j)
            if (j->second == devInst) {
                byInstanceId.erase(j);
                break;
            }
        nodes.erase(it);
    }

    Adapter &adapter(uint8_t port) {
        auto it = adapters.find(port);
        if (it != adapters.end()) return it->second;
        Adapter a;
        a.port = port;
        Node n;
        n.parent = 1;
        char buf[160];
        std::snprintf(buf, sizeof buf, "PCI\\VEN_1077&DEV_2432&SUBSYS_01371077&REV_03\\4&2A5B3C1D&0&%02X00", port);
        n.instanceId = buf;
        n.hardwareId = "PCI\\VEN_1077&DEV_2432";
        n.classGuid = kAdapterClass;
        n.className = "SCSIAdapter";
        std::snprintf(buf, sizeof buf, "PCI bus 3, device 0, function %u", port);
        n.location = buf;
        n.description = "Simulated Fibre Channel Adapter";
        n.port = port;
        a.devInst = addNode(n);
        return adapters[port] = a;
    }

    void makePresent(Lun &l) {
        // The lowest number no present Lun has.
        size_t number = drives.size();
        if (!freeDrives.empty()) {
            number = *freeDrives.begin();
            freeDrives.erase(freeDrives.begin());
            drives[number] = &l;
        } else {
            drives.push_back(&l);
        }
        l.m_driveNumber = static_cast<int>(number);
        l.m_present = true;
        l.m_waitRescan = false;
        l.m_treeRescanReveals = false;
        ++l.m_epoch;
        const DiskSpec &s = l.m_disk->desc();
        ScsiAddress a = l.m_address;
        Node n;
        n.parent = adapter(a.port).devInst;
        char buf[512];
        std::snprintf(buf, sizeof buf, "SCSI\\DISK&VEN_%s&PROD_%s&REV_%s\\5&%08X&%u&%02u%02u%02u",
                      idField(s.vendor, 8).c_str(), idField(s.product, 16).c_str(), idField(s.revision, 4).c_str(),
                      0x1C2D3E4Fu + a.port * 0x101u, a.port, a.bus, a.target, a.lun);
        n.instanceId = buf;
        std::snprintf(buf, sizeof buf, "SCSI\\Disk%s%s%s", idField(s.vendor, 8).c_str(), idField(s.product, 16).c_str(),
                      idField(s.revision, 4).c_str());
        n.hardwareId = buf;
        n.classGuid = kDiskClass;
        n.className = "DiskDrive";
        std::snprintf(buf, sizeof buf, "Bus Number %u, Target Id %u, LUN %u", a.bus, a.target, a.lun);
        n.location = l.m_hasLocation ? l.m_location : buf;
        n.description = trimRight(s.vendor) + " " + trimRight(s.product) + " SCSI Disk Device";
        n.lun = &l;
        l.m_devInst = addNode(n);
    }

    void makeGone(Lun &l) {
        if (!l.m_present) return;
        eraseNode(l.m_devInst);
        drives[size_t(l.m_driveNumber)] = nullptr;
        freeDrives.insert(size_t(l.m_driveNumber));
        l.m_devInst = 0;
        l.m_present = false;
        l.m_driveNumber = -1;
    }

    // Whether a path that is not present comes (back) now.
    void consider(Lun &l, bool rescan) {
        if (l.m_present || l.m_masked || l.m_unplugged || l.m_removed) return;
        if (rescan && l.m_rescansNeeded > 0 && l.m_rescansNeeded != Lun::kNeverByBus) --l.m_rescansNeeded;
        if (l.m_rescansNeeded > 0) return;
        if (l.m_timed) {
            if (now() < l.m_appearAtMs) return;
            if (l.m_appearNeedsRescan && !rescan) return;
        }
        if (l.m_waitRescan && !rescan) return;
        l.m_timed = false;
        makePresent(l);
    }

    void rescanPort(uint8_t port) {
        ++adapter(port).rescans;
        for (auto &l : luns)
            if (l->m_address.port == port) consider(*l, true);
    }

    void rescanRoot() {
        ++rootRescans;
        // What only a walk of the whole tree finds comes first; then each
        // adapter counts this as one rescan of its bus.
        for (auto &l : luns)
            if (l->m_treeRescanReveals && !l->m_present && !l->m_masked && !l->m_unplugged && !l->m_removed) {
                l->m_rescansNeeded = 0;
                l->m_timed = false;
                l->m_treeRescanReveals = false;
                makePresent(*l);
            }
        std::vector<uint8_t> ports;
        for (auto &kv : adapters) ports.push_back(kv.first);
        for (uint8_t p : ports) rescanPort(p);
    }

    // Lets asynchronous and timed events that are due take effect.
    void settle() {
        uint64_t t = now();
        std::vector<uint64_t> still;
        size_t due = 0;
        for (uint64_t when : pendingRoot) {
            if (when <= t) ++due;
            else still.push_back(when);
        }
        pendingRoot.swap(still);
        for (size_t i = 0; i < due; ++i) rescanRoot();
        // Every Windows call settles: only Luns that can be due are looked at.
        for (auto it = timed.begin(); it != timed.end();) {
            Lun &l = *it->second;
            if (l.m_timed && !l.m_appearNeedsRescan) consider(l, false);
            it = l.m_timed ? std::next(it) : timed.erase(it);
        }
    }

    // A scripted failure of `function`: its code, or 0 when none is due.
    uint32_t callFault(const char *function) {
        auto it = callFaults.find(function);
        if (it == callFaults.end() || it->second.second == 0) return 0;
        if (it->second.second > 0) --it->second.second;
        return it->second.first;
    }

    DiskBackend *backendFor(const Disk &disk, std::string *error) {
        if (disk.desc().iscsiUrl.empty()) return nullptr;
        auto it = backends.find(&disk);
        if (it != backends.end() && it->second) return it->second.get();
        auto backend = openIscsiBackend(disk.desc().iscsiUrl, who, error);
        if (backend) backends[&disk] = backend;
        return backend.get();
    }
};

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

bool Lun::present() const {
    std::lock_guard<std::mutex> lock(m_host->mutex());
    m_host->m_impl->settle();
    return m_present;
}

Lun &Lun::appearAfterRescans(unsigned n, bool orTreeRescan) {
    std::lock_guard<std::mutex> lock(m_host->mutex());
    m_host->m_impl->makeGone(*this);
    m_removed = false;
    m_rescansNeeded = n;
    m_treeRescanReveals = orTreeRescan && n > 0;
    if (n == 0) m_host->m_impl->consider(*this, false);
    return *this;
}

Lun &Lun::appearOnTreeRescan() {
    std::lock_guard<std::mutex> lock(m_host->mutex());
    m_host->m_impl->makeGone(*this);
    m_removed = false;
    m_rescansNeeded = kNeverByBus;
    m_treeRescanReveals = true;
    return *this;
}

Lun &Lun::appearAt(uint64_t ms, bool needsRescan) {
    std::lock_guard<std::mutex> lock(m_host->mutex());
    m_host->m_impl->makeGone(*this);
    m_removed = false;
    if (m_rescansNeeded == kNeverByBus) m_rescansNeeded = 0;
    m_treeRescanReveals = false;
    m_timed = true;
    m_host->m_impl->timed[m_id] = this;
    m_appearAtMs = ms;
    m_appearNeedsRescan = needsRescan;
    m_host->m_impl->settle();
    return *this;
}

Lun &Lun::mask() {
    std::lock_guard<std::mutex> lock(m_host->mutex());
    m_host->m_impl->makeGone(*this);
    m_masked = true;
    return *this;
}

Lun &Lun::unmask() {
    std::lock_guard<std::mutex> lock(m_host->mutex());
    if (m_masked || m_removed) {
        m_masked = false;
        m_removed = false;
        m_waitRescan = true;
    }
    return *this;
}

Lun &Lun::locationInformation(const std::string &text) {
    std::lock_guard<std::mutex> lock(m_host->mutex());
    m_hasLocation = true;
    m_location = text;
    auto it = m_host->m_impl->nodes.find(m_devInst);
    if (m_present && it != m_host->m_impl->nodes.end()) it->second.location = text;
    return *this;
}

Lun &Lun::vanishAfterListing() {
    std::lock_guard<std::mutex> lock(m_host->mutex());
    m_vanishAfterListing = true;
    return *this;
}

Lun &Lun::failOpen(uint32_t error, int times) {
    std::lock_guard<std::mutex> lock(m_host->mutex());
    m_openError = error;
    m_openFailures = times;
    return *this;
}

Lun &Lun::failIoctl(uint32_t code, uint32_t error, int times) {
    std::lock_guard<std::mutex> lock(m_host->mutex());
    m_ioctlFaults[code] = {error, times};
    return *this;
}

Lun &Lun::shortInquiryData(size_t bytes) {
    std::lock_guard<std::mutex> lock(m_host->mutex());
    m_inquiryDataLimit = bytes;
    return *this;
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

Lun &Lun::clearFaults() {
    std::lock_guard<std::mutex> lock(m_host->mutex());
    m_openFailures = 0;
    m_ioctlFaults.clear();
    m_inquiryDataLimit = SIZE_MAX;
    m_vanishAfterListing = false;
    return *this;
}

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

unsigned Host::rescans(uint8_t port) const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->settle();
    auto it = m_impl->adapters.find(port);
    return it == m_impl->adapters.end() ? 0 : it->second.rescans;
}

unsigned Host::rootRescans() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->settle();
    return m_impl->rootRescans;
}

void Host::setRootRescanDelay(uint64_t ms) {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->rootDelayMs = ms;
}

void Host::setRemovalNeedsReboot(bool yes) {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->rebootOnRemove = yes;
}

std::vector<std::string> Host::removedInstanceIds() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->removedIds;
}

std::vector<RemovalRecord> Host::removals() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->removals;
}

unsigned Host::openDeviceInfoSets() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->openSets;
}

void Host::failCall(const std::string &function, uint32_t code, int times) {
    static const char *const known[] = {
        "CM_Get_Device_ID_List_Size", "CM_Get_Device_ID_List", "CM_Locate_DevNode", "CM_Get_Device_ID",
        "CM_Get_DevNode_Registry_Property", "CM_Reenumerate_DevNode", "SetupDiGetClassDevs",
        "SetupDiGetDeviceInfoListDetail", "SetupDiEnumDeviceInfo", "SetupDiGetDeviceRegistryProperty",
        "SetupDiSetClassInstallParams", "SetupDiCallClassInstaller", "SetupDiGetDeviceInstallParams",
        "QueryDosDeviceW"};
    if (std::find(std::begin(known), std::end(known), function) == std::end(known))
        throw std::invalid_argument("no scripted failure for " + function);
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->callFaults[function] = {code, times};
}

void Host::setVirtualClock(bool on) {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    if (on && !m_impl->virtualClock) m_impl->virtualNow = m_impl->now();
    m_impl->virtualClock = on;
}

bool Host::virtualClock() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->virtualClock;
}

uint64_t Host::nowMs() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->now();
}

void Host::advance(uint64_t ms) {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    if (m_impl->virtualClock) m_impl->virtualNow += ms;
    m_impl->settle();
}

std::vector<uint32_t> Host::sleeps() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->sleeps;
}

void Host::clearSleeps() {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->sleeps.clear();
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

std::shared_ptr<Host> hostFromEnvironment(const std::string &path) {
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

// The description the process-wide host was loaded from; a host given by
// setCurrentHost has none.
bool g_fromEnvironment = false;
std::string g_loadedPath;
} // namespace

std::shared_ptr<Host> currentHost() {
    if (t_current) return t_current;
    std::lock_guard<std::mutex> lock(g_currentMutex);
    if (g_current && !g_fromEnvironment) return g_current;
    // A process that names another description (a framework stand-in
    // running one provider library over several hosts) gets that host.
    std::string path = hostDescriptionPath();
    if (!g_current || path != g_loadedPath) {
        g_current = hostFromEnvironment(path);
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

// Access for the Windows functions in this file.
struct HostAccess {
    static Host::Impl &impl(Host &h) { return h.impl(); }
};

} // namespace rendo_sim

// =================================================== the Windows functions

using namespace rendo_sim;
using namespace rendo_sim::detail;

namespace {

struct DeviceHandle : HandleObject {
    std::shared_ptr<Host> host;
    Lun *lun = nullptr;
    unsigned epoch = 0;
};

struct DevInfoSet : HandleObject {
    bool closable() const override { return false; }  // SetupDiDestroyDeviceInfoList only
    std::shared_ptr<Host> host;
    std::vector<uint32_t> devInsts;
    std::map<uint32_t, SP_REMOVEDEVICE_PARAMS> removeParams;
    std::map<uint32_t, DWORD> installFlags;
};

bool fail(DWORD error) {
    SetLastError(error);
    return false;
}


// Copies a string (and its terminator) into a wide buffer of `capacity` characters.
bool copyWide(const std::string &s, wchar_t *buf, size_t capacity) {
    if (buf == nullptr || capacity < s.size() + 1) return false;
    for (size_t i = 0; i < s.size(); ++i) buf[i] = static_cast<wchar_t>(static_cast<unsigned char>(s[i]));
    buf[s.size()] = L'\0';
    return true;
}

// A registry property: its value as REG_SZ / REG_MULTI_SZ wide text, false when absent.
bool nodeProperty(const Node &n, ULONG spdrp, std::wstring &value, DWORD &type) {
    type = REG_SZ;
    std::string v;
    switch (spdrp) {
    case SPDRP_DEVICEDESC: v = n.description; break;
    case SPDRP_FRIENDLYNAME: v = n.lun ? n.description : ""; break;
    case SPDRP_HARDWAREID:
        v = n.hardwareId;
        type = REG_MULTI_SZ;
        break;
    case SPDRP_CLASS: v = n.className; break;
    case SPDRP_CLASSGUID: v = n.classGuid; break;
    case SPDRP_LOCATION_INFORMATION: v = n.location; break;
    case SPDRP_PHYSICAL_DEVICE_OBJECT_NAME: {
        char buf[32];
        std::snprintf(buf, sizeof buf, "\\Device\\%08x", n.devInst + 0x40u);
        v = buf;
        break;
    }
    case SPDRP_SERVICE: v = n.lun ? "disk" : (n.port >= 0 ? "ql2300" : ""); break;
    default: return false;
    }
    if (v.empty()) return false;
    value = widen(v);
    if (type == REG_MULTI_SZ) value.push_back(L'\0');
    return true;
}

std::shared_ptr<Host> hostNow() { return currentHost(); }

} // namespace

extern "C" {

HANDLE CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD, SECURITY_ATTRIBUTES *,
                   DWORD dwCreationDisposition, DWORD dwFlagsAndAttributes, HANDLE) {
    if (lpFileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::wstring name(lpFileName);
    if (isPipeName(name)) return openPipeClient(name, dwDesiredAccess, dwFlagsAndAttributes);
    if (name.rfind(L"\\\\.\\", 0) != 0 && name.rfind(L"\\\\?\\", 0) != 0) {
        SetLastError(ERROR_PATH_NOT_FOUND);  // only device paths exist on the simulated host
        return INVALID_HANDLE_VALUE;
    }
    if (dwCreationDisposition != OPEN_EXISTING) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    std::string dos = upper(narrow(name.substr(4)));
    auto host = hostNow();
    Host::Impl &im = HostAccess::impl(*host);
    std::lock_guard<std::mutex> lock(host->mutex());
    im.settle();
    Lun *l = im.drive(dos);
    if (l != nullptr) {
        if (l->m_openFailures != 0) {
            if (l->m_openFailures > 0) --l->m_openFailures;
            SetLastError(l->m_openError);
            return INVALID_HANDLE_VALUE;
        }
        auto h = std::make_shared<DeviceHandle>();
        h->host = host;
        h->lun = l;
        h->epoch = l->m_epoch;
        SetLastError(ERROR_SUCCESS);
        return addHandle(h);
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

HANDLE CreateFileA(LPCSTR lpFileName, DWORD a, DWORD s, SECURITY_ATTRIBUTES *sa, DWORD d, DWORD f, HANDLE t) {
    if (lpFileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::wstring w = widen(lpFileName);
    return CreateFileW(w.c_str(), a, s, sa, d, f, t);
}

DWORD QueryDosDeviceW(LPCWSTR lpDeviceName, LPWSTR lpTargetPath, DWORD ucchMax) {
    auto host = hostNow();
    Host::Impl &im = HostAccess::impl(*host);
    std::lock_guard<std::mutex> lock(host->mutex());
    im.settle();
    if (uint32_t code = im.callFault("QueryDosDeviceW")) {
        SetLastError(code);
        return 0;
    }
    std::vector<std::pair<std::string, std::string>> names = im.dosNames;
    std::vector<Lun *> listed;
    for (auto &l : im.luns) {
        if (!l->m_present) continue;
        std::string n = std::to_string(l->m_driveNumber);
        names.emplace_back("PhysicalDrive" + n, "\\Device\\Harddisk" + n + "\\DR" + n);
        names.emplace_back("Harddisk" + n + "Partition1", "\\Device\\HarddiskVolume" + std::to_string(l->m_driveNumber + 2));
        listed.push_back(l.get());
    }
    std::wstring out;
    if (lpDeviceName == nullptr) {
        for (auto &n : names) {
            out += widen(n.first);
            out.push_back(L'\0');
        }
        out.push_back(L'\0');
    } else {
        std::string wanted = upper(narrow(lpDeviceName));
        bool found = false;
        for (auto &n : names)
            if (upper(n.first) == wanted) {
                out = widen(n.second);
                out.push_back(L'\0');
                out.push_back(L'\0');
                found = true;
                break;
            }
        if (!found) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return 0;
        }
    }
    if (lpTargetPath == nullptr || out.size() > ucchMax) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::wmemcpy(lpTargetPath, out.data(), out.size());
    if (lpDeviceName == nullptr)
        for (Lun *l : listed)
            if (l->m_vanishAfterListing) {
                l->m_vanishAfterListing = false;
                im.makeGone(*l);
                l->m_masked = true;
            }
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(out.size());
}

} // extern "C"

// ---------------------------------------------------------- DeviceIoControl

namespace {

struct Resolved {
    std::shared_ptr<Disk> disk;
    DiskBackend *backend = nullptr;
    std::string backendError;
    std::string initiator;
    uint32_t targetPort = 0;
    std::shared_ptr<Host> host;
    ScsiAddress address;
    uint32_t alignmentMask = 0;
    bool iscsiBus = false;
    size_t inquiryLimit = SIZE_MAX;
};

ScsiResult runCommand(Resolved &r, const uint8_t *cdb, size_t cdbLength, DataDirection dir, uint8_t *data,
                      size_t length, uint32_t timeout) {
    ScsiRequest req;
    req.cdb = cdb;
    req.cdbLength = cdbLength;
    req.direction = dir;
    req.data = data;
    req.dataLength = length;
    req.timeoutSeconds = timeout;
    if (!r.disk->desc().iscsiUrl.empty() && r.backend == nullptr) {
        ScsiResult res;
        res.transportError = true;
        res.transportMessage = r.backendError;
        return res;
    }
    return r.disk->execute(req, r.initiator, r.targetPort, r.backend);
}

// A command that got no answer holds its caller for the request's time-out,
// on the host's clock.
void waitTimeOut(Host &host, uint32_t seconds) {
    uint64_t ms = uint64_t{seconds} * 1000;
    {
        Host::Impl &im = HostAccess::impl(host);
        std::lock_guard<std::mutex> lock(host.mutex());
        if (im.virtualClock) {
            im.virtualNow += ms;
            im.settle();
            return;
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

BOOL passThrough(Resolved &r, bool direct, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned) {
    size_t header = direct ? sizeof(SCSI_PASS_THROUGH_DIRECT) : sizeof(SCSI_PASS_THROUGH);
    if (in == nullptr || inSize < header) return fail(ERROR_INVALID_PARAMETER);
    // Buffered method: the request is read in whole before anything is written back.
    std::vector<uint8_t> sys(std::max<size_t>(inSize, outSize), 0);
    std::memcpy(sys.data(), in, inSize);
    SCSI_PASS_THROUGH spt;
    std::memcpy(&spt, sys.data(), sizeof spt);  // both layouts share every field but the data pointer
    void *directBuffer = nullptr;
    if (direct) {
        SCSI_PASS_THROUGH_DIRECT sptd;
        std::memcpy(&sptd, sys.data(), sizeof sptd);
        directBuffer = sptd.DataBuffer;
    }
    if (spt.Length != header || spt.CdbLength == 0 || spt.CdbLength > 16 || spt.DataIn > SCSI_IOCTL_DATA_UNSPECIFIED)
        return fail(ERROR_INVALID_PARAMETER);
    size_t length = spt.DataTransferLength;
    if (spt.SenseInfoLength > 0 && (spt.SenseInfoOffset < header || size_t(spt.SenseInfoOffset) + spt.SenseInfoLength > std::max(inSize, outSize)))
        return fail(ERROR_INVALID_PARAMETER);
    if (spt.SenseInfoLength > 0 && size_t(spt.SenseInfoOffset) + spt.SenseInfoLength > outSize)
        return fail(ERROR_INVALID_PARAMETER);
    uint8_t *data = nullptr;
    if (length > 0) {
        if (direct) {
            if (directBuffer == nullptr) return fail(ERROR_INVALID_PARAMETER);
            if ((reinterpret_cast<uintptr_t>(directBuffer) & r.alignmentMask) != 0) return fail(ERROR_INVALID_PARAMETER);
            data = static_cast<uint8_t *>(directBuffer);
        } else {
            size_t offset = spt.DataBufferOffset;
            size_t limit = spt.DataIn == SCSI_IOCTL_DATA_IN ? outSize : inSize;
            if (offset < header || offset > limit || length > limit - offset) return fail(ERROR_INVALID_PARAMETER);
            data = sys.data() + offset;
        }
    }
    DataDirection dir = length == 0 ? DataDirection::None
                        : spt.DataIn == SCSI_IOCTL_DATA_IN ? DataDirection::In
                        : spt.DataIn == SCSI_IOCTL_DATA_OUT ? DataDirection::Out
                                                            : DataDirection::In;
    ScsiResult res = runCommand(r, spt.Cdb, spt.CdbLength, dir, data, length, spt.TimeOutValue);
    if (res.timedOut) {
        if (r.host) waitTimeOut(*r.host, spt.TimeOutValue);
        return fail(ERROR_SEM_TIMEOUT);
    }
    if (res.transportError) return fail(ERROR_IO_DEVICE);
    size_t moved = std::min(res.dataTransferred, length);
    spt.ScsiStatus = res.status;
    spt.DataTransferLength = static_cast<ULONG>(dir == DataDirection::In ? moved : (dir == DataDirection::Out ? moved : 0));
    size_t senseBytes = 0;
    if (res.status != 0 && spt.SenseInfoLength > 0 && !res.sense.empty()) {
        senseBytes = std::min<size_t>(res.sense.size(), spt.SenseInfoLength);
        std::memcpy(sys.data() + spt.SenseInfoOffset, res.sense.data(), senseBytes);
    }
    spt.SenseInfoLength = static_cast<UCHAR>(senseBytes);
    std::memcpy(sys.data(), &spt, direct ? offsetof(SCSI_PASS_THROUGH, DataBufferOffset) : sizeof spt);
    std::memcpy(sys.data() + offsetof(SCSI_PASS_THROUGH, SenseInfoOffset), &spt.SenseInfoOffset,
                sizeof(SCSI_PASS_THROUGH) - offsetof(SCSI_PASS_THROUGH, SenseInfoOffset));
    size_t count;
    if (!direct && dir == DataDirection::In && moved > 0) count = spt.DataBufferOffset + moved;
    else if (senseBytes > 0) count = spt.SenseInfoOffset + senseBytes;
    else count = header;
    count = std::min<size_t>(count, outSize);
    if (out != nullptr && count > 0) std::memcpy(out, sys.data(), count);
    if (returned) *returned = static_cast<DWORD>(count);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL storageProperty(Resolved &r, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize, LPDWORD returned) {
    const size_t needed = offsetof(STORAGE_PROPERTY_QUERY, AdditionalParameters);
    if (in == nullptr || inSize < needed || (outSize > 0 && out == nullptr)) return fail(ERROR_INVALID_PARAMETER);
    // Read as plain numbers: a caller's out-of-range value is no enumerator.
    uint32_t property = 0, queryType = 0;
    std::memcpy(&property, in, 4);
    std::memcpy(&queryType, static_cast<const uint8_t *>(in) + 4, 4);
    if (property != StorageAdapterProperty && property != StorageDeviceProperty) return fail(ERROR_INVALID_FUNCTION);
    if (queryType == PropertyExistsQuery) {
        if (returned) *returned = 0;
        return TRUE;
    }
    if (queryType != PropertyStandardQuery) return fail(ERROR_INVALID_PARAMETER);
    if (outSize < sizeof(STORAGE_DESCRIPTOR_HEADER)) return fail(ERROR_INSUFFICIENT_BUFFER);
    std::vector<uint8_t> d;
    if (property == StorageAdapterProperty) {
        STORAGE_ADAPTER_DESCRIPTOR a{};
        a.Version = a.Size = sizeof a;
        a.MaximumTransferLength = 0x20000;
        a.MaximumPhysicalPages = 33;
        a.AlignmentMask = r.alignmentMask;
        a.CommandQueueing = TRUE;
        a.BusType = r.iscsiBus ? BusTypeiScsi : BusTypeFibre;
        a.BusMajorVersion = 2;
        d.resize(sizeof a);
        std::memcpy(d.data(), &a, sizeof a);
    } else {
        const DiskSpec &s = r.disk->desc();
        STORAGE_DEVICE_DESCRIPTOR dd{};
        d.resize(offsetof(STORAGE_DEVICE_DESCRIPTOR, RawDeviceProperties));
        auto addText = [&](const std::string &t) -> ULONG {
            ULONG at = static_cast<ULONG>(d.size());
            d.insert(d.end(), t.begin(), t.end());
            d.push_back(0);
            return at;
        };
        dd.DeviceType = s.peripheral & 0x1F;
        dd.CommandQueueing = TRUE;
        dd.BusType = r.iscsiBus ? BusTypeiScsi : BusTypeFibre;
        dd.VendorIdOffset = addText(s.vendor);
        dd.ProductIdOffset = addText(s.product);
        dd.ProductRevisionOffset = addText(s.revision);
        dd.SerialNumberOffset = s.serial.empty() ? 0 : addText(s.serial);
        dd.Version = sizeof dd;
        dd.Size = static_cast<ULONG>(d.size());
        std::memcpy(d.data(), &dd, offsetof(STORAGE_DEVICE_DESCRIPTOR, RawDeviceProperties));
    }
    size_t n = std::min<size_t>(d.size(), outSize);
    std::memcpy(out, d.data(), n);
    if (returned) *returned = static_cast<DWORD>(n);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

} // namespace

extern "C" {

BOOL DeviceIoControl(HANDLE hDevice, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD outSize,
                     LPDWORD returned, LPOVERLAPPED overlapped) {
    if (returned) *returned = 0;
    auto h = findHandleAs<DeviceHandle>(hDevice);
    if (!h) return fail(ERROR_INVALID_HANDLE);
    if (overlapped != nullptr) return fail(ERROR_INVALID_PARAMETER);
    Resolved r;
    {
        Host::Impl &im = HostAccess::impl(*h->host);
        std::lock_guard<std::mutex> lock(h->host->mutex());
        im.settle();
        Lun &l = *h->lun;
        if (!l.m_present || l.m_epoch != h->epoch) return fail(ERROR_DEV_NOT_EXIST);
        auto f = l.m_ioctlFaults.find(code);
        if (f != l.m_ioctlFaults.end() && f->second.second != 0) {
            if (f->second.second > 0) --f->second.second;
            return fail(f->second.first);
        }
        r.disk = l.m_disk;
        r.initiator = im.who.initiatorName;
        r.targetPort = Disk::defaultTargetPort(l.m_address);
        r.host = h->host;
        r.address = l.m_address;
        Adapter &a = im.adapter(l.m_address.port);
        r.alignmentMask = a.alignmentMask;
        r.iscsiBus = a.iscsi;
        r.inquiryLimit = l.m_inquiryDataLimit;
        r.backend = im.backendFor(*l.m_disk, &r.backendError);
    }
    switch (code) {
    case IOCTL_SCSI_PASS_THROUGH:
        return passThrough(r, false, in, inSize, out, outSize, returned);
    case IOCTL_SCSI_PASS_THROUGH_DIRECT:
        return passThrough(r, true, in, inSize, out, outSize, returned);
    case IOCTL_SCSI_GET_ADDRESS: {
        if (out == nullptr || outSize < sizeof(SCSI_ADDRESS)) return fail(ERROR_INSUFFICIENT_BUFFER);
        SCSI_ADDRESS a{sizeof(SCSI_ADDRESS), r.address.port, r.address.bus, r.address.target, r.address.lun};
        std::memcpy(out, &a, sizeof a);
        if (returned) *returned = sizeof a;
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    case IOCTL_DISK_GET_DRIVE_GEOMETRY: {
        if (out == nullptr || outSize < sizeof(DISK_GEOMETRY)) return fail(ERROR_INSUFFICIENT_BUFFER);
        uint64_t blocks = r.disk->desc().blocks;
        uint32_t blockSize = r.disk->desc().blockSize;
        if (r.backend != nullptr && !r.backend->capacity(blocks, blockSize)) return fail(ERROR_NOT_READY);
        if (!r.disk->desc().iscsiUrl.empty() && r.backend == nullptr) return fail(ERROR_NOT_READY);
        DISK_GEOMETRY g{};
        g.MediaType = FixedMedia;
        g.TracksPerCylinder = 255;
        g.SectorsPerTrack = 63;
        g.BytesPerSector = blockSize;
        g.Cylinders.QuadPart = static_cast<LONGLONG>(blocks / (255u * 63u));
        std::memcpy(out, &g, sizeof g);
        if (returned) *returned = sizeof g;
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    case IOCTL_SCSI_GET_INQUIRY_DATA: {
        // What the port driver learnt at bus scan: no command goes to the
        // disk (an iSCSI disk is asked, unrecorded, since nothing else knows).
        std::vector<uint8_t> inq;
        if (r.backend != nullptr) {
            uint8_t cdb[6] = {0x12, 0, 0, 0, 36, 0};
            uint8_t buf[36] = {};
            ScsiRequest req;
            req.cdb = cdb;
            req.cdbLength = 6;
            req.direction = DataDirection::In;
            req.data = buf;
            req.dataLength = sizeof buf;
            ScsiResult res = r.backend->execute(req);
            if (res.transportError || res.status != 0) return fail(ERROR_IO_DEVICE);
            inq.assign(buf, buf + std::min<size_t>(res.dataTransferred, sizeof buf));
        } else if (r.disk->desc().iscsiUrl.empty()) {
            inq = r.disk->standardInquiry();
            if (inq.size() > 36) inq.resize(36);
        } else {
            return fail(ERROR_IO_DEVICE);
        }
        if (inq.size() > r.inquiryLimit) inq.resize(r.inquiryLimit);
        size_t total = 24 + inq.size();
        if (out == nullptr || outSize < total) return fail(ERROR_INSUFFICIENT_BUFFER);
        std::vector<uint8_t> d(total, 0);
        SCSI_ADAPTER_BUS_INFO bus{};
        bus.NumberOfBuses = 1;
        bus.BusData[0].NumberOfLogicalUnits = 1;
        bus.BusData[0].InitiatorBusId = 7;
        bus.BusData[0].InquiryDataOffset = sizeof(SCSI_ADAPTER_BUS_INFO);
        std::memcpy(d.data(), &bus, sizeof bus);
        SCSI_INQUIRY_DATA id{};
        id.PathId = r.address.bus;
        id.TargetId = r.address.target;
        id.Lun = r.address.lun;
        id.DeviceClaimed = TRUE;
        id.InquiryDataLength = static_cast<ULONG>(inq.size());
        id.NextInquiryDataOffset = 0;
        std::memcpy(d.data() + sizeof bus, &id, offsetof(SCSI_INQUIRY_DATA, InquiryData));
        if (!inq.empty()) std::memcpy(d.data() + 24, inq.data(), inq.size());
        std::memcpy(out, d.data(), total);
        if (returned) *returned = static_cast<DWORD>(total);
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    case IOCTL_STORAGE_QUERY_PROPERTY:
        return storageProperty(r, in, inSize, out, outSize, returned);
    default:
        return fail(ERROR_INVALID_FUNCTION);
    }
}

} // extern "C"

// ------------------------------------------------------ Configuration Manager

namespace {

bool localMachine(HMACHINE m) { return m == nullptr; }

CONFIGRET idList(std::vector<wchar_t> &list) {
    auto host = hostNow();
    Host::Impl &im = HostAccess::impl(*host);
    std::lock_guard<std::mutex> lock(host->mutex());
    im.settle();
    for (auto &kv : im.nodes) {
        std::wstring w = widen(kv.second.instanceId);
        list.insert(list.end(), w.begin(), w.end());
        list.push_back(L'\0');
    }
    list.push_back(L'\0');
    return CR_SUCCESS;
}

CONFIGRET cmFault(const char *name) {
    auto host = hostNow();
    std::lock_guard<std::mutex> lock(host->mutex());
    return HostAccess::impl(*host).callFault(name);
}

} // namespace

extern "C" {

CONFIGRET CM_Get_Device_ID_List_Size_ExW(PULONG pulLen, PCWSTR pszFilter, ULONG ulFlags, HMACHINE hMachine) {
    if (pulLen == nullptr) return CR_INVALID_POINTER;
    *pulLen = 0;
    if (!localMachine(hMachine) || pszFilter != nullptr || ulFlags != 0) return CR_INVALID_FLAG;
    if (CONFIGRET c = cmFault("CM_Get_Device_ID_List_Size")) return c;
    std::vector<wchar_t> list;
    idList(list);
    *pulLen = static_cast<ULONG>(list.size());
    return CR_SUCCESS;
}

CONFIGRET CM_Get_Device_ID_List_SizeW(PULONG pulLen, PCWSTR pszFilter, ULONG ulFlags) {
    return CM_Get_Device_ID_List_Size_ExW(pulLen, pszFilter, ulFlags, nullptr);
}

CONFIGRET CM_Get_Device_ID_List_ExW(PCWSTR pszFilter, PZZWSTR Buffer, ULONG BufferLen, ULONG ulFlags,
                                    HMACHINE hMachine) {
    if (Buffer == nullptr || BufferLen == 0) return CR_INVALID_POINTER;
    if (!localMachine(hMachine) || pszFilter != nullptr || ulFlags != 0) return CR_INVALID_FLAG;
    if (CONFIGRET c = cmFault("CM_Get_Device_ID_List")) return c;
    std::vector<wchar_t> list;
    idList(list);
    if (list.size() > BufferLen) return CR_BUFFER_SMALL;
    std::wmemcpy(Buffer, list.data(), list.size());
    return CR_SUCCESS;
}

CONFIGRET CM_Get_Device_ID_ListW(PCWSTR pszFilter, PZZWSTR Buffer, ULONG BufferLen, ULONG ulFlags) {
    return CM_Get_Device_ID_List_ExW(pszFilter, Buffer, BufferLen, ulFlags, nullptr);
}

CONFIGRET CM_Locate_DevNode_ExW(PDEVINST pdnDevInst, DEVINSTID_W pDeviceID, ULONG ulFlags, HMACHINE hMachine) {
    if (pdnDevInst == nullptr) return CR_INVALID_POINTER;
    *pdnDevInst = 0;
    if (!localMachine(hMachine) || (ulFlags & ~0x7u) != 0) return CR_INVALID_FLAG;
    if (CONFIGRET c = cmFault("CM_Locate_DevNode")) return c;
    if (pDeviceID == nullptr || *pDeviceID == L'\0') {
        *pdnDevInst = 1;
        return CR_SUCCESS;
    }
    std::string wanted = upper(narrow(pDeviceID));
    auto host = hostNow();
    Host::Impl &im = HostAccess::impl(*host);
    std::lock_guard<std::mutex> lock(host->mutex());
    im.settle();
    auto found = im.byInstanceId.lower_bound(wanted);  // the first of equal IDs: the lowest device instance
    if (found == im.byInstanceId.end() || found->first != wanted) return CR_NO_SUCH_DEVNODE;
    *pdnDevInst = found->second;
    return CR_SUCCESS;
}

CONFIGRET CM_Locate_DevNodeW(PDEVINST pdnDevInst, DEVINSTID_W pDeviceID, ULONG ulFlags) {
    return CM_Locate_DevNode_ExW(pdnDevInst, pDeviceID, ulFlags, nullptr);
}

CONFIGRET CM_Get_Device_ID_ExW(DEVINST dnDevInst, PWSTR Buffer, ULONG BufferLen, ULONG, HMACHINE hMachine) {
    if (Buffer == nullptr || BufferLen == 0) return CR_INVALID_POINTER;
    if (!localMachine(hMachine)) return CR_INVALID_FLAG;
    if (CONFIGRET c = cmFault("CM_Get_Device_ID")) return c;
    auto host = hostNow();
    Host::Impl &im = HostAccess::impl(*host);
    std::lock_guard<std::mutex> lock(host->mutex());
    auto it = im.nodes.find(dnDevInst);
    if (it == im.nodes.end()) return CR_INVALID_DEVNODE;
    const std::string &id = it->second.instanceId;
    if (id.size() > BufferLen) return CR_BUFFER_SMALL;
    // Windows terminates when there is room and succeeds without it.
    for (size_t i = 0; i < id.size(); ++i) Buffer[i] = static_cast<wchar_t>(static_cast<unsigned char>(id[i]));
    if (id.size() < BufferLen) Buffer[id.size()] = L'\0';
    return CR_SUCCESS;
}

CONFIGRET CM_Get_Device_IDW(DEVINST dnDevInst, PWSTR Buffer, ULONG BufferLen, ULONG ulFlags) {
    return CM_Get_Device_ID_ExW(dnDevInst, Buffer, BufferLen, ulFlags, nullptr);
}

CONFIGRET CM_Get_Device_ID_Size(PULONG pulLen, DEVINST dnDevInst, ULONG) {
    if (pulLen == nullptr) return CR_INVALID_POINTER;
    *pulLen = 0;
    auto host = hostNow();
    Host::Impl &im = HostAccess::impl(*host);
    std::lock_guard<std::mutex> lock(host->mutex());
    auto it = im.nodes.find(dnDevInst);
    if (it == im.nodes.end()) return CR_INVALID_DEVNODE;
    *pulLen = static_cast<ULONG>(it->second.instanceId.size());
    return CR_SUCCESS;
}

CONFIGRET CM_Get_DevNode_Registry_Property_ExW(DEVINST dnDevInst, ULONG ulProperty, PULONG pulRegDataType,
                                               PVOID Buffer, PULONG pulLength, ULONG ulFlags, HMACHINE hMachine) {
    if (pulLength == nullptr || (Buffer == nullptr && *pulLength != 0)) return CR_INVALID_POINTER;
    if (!localMachine(hMachine) || ulFlags != 0) return CR_INVALID_FLAG;
    if (ulProperty == 0 || ulProperty > 0x24) return CR_INVALID_PROPERTY;
    if (CONFIGRET c = cmFault("CM_Get_DevNode_Registry_Property")) return c;
    auto host = hostNow();
    Host::Impl &im = HostAccess::impl(*host);
    std::lock_guard<std::mutex> lock(host->mutex());
    auto it = im.nodes.find(dnDevInst);
    if (it == im.nodes.end()) return CR_INVALID_DEVNODE;
    std::wstring value;
    DWORD type = REG_SZ;
    if (!nodeProperty(it->second, ulProperty - 1, value, type)) return CR_NO_SUCH_VALUE;
    ULONG bytes = static_cast<ULONG>((value.size() + 1) * sizeof(wchar_t));
    if (pulRegDataType) *pulRegDataType = type;
    if (Buffer == nullptr || *pulLength < bytes) {
        *pulLength = bytes;
        return CR_BUFFER_SMALL;
    }
    std::memcpy(Buffer, value.c_str(), bytes);
    *pulLength = bytes;
    return CR_SUCCESS;
}

CONFIGRET CM_Get_DevNode_Registry_PropertyW(DEVINST dnDevInst, ULONG ulProperty, PULONG pulRegDataType, PVOID Buffer,
                                            PULONG pulLength, ULONG ulFlags) {
    return CM_Get_DevNode_Registry_Property_ExW(dnDevInst, ulProperty, pulRegDataType, Buffer, pulLength, ulFlags,
                                                nullptr);
}

CONFIGRET CM_Reenumerate_DevNode_Ex(DEVINST dnDevInst, ULONG ulFlags, HMACHINE hMachine) {
    if (!localMachine(hMachine) || (ulFlags & ~0x7u) != 0) return CR_INVALID_FLAG;
    if (CONFIGRET c = cmFault("CM_Reenumerate_DevNode")) return c;
    auto host = hostNow();
    Host::Impl &im = HostAccess::impl(*host);
    std::lock_guard<std::mutex> lock(host->mutex());
    im.settle();
    auto it = im.nodes.find(dnDevInst);
    if (it == im.nodes.end()) return CR_INVALID_DEVNODE;
    bool synchronous = (ulFlags & CM_REENUMERATE_SYNCHRONOUS) != 0;
    if (dnDevInst == 1) {
        if (synchronous) im.rescanRoot();
        else im.pendingRoot.push_back(im.now() + im.rootDelayMs);  // lands at the next call after the delay
    } else if (it->second.port >= 0) {
        // An adapter finds what its bus holds before the call returns either way.
        im.rescanPort(static_cast<uint8_t>(it->second.port));
    }
    return CR_SUCCESS;
}

CONFIGRET CM_Reenumerate_DevNode(DEVINST dnDevInst, ULONG ulFlags) {
    return CM_Reenumerate_DevNode_Ex(dnDevInst, ulFlags, nullptr);
}

static CONFIGRET relative(PDEVINST out, DEVINST node, int which) {
    if (out == nullptr) return CR_INVALID_POINTER;
    *out = 0;
    auto host = hostNow();
    Host::Impl &im = HostAccess::impl(*host);
    std::lock_guard<std::mutex> lock(host->mutex());
    im.settle();
    auto it = im.nodes.find(node);
    if (it == im.nodes.end()) return CR_INVALID_DEVNODE;
    if (which == 0) {
        if (it->second.parent == 0) return CR_NO_SUCH_DEVNODE;
        *out = it->second.parent;
        return CR_SUCCESS;
    }
    uint32_t parent = which == 1 ? node : it->second.parent;
    if (which == 2 && parent == 0) return CR_NO_SUCH_DEVNODE;
    auto start = which == 1 ? im.nodes.begin() : std::next(it);
    for (auto j = start; j != im.nodes.end(); ++j)
        if (j->second.parent == parent && j->first != 1) {
            *out = j->first;
            return CR_SUCCESS;
        }
    return CR_NO_SUCH_DEVNODE;
}

CONFIGRET CM_Get_Parent(PDEVINST pdnDevInst, DEVINST dnDevInst, ULONG) { return relative(pdnDevInst, dnDevInst, 0); }
CONFIGRET CM_Get_Child(PDEVINST pdnDevInst, DEVINST dnDevInst, ULONG) { return relative(pdnDevInst, dnDevInst, 1); }
CONFIGRET CM_Get_Sibling(PDEVINST pdnDevInst, DEVINST dnDevInst, ULONG) { return relative(pdnDevInst, dnDevInst, 2); }

// ------------------------------------------------------------------ SetupAPI

HDEVINFO SetupDiGetClassDevsExW(const GUID *ClassGuid, PCWSTR Enumerator, HWND, DWORD Flags, HDEVINFO DeviceInfoSet,
                                PCWSTR MachineName, PVOID) {
    if (Enumerator != nullptr || DeviceInfoSet != nullptr || (MachineName != nullptr && *MachineName != L'\0')) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (ClassGuid == nullptr && (Flags & DIGCF_ALLCLASSES) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    auto host = hostNow();
    Host::Impl &im = HostAccess::impl(*host);
    auto set = std::make_shared<DevInfoSet>();
    set->host = host;
    {
        std::lock_guard<std::mutex> lock(host->mutex());
        im.settle();
        if (uint32_t e = im.callFault("SetupDiGetClassDevs")) {
            SetLastError(e);
            return INVALID_HANDLE_VALUE;
        }
        char want[40] = {};
        if (ClassGuid != nullptr && (Flags & DIGCF_ALLCLASSES) == 0)
            std::snprintf(want, sizeof want, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", ClassGuid->Data1,
                          ClassGuid->Data2, ClassGuid->Data3, ClassGuid->Data4[0], ClassGuid->Data4[1],
                          ClassGuid->Data4[2], ClassGuid->Data4[3], ClassGuid->Data4[4], ClassGuid->Data4[5],
                          ClassGuid->Data4[6], ClassGuid->Data4[7]);
        for (auto &kv : im.nodes) {
            if (kv.first == 1) continue;  // the root is not an installed device
            if (want[0] != '\0' && kv.second.classGuid != want) continue;
            set->devInsts.push_back(kv.first);
        }
        ++im.openSets;
    }
    SetLastError(ERROR_SUCCESS);
    return addHandle(set);
}

HDEVINFO SetupDiGetClassDevsW(const GUID *ClassGuid, PCWSTR Enumerator, HWND hwndParent, DWORD Flags) {
    return SetupDiGetClassDevsExW(ClassGuid, Enumerator, hwndParent, Flags, nullptr, nullptr, nullptr);
}

BOOL SetupDiGetDeviceInfoListDetailW(HDEVINFO set, PSP_DEVINFO_LIST_DETAIL_DATA_W detail) {
    auto s = findHandleAs<DevInfoSet>(set);
    if (!s) return fail(ERROR_INVALID_HANDLE);
    if (detail == nullptr || detail->cbSize != sizeof(SP_DEVINFO_LIST_DETAIL_DATA_W))
        return fail(ERROR_INVALID_USER_BUFFER);
    {
        std::lock_guard<std::mutex> lock(s->host->mutex());
        if (uint32_t e = HostAccess::impl(*s->host).callFault("SetupDiGetDeviceInfoListDetail")) return fail(e);
    }
    std::memset(&detail->ClassGuid, 0, sizeof detail->ClassGuid);
    detail->RemoteMachineHandle = nullptr;
    detail->RemoteMachineName[0] = L'\0';
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO set, DWORD index, PSP_DEVINFO_DATA data) {
    auto s = findHandleAs<DevInfoSet>(set);
    if (!s) return fail(ERROR_INVALID_HANDLE);
    if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA)) return fail(ERROR_INVALID_USER_BUFFER);
    if (index >= s->devInsts.size()) return fail(ERROR_NO_MORE_ITEMS);
    Host::Impl &im = HostAccess::impl(*s->host);
    std::lock_guard<std::mutex> lock(s->host->mutex());
    if (uint32_t e = im.callFault("SetupDiEnumDeviceInfo")) return fail(e);
    std::memset(&data->ClassGuid, 0, sizeof data->ClassGuid);
    auto it = im.nodes.find(s->devInsts[index]);
    if (it != im.nodes.end() && it->second.classGuid.size() == 38) {
        std::wstring g = widen(it->second.classGuid.substr(1, 36));
        UuidFromStringW(&g[0], &data->ClassGuid);
    }
    data->DevInst = s->devInsts[index];
    data->Reserved = 0;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO set, PSP_DEVINFO_DATA data, DWORD property, PDWORD type,
                                       PBYTE buffer, DWORD size, PDWORD required) {
    auto s = findHandleAs<DevInfoSet>(set);
    if (!s) return fail(ERROR_INVALID_HANDLE);
    if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA)) return fail(ERROR_INVALID_PARAMETER);
    if (buffer == nullptr && size != 0) return fail(ERROR_INVALID_USER_BUFFER);
    Host::Impl &im = HostAccess::impl(*s->host);
    std::lock_guard<std::mutex> lock(s->host->mutex());
    if (uint32_t e = im.callFault("SetupDiGetDeviceRegistryProperty")) return fail(e);
    auto it = im.nodes.find(data->DevInst);
    if (it == im.nodes.end()) return fail(ERROR_NO_SUCH_DEVINST);
    std::wstring value;
    DWORD t = REG_SZ;
    if (property > SPDRP_PHYSICAL_DEVICE_OBJECT_NAME + 0x20) return fail(ERROR_INVALID_REG_PROPERTY);
    if (!nodeProperty(it->second, property, value, t)) return fail(ERROR_INVALID_DATA);
    DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    if (required) *required = bytes;
    if (type) *type = t;
    if (buffer == nullptr || size < bytes) return fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(buffer, value.c_str(), bytes);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupDiGetDeviceInstanceIdW(HDEVINFO set, PSP_DEVINFO_DATA data, PWSTR id, DWORD size, PDWORD required) {
    auto s = findHandleAs<DevInfoSet>(set);
    if (!s) return fail(ERROR_INVALID_HANDLE);
    if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA)) return fail(ERROR_INVALID_PARAMETER);
    Host::Impl &im = HostAccess::impl(*s->host);
    std::lock_guard<std::mutex> lock(s->host->mutex());
    auto it = im.nodes.find(data->DevInst);
    if (it == im.nodes.end()) return fail(ERROR_NO_SUCH_DEVINST);
    const std::string &v = it->second.instanceId;
    if (required) *required = static_cast<DWORD>(v.size() + 1);
    if (!copyWide(v, id, size)) return fail(ERROR_INSUFFICIENT_BUFFER);
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupDiSetClassInstallParamsW(HDEVINFO set, PSP_DEVINFO_DATA data, PSP_CLASSINSTALL_HEADER params, DWORD size) {
    auto s = findHandleAs<DevInfoSet>(set);
    if (!s) return fail(ERROR_INVALID_HANDLE);
    if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA)) return fail(ERROR_INVALID_PARAMETER);
    {
        std::lock_guard<std::mutex> lock(s->host->mutex());
        if (uint32_t e = HostAccess::impl(*s->host).callFault("SetupDiSetClassInstallParams")) return fail(e);
    }
    if (params == nullptr) {
        s->removeParams.erase(data->DevInst);
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    if (params->cbSize != sizeof(SP_CLASSINSTALL_HEADER)) return fail(ERROR_INVALID_USER_BUFFER);
    if (params->InstallFunction == DIF_REMOVE) {
        if (size != sizeof(SP_REMOVEDEVICE_PARAMS)) return fail(ERROR_INVALID_PARAMETER);
        SP_REMOVEDEVICE_PARAMS p;
        std::memcpy(&p, params, sizeof p);
        if (p.Scope != DI_REMOVEDEVICE_GLOBAL && p.Scope != DI_REMOVEDEVICE_CONFIGSPECIFIC)
            return fail(ERROR_INVALID_FLAGS);
        s->removeParams[data->DevInst] = p;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupDiCallClassInstaller(DI_FUNCTION function, HDEVINFO set, PSP_DEVINFO_DATA data) {
    auto s = findHandleAs<DevInfoSet>(set);
    if (!s) return fail(ERROR_INVALID_HANDLE);
    if (data == nullptr || data->cbSize != sizeof(SP_DEVINFO_DATA)) return fail(ERROR_INVALID_PARAMETER);
    Host::Impl &im = HostAccess::impl(*s->host);
    std::lock_guard<std::mutex> lock(s->host->mutex());
    if (uint32_t e = im.callFault("SetupDiCallClassInstaller")) return fail(e);
    auto it = im.nodes.find(data->DevInst);
    if (it == im.nodes.end()) return fail(ERROR_NO_SUCH_DEVINST);
    if (function == DIF_REMOVE) {
        // Without parameters the default is a global removal, as on Windows.
        RemovalRecord record;
        record.instanceId = it->second.instanceId;
        auto p = s->removeParams.find(data->DevInst);
        if (p != s->removeParams.end()) {
            record.withParameters = true;
            record.scope = p->second.Scope;
            record.hwProfile = p->second.HwProfile;
        }
        im.removals.push_back(record);
        im.removedIds.push_back(it->second.instanceId);
        if (Lun *l = it->second.lun) {
            // Uninstalled for good: a deported LUN is taken away by the array,
            // so rescans do not bring it back until it is presented again.
            im.makeGone(*l);
            l->m_removed = true;
        } else {
            im.eraseNode(it->first);
        }
        if (im.rebootOnRemove) s->installFlags[data->DevInst] |= DI_NEEDREBOOT;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupDiGetDeviceInstallParamsW(HDEVINFO set, PSP_DEVINFO_DATA data, PSP_DEVINSTALL_PARAMS_W params) {
    auto s = findHandleAs<DevInfoSet>(set);
    if (!s) return fail(ERROR_INVALID_HANDLE);
    if (params == nullptr || params->cbSize != sizeof(SP_DEVINSTALL_PARAMS_W)) return fail(ERROR_INVALID_USER_BUFFER);
    {
        std::lock_guard<std::mutex> lock(s->host->mutex());
        if (uint32_t e = HostAccess::impl(*s->host).callFault("SetupDiGetDeviceInstallParams")) return fail(e);
    }
    DWORD cb = params->cbSize;
    std::memset(params, 0, sizeof *params);
    params->cbSize = cb;
    if (data != nullptr) {
        auto f = s->installFlags.find(data->DevInst);
        if (f != s->installFlags.end()) params->Flags = f->second;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) {
    auto s = findHandleAs<DevInfoSet>(set);
    if (!s || !removeHandle(set)) return fail(ERROR_INVALID_HANDLE);
    {
        std::lock_guard<std::mutex> lock(s->host->mutex());
        --HostAccess::impl(*s->host).openSets;
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

// ---------------------------------------------------------- time and names

void Sleep(DWORD ms) {
    auto host = hostNow();
    {
        Host::Impl &im = HostAccess::impl(*host);
        std::lock_guard<std::mutex> lock(host->mutex());
        im.sleeps.push_back(ms);
        if (im.virtualClock) {
            im.virtualNow += ms;
            im.settle();
            return;
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

ULONGLONG GetTickCount64(void) { return hostNow()->nowMs(); }
DWORD GetTickCount(void) { return static_cast<DWORD>(GetTickCount64()); }

} // extern "C"

namespace rendo_sim {
namespace detail {
// The host's computer name for GetComputerNameW; empty: use the fallbacks.
std::string simulatedComputerName() { return currentHost()->computerName(); }
} // namespace detail
} // namespace rendo_sim
