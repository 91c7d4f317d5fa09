// The simulated host's device tree: adapters and disk nodes with their
// installation data, the paths that come and go (masking, scripted
// appearance, rescans, removal) and the DOS device namespace.
#include "sim_host_impl.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace rendo_sim {

using namespace detail;

namespace {

const char kAdapterClass[] = "{4D36E97B-E325-11CE-BFC1-08002BE10318}";
const char kDiskClass[] = "{4D36E967-E325-11CE-BFC1-08002BE10318}";

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

uint32_t Host::Impl::addNode(Node n) {
    n.devInst = nextDevInst++;
    nodes[n.devInst] = n;
    byInstanceId.emplace(upper(n.instanceId), n.devInst);
    return n.devInst;
}

void Host::Impl::eraseNode(uint32_t devInst) {
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

Lun *Host::Impl::drive(const std::string &name) const {
    static const std::string kDrive = "PHYSICALDRIVE";
    if (name.size() <= kDrive.size() || name.size() > kDrive.size() + 9 ||
        name.compare(0, kDrive.size(), kDrive) != 0 ||
        name.find_first_not_of("0123456789", kDrive.size()) != std::string::npos ||
        (name[kDrive.size()] == '0' && name.size() != kDrive.size() + 1))
        return nullptr;
    size_t number = std::stoul(name.substr(kDrive.size()));
    return number < drives.size() ? drives[number] : nullptr;
}

Adapter &Host::Impl::adapter(uint8_t port) {
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

void Host::Impl::makePresent(Lun &l) {
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
    l.m_sanMasked = false;
    l.m_scenario = false;
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

void Host::Impl::makeGone(Lun &l) {
    if (!l.m_present) return;
    eraseNode(l.m_devInst);
    drives[size_t(l.m_driveNumber)] = nullptr;
    freeDrives.insert(size_t(l.m_driveNumber));
    l.m_devInst = 0;
    l.m_present = false;
    l.m_driveNumber = -1;
}

// Whether a path that is not present comes (back) now.
void Host::Impl::consider(Lun &l, bool rescan) {
    if (l.m_present || l.m_unplugged || l.m_removed) return;
    if (l.m_masked) {
        if (rescan) followSanMasking(l);
        return;
    }
    if (rescan && l.m_rescansNeeded > 0 && l.m_rescansNeeded != Lun::kNeverByBus) --l.m_rescansNeeded;
    if (l.m_rescansNeeded > 0) return;
    if (l.m_timed) {
        if (now() < l.m_appearAtMs) return;
        if (l.m_appearNeedsRescan && !rescan) return;
    }
    if (l.m_waitRescan && !rescan) return;
    l.m_timed = false;
    appear(l);
}

void Host::Impl::appear(Lun &l) {
    bool scenario = l.m_scenario;
    makePresent(l);
    // The array has presented the unit: hosts of other processes that wait
    // for it masked find it on their next rescan.
    Masking m = scenario ? l.m_disk->masking() : Masking::Unset;
    if (scenario && m != Masking::UnmaskedByTest && m != Masking::UnmaskedByScenario)
        l.m_disk->setMasking(Masking::UnmaskedByScenario);
}

void Host::Impl::followSanMasking(Lun &l) {
    if (l.m_unplugged || l.m_removed) return;
    if (!l.m_present && !(l.m_masked && l.m_sanMasked)) return;
    Masking m = l.m_disk->masking();  // Unset unless the unit's state is shared
    if (l.m_present && m == Masking::Masked) {
        makeGone(l);
        l.m_masked = true;
        l.m_sanMasked = true;
    } else if (!l.m_present && (m == Masking::UnmaskedByTest || m == Masking::UnmaskedByScenario)) {
        l.m_masked = false;
        makePresent(l);
    }
}

void Host::Impl::rescanPort(uint8_t port) {
    ++adapter(port).rescans;
    for (auto &l : luns)
        if (l->m_address.port == port) {
            if (l->m_present) followSanMasking(*l);
            else consider(*l, true);
        }
}

void Host::Impl::rescanRoot() {
    ++rootRescans;
    // What only a walk of the whole tree finds comes first; then each
    // adapter counts this as one rescan of its bus.
    for (auto &l : luns)
        if (l->m_treeRescanReveals && !l->m_present && !l->m_masked && !l->m_unplugged && !l->m_removed) {
            l->m_rescansNeeded = 0;
            l->m_timed = false;
            l->m_treeRescanReveals = false;
            appear(*l);
        }
    std::vector<uint8_t> ports;
    for (auto &kv : adapters) ports.push_back(kv.first);
    for (uint8_t p : ports) rescanPort(p);
}

// Lets asynchronous and timed events that are due take effect.
void Host::Impl::settle() {
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

// ------------------------------------------------------------------- Lun

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
    m_scenario = n > 0;
    m_sanMasked = false;
    if (n == 0) m_host->m_impl->consider(*this, false);
    return *this;
}

Lun &Lun::appearOnTreeRescan() {
    std::lock_guard<std::mutex> lock(m_host->mutex());
    m_host->m_impl->makeGone(*this);
    m_removed = false;
    m_rescansNeeded = kNeverByBus;
    m_treeRescanReveals = true;
    m_scenario = true;
    m_sanMasked = false;
    return *this;
}

Lun &Lun::appearAt(uint64_t ms, bool needsRescan) {
    std::lock_guard<std::mutex> lock(m_host->mutex());
    m_host->m_impl->makeGone(*this);
    m_removed = false;
    if (m_rescansNeeded == kNeverByBus) m_rescansNeeded = 0;
    m_treeRescanReveals = false;
    m_timed = true;
    m_scenario = true;
    m_sanMasked = false;
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
    m_sanMasked = true;
    m_scenario = false;
    m_disk->setMasking(Masking::Masked);
    return *this;
}

Lun &Lun::unmask() {
    std::lock_guard<std::mutex> lock(m_host->mutex());
    if (m_masked) m_disk->setMasking(Masking::UnmaskedByTest);
    if (m_masked || m_removed) {
        m_masked = false;
        m_sanMasked = false;
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

// ------------------------------------------------------------------ Host

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

} // namespace rendo_sim

using namespace rendo_sim;
using namespace rendo_sim::detail;

extern "C" {

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
