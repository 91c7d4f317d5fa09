// Host description files (format in examples/host-description.md) and the
// embedded default host.
#include "sim_internal.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace rendo_sim {

namespace {

// Paths (every disk has at least one) a description may give. Large hosts
// see thousands of LUN paths; the bound keeps a runaway or hostile file from
// building an unbounded host, and 65,536 drives' DOS names still fit the
// largest DOS device list discovery reads (CPnpManager::kMaxDosListCapacity).
const size_t kMaxPaths = 65536;
const size_t kMaxIpAddresses = 16;
const size_t kMaxLineLength = 65536;

struct DiskDecl {
    DiskSpec desc;
    std::vector<ScsiAddress> paths;
    std::map<size_t, uint32_t> pathClaimLevels; // by index into paths: that path's own level
    bool vanishAfterListing = false;
    unsigned appearAfterRescans = 0;
    bool timed = false;
    uint64_t appearAtMs = 0;
    bool masked = false;
    bool failOpen = false;
    bool claimed = false;
    uint32_t claimLevel = 1;
    uint32_t openError = ERROR_FILE_NOT_FOUND;
    unsigned line = 0;
};

struct Parser {
    std::string error;      // the first reason, without its line
    unsigned errorLine = 0; // the line it was found on
    unsigned lineNo = 0;
    size_t pathCount = 0;   // paths declared so far, default addresses included

    bool fail(const std::string &what) {
        if (error.empty()) {
            error = what;
            errorLine = lineNo;
        }
        return false;
    }

    // One more path (a disk's first, or a "path" line), within kMaxPaths.
    bool countPath(const char *what) {
        if (pathCount >= kMaxPaths)
            return fail(std::string("too many ") + what + " (limit " + std::to_string(kMaxPaths) + ")");
        ++pathCount;
        return true;
    }

    static std::string trim(const std::string &s) {
        size_t b = s.find_first_not_of(" \t\r");
        if (b == std::string::npos) return "";
        size_t e = s.find_last_not_of(" \t\r");
        return s.substr(b, e - b + 1);
    }

    // A text value: as written, or between double quotes to keep outer blanks.
    static std::string text(const std::string &v) {
        if (v.size() >= 2 && v.front() == '"' && v.back() == '"') return v.substr(1, v.size() - 2);
        return v;
    }

    bool number(const std::string &v, uint64_t max, uint64_t &out) {
        if (v.empty() || v[0] == '-' || v[0] == '+') return fail("not a number: \"" + v.substr(0, 40) + "\"");
        errno = 0;
        char *end = nullptr;
        unsigned long long n = std::strtoull(v.c_str(), &end, 0);
        if (errno != 0 || end == v.c_str() || *end != '\0' || n > max)
            return fail("not a number up to " + std::to_string(max) + ": \"" + v.substr(0, 40) + "\"");
        out = n;
        return true;
    }

    // Leading numeric field(s), then the rest.
    bool split(const std::string &v, std::string &first, std::string &rest) {
        size_t sp = v.find_first_of(" \t");
        first = v.substr(0, sp);
        rest = sp == std::string::npos ? "" : trim(v.substr(sp));
        return !first.empty();
    }

    bool hex(const std::string &v, std::vector<uint8_t> &out, size_t max) {
        bool ok = true;
        out = parseHex(v, &ok);
        if (!ok) return fail("not hexadecimal bytes: \"" + v.substr(0, 40) + "\"");
        if (out.size() > max) return fail("too many bytes");
        return true;
    }

