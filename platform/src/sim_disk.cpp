// A simulated disk: inquiry data and VPD pages from its description, an
// SPC-3 persistent-reservation model, scripted faults and a record of every
// command it receives.
#include "platform/simhost.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <set>

namespace rendo_sim {

namespace {

const uint8_t kGood = 0x00;
const uint8_t kCheckCondition = 0x02;
const uint8_t kBusy = 0x08;
const uint8_t kReservationConflict = 0x18;
const uint8_t kIllegalRequest = 0x05;

std::vector<uint8_t> fixedSense(uint8_t key, uint8_t asc, uint8_t ascq) {
    std::vector<uint8_t> s(18, 0);
    s[0] = 0x70;
    s[2] = key & 0x0F;
    s[7] = 10;
    s[12] = asc;
    s[13] = ascq;
    return s;
}

ScsiResult check(uint8_t key, uint8_t asc, uint8_t ascq) {
    ScsiResult r;
    r.status = kCheckCondition;
    r.sense = fixedSense(key, asc, ascq);
    return r;
}

ScsiResult status(uint8_t s) {
    ScsiResult r;
    r.status = s;
    return r;
}

void put(std::vector<uint8_t> &buf, size_t offset, const std::string &text, size_t width) {
    if (buf.size() < offset + width) buf.resize(offset + width, 0);
    for (size_t i = 0; i < width; ++i) buf[offset + i] = i < text.size() ? static_cast<uint8_t>(text[i]) : ' ';
}

void be32(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

void be64(uint8_t *p, uint64_t v) {
    be32(p, static_cast<uint32_t>(v >> 32));
    be32(p + 4, static_cast<uint32_t>(v));
}

uint64_t readBe64(const uint8_t *p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
    return v;
}

// Copies what fits of `data` into the request's buffer.
ScsiResult dataIn(const ScsiRequest &req, const std::vector<uint8_t> &data, size_t allocation) {
    ScsiResult r;
    size_t n = std::min({data.size(), allocation, req.dataLength});
    if (req.direction != DataDirection::In || req.data == nullptr) n = 0;
    if (n > 0) std::memcpy(req.data, data.data(), n);
    r.dataTransferred = n;
    return r;
}

struct Fault {
    enum Kind { Check, Status, Truncate } kind;
    uint8_t opcode;
    int page;
    uint8_t a, b, c;  // sense key/asc/ascq, or status in a
    size_t bytes;
    int times;
};

bool pageMatches(int page, const uint8_t *cdb, size_t len) {
    if (page == -1) return true;
    if (len < 3 || cdb[0] != 0x12) return false;
    bool evpd = (cdb[1] & 1) != 0;
    if (page == -2) return !evpd;
    return evpd && cdb[2] == page;
}

} // namespace

std::vector<uint8_t> parseHex(const std::string &hex, bool *ok) {
    std::vector<uint8_t> out;
    int nibble = -1;
    bool good = true;
    for (size_t i = 0; i < hex.size(); ++i) {
        char c = hex[i];
        if (c == ' ' || c == '\t' || c == ':' || c == '-' || c == ',') {
            if (nibble >= 0) {
                out.push_back(static_cast<uint8_t>(nibble));
                nibble = -1;
            }
            continue;
        }
        if (c == '0' && i + 1 < hex.size() && (hex[i + 1] == 'x' || hex[i + 1] == 'X') && nibble < 0) {
            ++i;
            continue;
        }
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else {
            good = false;
            continue;
        }
        if (nibble < 0) {
            nibble = v;
        } else {
            out.push_back(static_cast<uint8_t>(nibble * 16 + v));
            nibble = -1;
        }
    }
    if (nibble >= 0) good = false;  // an odd digit count is a typo, not a byte
    if (ok) *ok = good;
    return out;
}

// --------------------------------------------------------------- DiskSpec

DiskSpec DiskSpec::make(const std::string &vendor, const std::string &product, const std::string &revision,
                        const std::string &serial) {
    DiskSpec s;
    s.vendor = vendor;
    s.product = product;
    s.revision = revision;
    s.serial = serial;
    return s;
}

DiskSpec &DiskSpec::page(uint8_t code, const std::vector<uint8_t> &payload) {
    std::vector<uint8_t> p(4, 0);
    p[1] = code;
    size_t len = std::min<size_t>(payload.size(), 0xFFFF);
    p[2] = static_cast<uint8_t>(len >> 8);
    p[3] = static_cast<uint8_t>(len);
    p.insert(p.end(), payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(len));
    pages[code] = p;
    rawPageCodes.erase(std::remove(rawPageCodes.begin(), rawPageCodes.end(), code), rawPageCodes.end());
    return *this;
}

DiskSpec &DiskSpec::pageText(uint8_t code, const std::string &payload) {
    return page(code, std::vector<uint8_t>(payload.begin(), payload.end()));
}

DiskSpec &DiskSpec::rawPage(uint8_t code, const std::vector<uint8_t> &bytes) {
    pages[code] = bytes;
    if (std::find(rawPageCodes.begin(), rawPageCodes.end(), code) == rawPageCodes.end()) rawPageCodes.push_back(code);
    return *this;
}

DiskSpec &DiskSpec::pageAt(uint8_t code, size_t offset, const std::vector<uint8_t> &bytes) {
    if (offset < 4 || offset + bytes.size() > 0xFFFF + 4) return *this;
    std::vector<uint8_t> &p = pages[code];
    if (p.size() < 4) p = {0, code, 0, 0};
    if (p.size() < offset + bytes.size()) p.resize(offset + bytes.size(), 0);
    std::copy(bytes.begin(), bytes.end(), p.begin() + static_cast<std::ptrdiff_t>(offset));
    p[2] = static_cast<uint8_t>((p.size() - 4) >> 8);
    p[3] = static_cast<uint8_t>(p.size() - 4);
    return *this;
}

DiskSpec &DiskSpec::inquiryAt(size_t offset, const std::vector<uint8_t> &bytes) {
    if (offset < 4096) inquiryBytes[offset] = bytes;
    return *this;
}

DiskSpec &DiskSpec::inquiryTextAt(size_t offset, const std::string &text) {
    return inquiryAt(offset, std::vector<uint8_t>(text.begin(), text.end()));
}

namespace {
DiskSpec &designator(DiskSpec &s, uint8_t codeSet, uint8_t type, const std::vector<uint8_t> &id) {
    auto it = s.pages.find(0x83);
    std::vector<uint8_t> p = it != s.pages.end() ? it->second : std::vector<uint8_t>{0, 0x83, 0, 0};
    if (p.size() < 4) p.resize(4, 0);
    size_t len = std::min<size_t>(id.size(), 255);
    p.push_back(codeSet);
    p.push_back(type);  // association 0: the logical unit
    p.push_back(0);
    p.push_back(static_cast<uint8_t>(len));
    p.insert(p.end(), id.begin(), id.begin() + static_cast<std::ptrdiff_t>(len));
    size_t total = std::min<size_t>(p.size() - 4, 0xFFFF);
    p[2] = static_cast<uint8_t>(total >> 8);
    p[3] = static_cast<uint8_t>(total);
    s.pages[0x83] = p;
    return s;
}
} // namespace

DiskSpec &DiskSpec::naa(const std::string &hex) { return designator(*this, 0x01, 0x03, parseHex(hex)); }
DiskSpec &DiskSpec::t10(const std::string &text) {
    return designator(*this, 0x02, 0x01, std::vector<uint8_t>(text.begin(), text.end()));
}
DiskSpec &DiskSpec::eui64(const std::string &hex) { return designator(*this, 0x01, 0x02, parseHex(hex)); }
DiskSpec &DiskSpec::vendorSpecificId(const std::string &text) {
    return designator(*this, 0x02, 0x00, std::vector<uint8_t>(text.begin(), text.end()));
}

DiskSpec &DiskSpec::respond(const std::vector<uint8_t> &cdbPrefix, const std::vector<uint8_t> &data) {
    responses.emplace_back(cdbPrefix, data);
    return *this;
}

// ------------------------------------------------------------------- Disk

struct Disk::Impl {
    // An I_T nexus: initiator name and target port.
    struct Nexus {
        std::string initiator;
        uint32_t port = 0;
        bool operator==(const Nexus &o) const { return port == o.port && initiator == o.initiator; }
        bool operator<(const Nexus &o) const { return port != o.port ? port < o.port : initiator < o.initiator; }
    };
    struct UnitAttention {
        uint8_t asc, ascq;
        std::string initiator;       // empty: every initiator
        std::set<Nexus> reported;
    };
    struct Scripted {
        SanFault kind;
        int opcode;
        unsigned after;
        int times;
    };

    mutable std::mutex mutex;
    std::vector<CommandRecord> log;
    std::vector<Fault> faults;
    std::vector<Scripted> sanFaults;
    std::vector<UnitAttention> attentions;
    std::set<uint32_t> targetPorts;
    // Persistent reservations.
    uint32_t generation = 0;
    std::vector<Registration> regs;
    bool reserved = false;
    Nexus holder;
    uint8_t type = 0;

    static Nexus nexusOf(const Registration &r) { return {r.initiator, r.targetPort}; }
    Registration *find(const Nexus &n) {
        for (auto &r : regs)
            if (nexusOf(r) == n) return &r;
        return nullptr;
    }
    static bool allRegistrants(uint8_t t) { return t == 7 || t == 8; }
    // Registrants-only types keep the one nexus that reserved as holder;
    // all-registrants types make every registered nexus one.
    bool isHolder(const Nexus &n) {
        if (!reserved) return false;
        if (allRegistrants(type)) return find(n) != nullptr;
        return holder == n;
    }
    uint64_t reservationKey() {
        if (!reserved || allRegistrants(type)) return 0;
        Registration *r = find(holder);
        return r ? r->key : 0;
    }
    void releaseReservation() {
        reserved = false;
        holder = Nexus();
        type = 0;
    }
    void unregister(const Nexus &n) {
        bool wasHolder = reserved && !allRegistrants(type) && holder == n;
        regs.erase(std::remove_if(regs.begin(), regs.end(), [&](const Registration &r) { return nexusOf(r) == n; }),
                   regs.end());
        if (wasHolder || (reserved && allRegistrants(type) && regs.empty())) releaseReservation();
    }
    void registerNexus(const Nexus &n, uint64_t key) {
        if (Registration *r = find(n)) r->key = key;
        else regs.push_back({n.initiator, key, n.port});
    }
    // REGISTER with ALL_TG_PT: every target port of the logical unit.
    void registerAllPorts(const Nexus &n, uint64_t key) {
        registerNexus(n, key);
        for (uint32_t port : targetPorts) registerNexus({n.initiator, port}, key);
    }
    // The shared state directory and the unit's name in it; null: in-process.
    std::shared_ptr<SanStateDir> shared;
    std::string identity;
    ReservationState capture() {
        ReservationState s;
        s.generation = generation;
        s.registrations = regs;
        s.reserved = reserved;
        s.holder = holder.initiator;
        s.holderTargetPort = holder.port;
        s.key = reservationKey();
        s.type = type;
        return s;
    }
    void adopt(const ReservationState &s) {
        generation = s.generation;
        regs = s.registrations;
        reserved = s.reserved;
        holder = s.reserved ? Nexus{s.holder, s.holderTargetPort} : Nexus();
        type = s.reserved ? s.type : 0;
    }
    // Runs f on the reservation state: in-process, or read from the shared
    // file and written back under its lock. Called with `mutex` held.
    template <class F> void withState(F f) {
        if (!shared) {
            f();
            return;
        }
        shared->update(identity, [&](LuState &s) {
            adopt(s.reservation);
            f();
            s.reservation = capture();
        });
    }
    ScsiResult prOut(const ScsiRequest &req, const Nexus &nexus);
    ScsiResult prIn(const ScsiRequest &req);
    bool mediaConflict(const Nexus &nexus, bool write);
    bool pendingAttention(const Nexus &nexus, uint8_t opcode, ScsiResult &result);
};

Disk::Disk(DiskSpec desc) : m_spec(std::move(desc)), m_impl(new Impl) {}
Disk::~Disk() = default;

std::vector<uint8_t> Disk::standardInquiry() const {
    if (!m_spec.rawInquiry.empty()) return m_spec.rawInquiry;
    size_t len = std::max<size_t>(m_spec.inquiryLength, 36);
    for (const auto &kv : m_spec.inquiryBytes) len = std::max(len, kv.first + kv.second.size());
    len = std::min<size_t>(len, 255);
    std::vector<uint8_t> d(len, 0);
    d[0] = m_spec.peripheral;
    d[2] = 0x05;   // SPC-3
    d[3] = 0x02;   // response data format 2
    d[4] = static_cast<uint8_t>(len - 5);
    d[7] = 0x02;   // command queueing
    put(d, 8, m_spec.vendor, 8);
    put(d, 16, m_spec.product, 16);
    put(d, 32, m_spec.revision, 4);
    for (const auto &kv : m_spec.inquiryBytes)
        for (size_t i = 0; i < kv.second.size() && kv.first + i < d.size(); ++i) d[kv.first + i] = kv.second[i];
    return d;
}

std::vector<uint8_t> Disk::vpdPage(uint8_t code) const {
    auto it = m_spec.pages.find(code);
    if (it != m_spec.pages.end()) {
        std::vector<uint8_t> p = it->second;
        bool raw = std::find(m_spec.rawPageCodes.begin(), m_spec.rawPageCodes.end(), code) != m_spec.rawPageCodes.end();
        if (!p.empty() && !raw) p[0] = m_spec.peripheral;
        return p;
    }
    if (code == 0x80 && !m_spec.serial.empty()) {
        std::vector<uint8_t> p{m_spec.peripheral, 0x80, 0, 0};
        size_t n = std::min<size_t>(m_spec.serial.size(), 251);
        p[3] = static_cast<uint8_t>(n);
        p.insert(p.end(), m_spec.serial.begin(), m_spec.serial.begin() + static_cast<std::ptrdiff_t>(n));
        return p;
    }
    if (code == 0x00 && m_spec.listPage00) {
        std::vector<uint8_t> codes{0x00};
        for (const auto &kv : m_spec.pages)
            if (kv.first != 0) codes.push_back(kv.first);
        if (!m_spec.serial.empty() && !m_spec.pages.count(0x80)) codes.push_back(0x80);
        std::sort(codes.begin(), codes.end());
        std::vector<uint8_t> p{m_spec.peripheral, 0x00, 0, static_cast<uint8_t>(codes.size())};
        p.insert(p.end(), codes.begin(), codes.end());
        return p;
    }
    return {};
}

bool Disk::Impl::mediaConflict(const Nexus &initiator, bool write) {
    if (!reserved || isHolder(initiator)) return false;
    switch (type) {
    case 1: return write;                           // write exclusive
    case 3: return true;                            // exclusive access
    case 5: case 7: return write && !find(initiator);  // registrants only / all registrants
    case 6: case 8: return !find(initiator);
    default: return false;
    }
}

ScsiResult Disk::Impl::prOut(const ScsiRequest &req, const Nexus &nexus) {
    const uint8_t *cdb = req.cdb;
    if (req.cdbLength < 10) return check(kIllegalRequest, 0x24, 0x00);
    uint8_t action = cdb[1] & 0x1F;
    uint8_t scope = cdb[2] >> 4;
    uint8_t t = cdb[2] & 0x0F;
    uint32_t listLength = (uint32_t(cdb[5]) << 24) | (uint32_t(cdb[6]) << 16) | (uint32_t(cdb[7]) << 8) | cdb[8];
    if (listLength != 24) return check(kIllegalRequest, 0x1A, 0x00);  // parameter list length error
    if (req.direction != DataDirection::Out || req.data == nullptr || req.dataLength < 24)
        return check(kIllegalRequest, 0x26, 0x00);
    uint64_t key = readBe64(req.data);
    uint64_t saKey = readBe64(req.data + 8);
    if (req.data[20] & 0x09)  // SPEC_I_PT, APTPL: not offered
        return check(kIllegalRequest, 0x26, 0x00);
    // ALL_TG_PT counts for the two registering actions only.
    bool allPorts = (req.data[20] & 0x04) != 0;
    Registration *me = find(nexus);
    bool needsType = action == 1 || action == 2 || action == 4 || action == 5;
    bool validType = t == 1 || t == 3 || t == 5 || t == 6 || t == 7 || t == 8;
    switch (action) {
    case 0:  // REGISTER: only the nexus it arrives on, unless ALL_TG_PT
        if (!me) {
            if (key != 0) return status(kReservationConflict);
            if (saKey == 0) return status(kGood);  // nothing to register, nothing to remove
            if (allPorts) registerAllPorts(nexus, saKey);
            else registerNexus(nexus, saKey);
            ++generation;
            return status(kGood);
        }
        if (me->key != key) return status(kReservationConflict);
        if (saKey == 0) unregister(nexus);
        else if (allPorts) registerAllPorts(nexus, saKey);
        else me->key = saKey;
        ++generation;
        return status(kGood);
    case 6:  // REGISTER AND IGNORE EXISTING KEY
        if (saKey == 0) {
            if (me) {
                unregister(nexus);
                ++generation;
            }
            return status(kGood);
        }
        if (allPorts) registerAllPorts(nexus, saKey);
        else registerNexus(nexus, saKey);
        ++generation;
        return status(kGood);
    default:
        break;
    }
    if (action > 6) return check(kIllegalRequest, 0x24, 0x00);  // REGISTER AND MOVE and beyond
    if (!me || me->key != key) return status(kReservationConflict);
    if (needsType && action != 2 && (scope != 0 || !validType)) return check(kIllegalRequest, 0x24, 0x00);
    switch (action) {
    case 1:  // RESERVE
        if (!reserved) {
            reserved = true;
            holder = nexus;
            type = t;
            return status(kGood);
        }
        if (isHolder(nexus) && type == t) return status(kGood);
        return status(kReservationConflict);
    case 2:  // RELEASE: only the holder's releases anything
        if (!reserved || !isHolder(nexus)) return status(kGood);
        if (scope != 0 || type != t) return check(kIllegalRequest, 0x26, 0x04);  // invalid release
        releaseReservation();
        return status(kGood);
    case 3:  // CLEAR
        regs.clear();
        releaseReservation();
        ++generation;
        return status(kGood);
    case 4:
    case 5: {  // PREEMPT, PREEMPT AND ABORT (no tasks to abort here)
        // Every nexus registered with the key goes, except the one preempting.
        auto removeKey = [&](uint64_t k) {
            size_t before = regs.size();
            regs.erase(std::remove_if(regs.begin(), regs.end(),
                                      [&](const Registration &r) { return r.key == k && !(nexusOf(r) == nexus); }),
                       regs.end());
            return before - regs.size();
        };
        if (reserved && allRegistrants(type)) {
            if (saKey == 0) {
                regs.erase(std::remove_if(regs.begin(), regs.end(),
                                          [&](const Registration &r) { return !(nexusOf(r) == nexus); }),
                           regs.end());
                holder = nexus;
                type = t;
            } else if (removeKey(saKey) == 0) {
                return status(kReservationConflict);
            }
            ++generation;
            return status(kGood);
        }
        if (reserved && saKey == reservationKey()) {
            // The holder's key goes (the holder with it, unless it is the
            // preemptor); the preemptor holds with the new type.
            removeKey(saKey);
            holder = nexus;
            type = t;
            ++generation;
            return status(kGood);
        }
        if (saKey == 0) return check(kIllegalRequest, 0x26, 0x00);
        if (removeKey(saKey) == 0) return status(kReservationConflict);
        ++generation;
        return status(kGood);
    }
    default:
        return check(kIllegalRequest, 0x24, 0x00);
    }
}

bool Disk::Impl::pendingAttention(const Nexus &nexus, uint8_t opcode, ScsiResult &result) {
    if (opcode == 0x12 || opcode == 0xA0) return false;  // INQUIRY, REPORT LUNS: neither report nor clear it
    for (UnitAttention &ua : attentions) {
        if (!ua.initiator.empty() && ua.initiator != nexus.initiator) continue;
        if (!ua.reported.insert(nexus).second) continue;
        result = check(0x06, ua.asc, ua.ascq);
        return true;
    }
    return false;
}

ScsiResult Disk::Impl::prIn(const ScsiRequest &req) {
    const uint8_t *cdb = req.cdb;
    if (req.cdbLength < 10) return check(kIllegalRequest, 0x24, 0x00);
    size_t allocation = (size_t(cdb[7]) << 8) | cdb[8];
    std::vector<uint8_t> d(8, 0);
    be32(d.data(), generation);
    switch (cdb[1] & 0x1F) {
    case 0:  // READ KEYS
        for (const auto &r : regs) {
            size_t at = d.size();
            d.resize(at + 8);
            be64(d.data() + at, r.key);
        }
        be32(d.data() + 4, static_cast<uint32_t>(d.size() - 8));
        break;
    case 1:  // READ RESERVATION
        if (reserved) {
            d.resize(24, 0);
            be64(d.data() + 8, reservationKey());
            d[21] = type;  // scope 0 (logical unit) in the high nibble
            be32(d.data() + 4, 16);
        }
        break;
    case 2:  // REPORT CAPABILITIES
        d.assign(8, 0);
        d[1] = 8;
        d[3] = 0x80;   // type mask valid
        d[4] = 0xEA;   // WR_EX_AR, EX_AC_RO, WR_EX_RO, EX_AC, WR_EX
        d[5] = 0x01;   // EX_AC_AR
        break;
    default:
        return check(kIllegalRequest, 0x24, 0x00);
    }
    return dataIn(req, d, allocation);
}

ScsiResult Disk::execute(const ScsiRequest &req, const std::string &initiator, DiskBackend *backend) {
    return execute(req, initiator, kDefaultTargetPort, backend);
}

uint32_t Disk::defaultTargetPort(const ScsiAddress &a) {
    if (a.targetPort != 0) return a.targetPort;
    return (uint32_t{a.port} << 16 | uint32_t{a.bus} << 8 | a.target) + 1;
}

void Disk::addTargetPort(uint32_t port) {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->targetPorts.insert(port);
}

std::vector<uint32_t> Disk::targetPorts() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return std::vector<uint32_t>(m_impl->targetPorts.begin(), m_impl->targetPorts.end());
}

ScsiResult Disk::execute(const ScsiRequest &req, const std::string &initiator, uint32_t targetPort,
                         DiskBackend *backend) {
    CommandRecord rec;
    if (req.cdb != nullptr) rec.cdb.assign(req.cdb, req.cdb + req.cdbLength);
    rec.direction = req.direction;
    rec.dataLength = req.dataLength;
    if (req.direction == DataDirection::Out && req.data != nullptr)
        rec.dataOut.assign(req.data, req.data + req.dataLength);
    rec.initiator = initiator;
    rec.targetPort = targetPort;
    const Impl::Nexus nexus{initiator, targetPort};

    ScsiResult result;
    bool faulted = false;
    size_t truncateTo = SIZE_MAX;
    std::unique_lock<std::mutex> lock(m_impl->mutex);
    if (req.cdb == nullptr || req.cdbLength == 0) {
        result = check(kIllegalRequest, 0x20, 0x00);
        faulted = true;
    }
    // What the SAN does to the command before (or instead of) answering it.
    bool loseAnswer = false;
    SanFault lost = SanFault::Busy;
    for (auto it = m_impl->sanFaults.begin(); !faulted && it != m_impl->sanFaults.end(); ++it) {
        Impl::Scripted &f = *it;
        if (f.times == 0 || (f.opcode >= 0 && f.opcode != req.cdb[0])) continue;
        if (f.after > 0) {
            --f.after;
            continue;
        }
        if (f.times > 0) --f.times;
        if (f.kind == SanFault::TimeOutAfterExecuting || f.kind == SanFault::TransportDropAfterExecuting) {
            loseAnswer = true;
            lost = f.kind;
            break;
        }
        faulted = true;
        if (f.kind == SanFault::Busy) {
            result = status(kBusy);
        } else {
            result.transportError = true;
            result.timedOut = f.kind == SanFault::TimeOut;
            result.transportMessage = result.timedOut ? "command timed out" : "transport dropped";
        }
        break;
    }
    if (!faulted && m_impl->pendingAttention(nexus, req.cdb[0], result)) {
        faulted = true;
        if (req.cdb[0] == 0x03) {  // REQUEST SENSE hands the condition over as data
            std::vector<uint8_t> sense = result.sense;
            result = dataIn(req, sense, req.cdbLength >= 5 ? req.cdb[4] : 0);
        }
    }
    for (auto it = m_impl->faults.begin(); !faulted && it != m_impl->faults.end(); ++it) {
        Fault &f = *it;
        if (f.times == 0 || f.opcode != req.cdb[0] || !pageMatches(f.page, req.cdb, req.cdbLength)) continue;
        if (f.times > 0) --f.times;
        if (f.kind == Fault::Truncate) {
            truncateTo = std::min(truncateTo, f.bytes);
            continue;
        }
        result = f.kind == Fault::Check ? check(f.a, f.b, f.c) : status(f.a);
        faulted = true;
    }
    if (!faulted && backend != nullptr) {
        lock.unlock();  // a real target may take its time; the model's state is not involved
        result = backend->execute(req);
        lock.lock();
    } else if (!faulted) {
        auto model = [&] {
            const uint8_t *cdb = req.cdb;
            uint8_t op = cdb[0];
            bool canned = false;
            for (const auto &resp : m_spec.responses) {
                if (resp.first.empty() || resp.first.size() > req.cdbLength) continue;
                if (std::equal(resp.first.begin(), resp.first.end(), cdb)) {
                    result = dataIn(req, resp.second, SIZE_MAX);
                    canned = true;
                    break;
                }
            }
            if (canned) {
            } else if (op == 0x12) {  // INQUIRY
                size_t allocation = req.cdbLength >= 5 ? ((size_t(cdb[3]) << 8) | cdb[4]) : 0;
                if (req.cdbLength < 6) result = check(kIllegalRequest, 0x24, 0x00);
                else if (cdb[1] & 1) {
                    std::vector<uint8_t> p = vpdPage(cdb[2]);
                    result = p.empty() ? check(kIllegalRequest, 0x24, 0x00) : dataIn(req, p, allocation);
                } else if (cdb[2] != 0) {
                    result = check(kIllegalRequest, 0x24, 0x00);
                } else {
                    result = dataIn(req, standardInquiry(), allocation);
                }
            } else if (op == 0x00) {  // TEST UNIT READY
                result = status(kGood);
            } else if (op == 0x03) {  // REQUEST SENSE: nothing pending
                result = dataIn(req, fixedSense(0, 0, 0), req.cdbLength >= 5 ? cdb[4] : 0);
            } else if (op == 0x25) {  // READ CAPACITY (10)
                std::vector<uint8_t> d(8);
                uint64_t last = m_spec.blocks ? m_spec.blocks - 1 : 0;
                be32(d.data(), last > 0xFFFFFFFEu ? 0xFFFFFFFFu : static_cast<uint32_t>(last));
                be32(d.data() + 4, m_spec.blockSize);
                result = dataIn(req, d, 8);
            } else if (op == 0x9E && req.cdbLength >= 14 && (cdb[1] & 0x1F) == 0x10) {  // READ CAPACITY (16)
                std::vector<uint8_t> d(32, 0);
                be64(d.data(), m_spec.blocks ? m_spec.blocks - 1 : 0);
                be32(d.data() + 8, m_spec.blockSize);
                size_t allocation =
                    (size_t(cdb[10]) << 24) | (size_t(cdb[11]) << 16) | (size_t(cdb[12]) << 8) | cdb[13];
                result = dataIn(req, d, allocation);
            } else if (op == 0x5E) {
                result = m_impl->prIn(req);
            } else if (op == 0x5F) {
                result = m_impl->prOut(req, nexus);
            } else if (op == 0x28 || op == 0x88 || op == 0x2A || op == 0x8A) {  // READ / WRITE (10, 16)
                bool write = op == 0x2A || op == 0x8A;
                if (m_impl->mediaConflict(nexus, write)) {
                    result = status(kReservationConflict);
                } else if (write) {
                    result = status(kGood);
                    result.dataTransferred = req.dataLength;
                } else {
                    // The model keeps no blocks: reads return zeros.
                    if (req.direction == DataDirection::In && req.data) std::memset(req.data, 0, req.dataLength);
                    result = status(kGood);
                    result.dataTransferred = req.direction == DataDirection::In ? req.dataLength : 0;
                }
            } else if (op == 0x16 || op == 0x17) {  // RESERVE(6) / RELEASE(6) meet persistent reservations
                result = m_impl->reserved || !m_impl->regs.empty() ? status(kReservationConflict) : status(kGood);
            } else {
                result = check(kIllegalRequest, 0x20, 0x00);  // invalid command operation code
            }
        };
        // Only the commands that meet registrations and the reservation
        // touch the (possibly shared) array state.
        switch (req.cdb[0]) {
        case 0x5E: case 0x5F: case 0x28: case 0x88: case 0x2A: case 0x8A: case 0x16: case 0x17:
            m_impl->withState(model);
            break;
        default:
            model();
        }
    }
    if (truncateTo != SIZE_MAX && result.dataTransferred > truncateTo) result.dataTransferred = truncateTo;
    if (loseAnswer) {
        // Carried out, but the initiator never hears of it.
        result = ScsiResult();
        result.transportError = true;
        result.timedOut = lost == SanFault::TimeOutAfterExecuting;
        result.transportMessage = result.timedOut ? "command timed out" : "transport dropped";
    }
    rec.status = result.transportError ? 0xFF : result.status;
    m_impl->log.push_back(std::move(rec));
    return result;
}

std::vector<CommandRecord> Disk::commands() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->log;
}