    // PORT BUS TARGET LUN, optionally followed by "claim-level N" (the
    // level of this one path; *claimLevel when given, else none allowed).
    bool address(const std::string &v, ScsiAddress &a, bool *hasLevel = nullptr, uint32_t *claimLevel = nullptr) {
        std::istringstream in(v);
        // Optional "target-port N" and "claim-level N", each at most once, in either order.
        std::string f[4], word, port, level;
        const char *form = hasLevel != nullptr ? "an address is PORT BUS TARGET LUN [target-port N] [claim-level N]"
                                               : "an address is PORT BUS TARGET LUN [target-port N]";
        if (!(in >> f[0] >> f[1] >> f[2] >> f[3])) return fail(form);
        if (hasLevel != nullptr) *hasLevel = false;
        while (in >> word) {
            std::string &slot = word == "target-port" ? port : level;
            if ((word != "target-port" && (word != "claim-level" || hasLevel == nullptr)) || !slot.empty() ||
                !(in >> slot))
                return fail(form);
        }
        if (!level.empty()) {
            uint64_t n = 0;
            if (!number(level, UINT32_MAX, n)) return false;
            *hasLevel = true;
            *claimLevel = static_cast<uint32_t>(n);
        }
        uint64_t n[4];
        for (int i = 0; i < 4; ++i)
            if (!number(f[i], 255, n[i])) return false;
        a.port = static_cast<uint8_t>(n[0]);
        a.bus = static_cast<uint8_t>(n[1]);
        a.target = static_cast<uint8_t>(n[2]);
        a.lun = static_cast<uint8_t>(n[3]);
        uint64_t tp = 0;
        if (!port.empty() && (!number(port, 0xFFFF, tp) || tp == 0)) return fail("a target port is 1 to 65535");
        a.targetPort = static_cast<uint32_t>(tp);
        return true;
    }

    bool onOff(const std::string &v, bool &out) {
        if (v == "on" || v == "yes" || v == "true") out = true;
        else if (v == "off" || v == "no" || v == "false") out = false;
        else return fail("expected on or off");
        return true;
    }

    bool diskKey(DiskDecl &d, const std::string &key, const std::string &v);
    std::shared_ptr<Host> parse(const std::string &text);
};

bool Parser::diskKey(DiskDecl &d, const std::string &key, const std::string &v) {
    DiskSpec &s = d.desc;
    uint64_t n = 0;
    std::string first, rest;
    std::vector<uint8_t> bytes;
    if (key == "vendor") s.vendor = text(v);
    else if (key == "product") s.product = text(v);
    else if (key == "revision") s.revision = text(v);
    else if (key == "serial") s.serial = text(v);
    else if (key == "lu" && text(v).empty()) return fail("lu needs a name");
    else if (key == "lu") s.lu = text(v);
    else if (key == "peripheral") {
        if (!number(v, 255, n)) return false;
        s.peripheral = static_cast<uint8_t>(n);
    } else if (key == "address" || key == "path") {
        ScsiAddress a;
        bool hasLevel = false;
        uint32_t level = 0;
        if (!address(v, a, &hasLevel, &level)) return false;
        size_t index = 0;
        if (key == "address" && !d.paths.empty()) {
            d.paths[0] = a;
        } else {
            // A disk's first path was counted with its "disk" line.
            if (!d.paths.empty() && !countPath("paths")) return false;
            index = d.paths.size();
            d.paths.push_back(a);
        }
        if (hasLevel) d.pathClaimLevels[index] = level;
        else d.pathClaimLevels.erase(index);
    } else if (key == "vanish-after-listing") {
        d.vanishAfterListing = true;
    } else if (key == "blocks") {
        if (!number(v, UINT64_MAX, n)) return false;
        s.blocks = n;
    } else if (key == "block-size") {
        if (!number(v, 1u << 20, n) || (n == 0 && fail("block size 0"))) return false;
        s.blockSize = static_cast<uint32_t>(n);
    } else if (key == "inquiry-length") {
        if (!number(v, 255, n)) return false;
        s.inquiryLength = n;
    } else if (key == "inquiry-bytes" || key == "inquiry-text") {
        if (!split(v, first, rest) || !number(first, 254, n)) return fail("expected OFFSET and a value");
        if (key == "inquiry-bytes" && !hex(rest, bytes, 255)) return false;
        if (key == "inquiry-text") {
            std::string t = text(rest);
            bytes.assign(t.begin(), t.end());
        }
        if (n + bytes.size() > 255) return fail("standard inquiry data ends at byte 255");
        s.inquiryAt(n, bytes);
    } else if (key == "raw-inquiry") {
        if (!hex(v, bytes, 255)) return false;
        s.rawInquiry = bytes;
    } else if (key == "page" || key == "raw-page" || key == "page-text") {
        if (!split(v, first, rest) || !number(first, 255, n)) return fail("expected a page CODE");
        if (key == "page-text") {
            s.pageText(static_cast<uint8_t>(n), text(rest));
        } else {
            if (!hex(rest, bytes, 0xFFFF)) return false;
            if (key == "page") s.page(static_cast<uint8_t>(n), bytes);
            else s.rawPage(static_cast<uint8_t>(n), bytes);
        }
    } else if (key == "page-at" || key == "page-text-at") {
        uint64_t offset = 0;
        std::string second, value;
        if (!split(v, first, rest) || !number(first, 255, n) || !split(rest, second, value) ||
            !number(second, 0xFFFF, offset))
            return fail("expected CODE OFFSET and a value");
        if (offset < 4) return fail("page offsets below 4 are the header");
        if (key == "page-at") {
            if (!hex(value, bytes, 0xFFFF)) return false;
        } else {
            std::string t = text(value);
            bytes.assign(t.begin(), t.end());
        }
        if (offset + bytes.size() > 0xFFFF + 4) return fail("page too long");
        s.pageAt(static_cast<uint8_t>(n), offset, bytes);
    } else if (key == "naa" || key == "eui64") {
        if (!hex(v, bytes, 255)) return false;
        if (key == "naa") s.naa(v);
        else s.eui64(v);
    } else if (key == "t10") {
        s.t10(text(v).substr(0, 255));
    } else if (key == "vendor-id") {
        s.vendorSpecificId(text(v).substr(0, 255));
    } else if (key == "no-page-00") {
        s.listPage00 = false;
    } else if (key == "respond") {
        size_t eq = v.find('=');
        if (eq == std::string::npos) return fail("respond CDB-BYTES = DATA-BYTES");
        std::vector<uint8_t> cdb;
        if (!hex(v.substr(0, eq), cdb, 16) || !hex(v.substr(eq + 1), bytes, 0xFFFF)) return false;
        if (cdb.empty()) return fail("respond needs CDB bytes");
        s.respond(cdb, bytes);
    } else if (key == "iscsi") {
        if (v.rfind("iscsi://", 0) != 0) return fail("an iSCSI disk is iscsi://HOST:PORT/IQN/LUN");
        s.iscsiUrl = v;
    } else if (key == "appear-after-rescans") {
        if (!number(v, 1000000, n)) return false;
        d.appearAfterRescans = static_cast<unsigned>(n);
    } else if (key == "appear-at-ms") {
        if (!number(v, UINT64_MAX / 2, n)) return false;
        d.timed = true;
        d.appearAtMs = n;
    } else if (key == "masked") {
        d.masked = true;
    } else if (key == "claim-level") {
        if (!number(v, UINT32_MAX, n)) return false;
        d.claimed = true;
        d.claimLevel = static_cast<uint32_t>(n);
    } else if (key == "fail-open") {
        d.failOpen = true;
        if (!v.empty()) {
            if (!number(v, UINT32_MAX, n)) return false;
            d.openError = static_cast<uint32_t>(n);
        }
    } else {
        return fail("unknown disk setting \"" + key.substr(0, 40) + "\"");
    }
    return true;
}

std::shared_ptr<Host> Parser::parse(const std::string &input) {
    auto host = Host::create();
    std::vector<DiskDecl> disks;
    DiskDecl *current = nullptr;
    std::istringstream in(input);
    std::string raw;
    while (std::getline(in, raw)) {
        ++lineNo;
        if (raw.size() > kMaxLineLength) {
            fail("line too long");
            return nullptr;
        }
        std::string line = trim(raw);
        if (line.empty() || line[0] == '#') continue;
        if (line.find('\0') != std::string::npos) {
            fail("NUL character");
            return nullptr;
        }
        size_t sp = line.find_first_of(" \t");
        std::string key = line.substr(0, sp);
        std::string value = sp == std::string::npos ? "" : trim(line.substr(sp));
        uint64_t n = 0;
        bool flag = false;
        if (key == "disk") {
            if (!countPath("disks")) return nullptr;
            disks.emplace_back();
            current = &disks.back();
            current->line = lineNo;
            continue;
        }
        if (key == "end") {
            current = nullptr;
            continue;
        }
        if (current != nullptr) {
            if (!diskKey(*current, key, value)) return nullptr;
            continue;
        }
        if (key == "computer-name") {
            std::string name = text(value);
            if (name.size() > MAX_COMPUTERNAME_LENGTH) name.resize(MAX_COMPUTERNAME_LENGTH);
            host->setComputerName(detail::upper(name));
        } else if (key == "ip-address") {
            if (host->ipAddresses().size() >= kMaxIpAddresses) {
                fail("too many addresses");
                return nullptr;
            }
            if (!host->addIpAddress(value)) {
                fail("ip-address needs four dotted numbers 0..255");
                return nullptr;
            }
        } else if (key == "initiator") {
            InitiatorIdentity who = host->initiator();
            if (value.empty()) {
                fail("initiator needs a name");
                return nullptr;
            }
            who.initiatorName = value;
            host->setInitiator(who);
        } else if (key == "isid") {
            std::vector<uint8_t> bytes;
            if (!hex(value, bytes, 6) || (bytes.size() != 6 && !fail("an ISID is six bytes"))) return nullptr;
            InitiatorIdentity who = host->initiator();
            std::copy(bytes.begin(), bytes.end(), who.isid);
            host->setInitiator(who);
        } else if (key == "virtual-clock") {
            if (!onOff(value, flag)) return nullptr;
            host->setVirtualClock(flag);
        } else if (key == "removal-needs-reboot") {
            if (!onOff(value, flag)) return nullptr;
            host->setRemovalNeedsReboot(flag);
        } else if (key == "root-rescan-delay-ms") {
            if (!number(value, UINT32_MAX, n)) return nullptr;
            host->setRootRescanDelay(n);
        } else if (key == "adapter") {
            std::istringstream words(value);
            std::string w;
            uint64_t port = 0, mask = 0;
            bool iscsi = false;
            if (!(words >> w) || !number(w, 255, port)) {
                fail("adapter PORT [alignment-mask N] [iscsi]");
                return nullptr;
            }
            while (words >> w) {
                if (w == "iscsi") iscsi = true;
                else if (w == "alignment-mask") {
                    if (!(words >> w) || !number(w, UINT32_MAX, mask)) {
                        fail("alignment-mask needs a number");
                        return nullptr;
                    }
                } else {
                    fail("unknown adapter setting \"" + w.substr(0, 40) + "\"");
                    return nullptr;
                }
            }
            host->addAdapter(static_cast<uint8_t>(port), static_cast<uint32_t>(mask), iscsi);
        } else if (key == "dos-name") {
            std::string name, target;
            if (!split(value, name, target)) {
                fail("dos-name NAME TARGET");
                return nullptr;
            }
            host->addDosName(name, target);
        } else if (key == "user") {
            // user NAME PASSWORD [RIGHT...]; "" is an empty password.
            std::istringstream words(value);
            std::string name, password, right;
            std::vector<std::string> rights;
            if (!(words >> name >> password)) {
                fail("user NAME PASSWORD [RIGHT...]");
                return nullptr;
            }
            if (password == "\"\"") password.clear();
            while (words >> right) rights.push_back(right);
            host->addAccount(name, password, rights);
        } else {
            fail("unknown setting \"" + key.substr(0, 40) + "\"");
            return nullptr;
        }
    }
    // A disk without an address takes the target after the highest one in
    // use on adapter 0, bus 0, kept here rather than looked up per disk.
    unsigned nextTarget = 0;
    for (auto &d : disks) {
        auto disk = std::make_shared<Disk>(std::move(d.desc));
        std::vector<Lun *> paths;
        if (d.paths.empty()) {
            ScsiAddress a;
            a.target = static_cast<uint8_t>(std::min(nextTarget, 255u));
            d.paths.push_back(a);
        }
        for (const auto &a : d.paths) {
            paths.push_back(&host->attach(disk, a));
            if (a.port == 0 && a.bus == 0) nextTarget = std::max(nextTarget, a.target + 1u);
        }
        for (size_t i = 0; i < paths.size(); ++i) {
            Lun *l = paths[i];
            if (d.masked) l->mask();
            if (d.appearAfterRescans > 0) l->appearAfterRescans(d.appearAfterRescans);
            if (d.timed) l->appearAt(d.appearAtMs);
            if (d.failOpen) l->failOpen(d.openError);
            if (d.claimed) l->claimLevel(d.claimLevel);
            auto own = d.pathClaimLevels.find(i);
            if (own != d.pathClaimLevels.end()) l->claimLevel(own->second);
            if (d.vanishAfterListing) l->vanishAfterListing();
        }
    }
    return host;
}

const char kDefaultHost[] = R"(# The host the platform layer simulates when RENDO_SIM_HOST names none:
# one disk of every identifier family the provider knows, and one LUN seen
# through two paths. The computer name comes from KELM_COMPUTER_NAME, else it
# is RENDOSIM; either name resolves to the address below.
ip-address 192.0.2.10
adapter 0
adapter 1

disk hp-msa
  vendor HP
  product MSA2012fc
  revision J200
  serial 3CL8151MHS
  inquiry-length 120
  inquiry-text 96 P5A9C2D4E6F8G0
  naa 600508b4000f1a2b0000c00001230000
  t10 "HP      600508B4000F1A2B0000C00001230000"

disk hp-eva
  vendor HP
  product HSV210
  revision 6220
  serial P5B2C3D4E5F6G7
  inquiry-length 140
  inquiry-bytes 130 50 00 1F E1 50 0A 2B 30
  naa 600508b4001019a20000900001230000

disk ibm-2107
  vendor IBM
  product 2107900
  revision .288
  serial 75ABCD11234
  inquiry-length 64
  inquiry-text 36 75ABCD1
  naa 6005076305ffc1a20000000000001234

disk ibm-ds-1724
  vendor IBM
  product "1724-100 FAStT"
  revision 0916
  serial SV12345678
  inquiry-text 36 SV12345678
  naa 600a0b80002904de000005a1469ce3a1

disk ibm-ds-1814
  vendor IBM
  product "1814 FAStT"
  revision 0916
  serial SQ87654321
  page-at 0xD0 8 60 0a 0b 80 00 29 04 de 00 00 00 00 46 9c e3 a2
  naa 600a0b80002904de000005a2469ce3a2

disk clariion
  vendor DGC
  product "RAID 5"
  revision 0326
  serial CK200012345678
  page-at 0xC0 49 0E
  page-text-at 0xC0 50 APM00123456789
  naa 600601601234567800abcdef01234567

disk symmetrix
  vendor EMC
  product SYMMETRIX
  revision 5874
  serial 9005001A2000
  inquiry-length 136
  inquiry-text 38 1A2
  inquiry-bytes 124 00 01 87 90 05

disk hitachi
  vendor HITACHI
  product OPEN-V
  revision 6006
  serial 50123450A1F
  inquiry-length 60
  inquiry-text 36 "50 123450A1F"
  naa 60060e80123450000001234500000a1f

disk lsi
  vendor LSI
  product INF-01-00
  revision 0735
  serial SL00112233
  page-at 0xC8 90 60 0a 0b 80 00 1f 2e 3d 00 00 00 00 4a 5b 6c 7d
  naa 600a0b800011223300004a5b6c7d0001

disk netapp
  vendor NETAPP
  product LUN
  revision 0.2
  serial P3OoG4WVLqdB
  t10 "NETAPP   LUN P3OoG4WVLqdB"
  respond C0 00 00 0A 98 0A 22 10 00 00 = 00 00 00 00 00 00 00 00 22 00 00 40 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 66 69 6C 65 72 30 31 3A 2F 76 6F 6C 2F 76 6F 6C 31 2F 6C 75 6E 30 61 00

disk generic-with-pages
  vendor ACME
  product "STORAGE ARRAY"
  revision 1.0
  serial AC0000000001
  naa 6001405a1b2c3d4e5f60718293a4b5c6

disk generic-without-page-00
  vendor ABC
  product "X 100"
  revision 0001
  serial ABC123
  no-page-00

# One disk per family whose data is too short for its rule. Where the short
# bytes are the LUN's own, its generator refuses it and a later one (here
# always the default) names it; the EVA and 1724 rules read on into the
# zero padding after their short enclosure bytes.
disk hp-msa-short
  vendor HP
  product MSA2012fc
  revision J200
  serial 3CL8151SHT
  inquiry-length 100
  naa 600508b4000f1a2b0000c000012300ff

disk hp-eva-short
  vendor HP
  product HSV210
  revision 6220
  serial P5B2C3D4E5F6SH
  naa 600508b4001019a200009000012300ee

disk ibm-2107-short
  vendor IBM
  product 2107900
  revision .288
  serial 75ABCD1SHRT
  inquiry-length 40
  naa 6005076305ffc1a200000000000012ff

disk ibm-ds-1724-short
  vendor IBM
  product "1724-100 FAStT"
  revision 0916
  serial SV1234SHRT
  inquiry-length 40
  naa 600a0b80002904de000005a1469ce3ff

disk clariion-short
  vendor DGC
  product "RAID 5"
  revision 0326
  serial CK2000SHORT
  naa 600601601234567800abcdef012345ff

disk symmetrix-short
  vendor EMC
  product SYMMETRIX
  revision 5874
  serial 9005003C4000
  inquiry-text 38 3C4
  naa 60000970000192601234533030334341

disk hitachi-short
  vendor HITACHI
  product OPEN-V
  revision 6006
  serial 50123450B2F
  inquiry-length 47
  naa 60060e80123450000001234500000b2f

disk lsi-short
  vendor LSI
  product INF-01-00
  revision 0735
  serial SL0011SHRT
  naa 600a0b800011223300004a5b6c7d0002

disk netapp-short
  vendor NETAPP
  product LUN
  revision 0.2
  serial P3OoG4WVLqdX
  t10 "NETAPP   LUN P3OoG4WVLqdX"

# Any product with DISK in it is offered to the CLARiiON rule first.
disk acme-disk
  vendor ACME
  product "VIRTUAL DISK"
  revision 1.0
  serial AC0000000002
  naa 6001405a1b2c3d4e5f60718293a4b5ff

disk multipath
  vendor EMC
  product SYMMETRIX
  revision 5874
  serial 9005002B3000
  inquiry-length 136
  inquiry-text 38 2B3
  inquiry-bytes 124 00 01 87 90 05
  address 0 0 40 0
  path 1 0 40 0
)";

} // namespace

std::shared_ptr<Host> parseHostDescription(const std::string &text, std::string *error) {
    Parser p;
    auto host = p.parse(text);
    if (!host && error) *error = "line " + std::to_string(p.errorLine) + ": " + p.error;
    return host;
}

// Errors read "FILE:LINE: reason", as compilers write them, so that editors
// and people jump to the line.
std::shared_ptr<Host> loadHostDescription(const std::string &path, std::string *error) {
    // stdio rather than a stream: a directory opens like a file, and only
    // the read error (with its errno) tells it from an empty one.
    std::string text;
    FILE *f = std::fopen(path.c_str(), "rb");
    int code = errno;
    if (f != nullptr) {
        char buf[65536];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
        code = std::ferror(f) ? errno : 0;
        std::fclose(f);
    }
    if (f == nullptr || code != 0) {
        if (error) *error = path + ": cannot read host description: " + std::strerror(code);
        return nullptr;
    }
    Parser p;
    auto host = p.parse(text);
    if (!host && error) *error = path + ":" + std::to_string(p.errorLine) + ": " + p.error;
    return host;
}

const char *defaultHostDescription() { return kDefaultHost; }

} // namespace rendo_sim