std::vector<CommandRecord> Disk::commandsFrom(const std::string &initiator) const {
    std::vector<CommandRecord> out;
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    for (const auto &r : m_impl->log)
        if (r.initiator == initiator) out.push_back(r);
    return out;
}

size_t Disk::count(uint8_t opcode) const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return static_cast<size_t>(std::count_if(m_impl->log.begin(), m_impl->log.end(),
                                             [&](const CommandRecord &r) { return r.opcode() == opcode; }));
}

void Disk::clearCommands() {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->log.clear();
}

ReservationState Disk::reservation() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    if (m_impl->shared) return m_impl->shared->read(m_impl->identity).reservation;
    return m_impl->capture();
}

void Disk::clearReservations() {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->withState([&] {
        m_impl->regs.clear();
        m_impl->releaseReservation();
    });
}

Disk &Disk::failCommand(uint8_t opcode, uint8_t senseKey, uint8_t asc, uint8_t ascq, int times, int page) {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->faults.push_back({Fault::Check, opcode, page, senseKey, asc, ascq, 0, times});
    return *this;
}

Disk &Disk::answerStatus(uint8_t opcode, uint8_t st, int times, int page) {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->faults.push_back({Fault::Status, opcode, page, st, 0, 0, 0, times});
    return *this;
}

Disk &Disk::truncate(uint8_t opcode, size_t bytes, int times, int page) {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->faults.push_back({Fault::Truncate, opcode, page, 0, 0, 0, bytes, times});
    return *this;
}

Disk &Disk::sanFault(SanFault kind, unsigned after, int times, int opcode) {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->sanFaults.push_back({kind, opcode, after, times});
    return *this;
}

Disk &Disk::unitAttention(uint8_t asc, uint8_t ascq, const std::string &initiator) {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->attentions.push_back({asc, ascq, initiator, {}});
    return *this;
}

Disk &Disk::powerOnReset() {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->withState([&] {
        m_impl->regs.clear();
        m_impl->releaseReservation();
        m_impl->generation = 0;
    });
    m_impl->attentions.clear();
    m_impl->attentions.push_back({0x29, 0x00, std::string(), {}});
    return *this;
}

void Disk::clearFaults() {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->faults.clear();
    m_impl->sanFaults.clear();
    m_impl->attentions.clear();
}

void Disk::shareState(std::shared_ptr<SanStateDir> directory, const std::string &identity) {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    m_impl->shared = std::move(directory);
    m_impl->identity = identity;
}

std::string Disk::sharedStatePath() const {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    return m_impl->shared ? m_impl->shared->pathOf(m_impl->identity) : std::string();
}

Masking Disk::masking() const {
    std::shared_ptr<SanStateDir> shared;
    std::string identity;
    {
        std::lock_guard<std::mutex> lock(m_impl->mutex);
        shared = m_impl->shared;
        identity = m_impl->identity;
    }
    return shared ? shared->read(identity).masking : Masking::Unset;
}

void Disk::setMasking(Masking masking) {
    std::lock_guard<std::mutex> lock(m_impl->mutex);
    if (m_impl->shared) m_impl->shared->update(m_impl->identity, [&](LuState &s) { s.masking = masking; });
}

} // namespace rendo_sim
