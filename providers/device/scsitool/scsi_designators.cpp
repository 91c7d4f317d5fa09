#include "scsitool/scsi_designators.h"

#include "scsitool/scsi_bytes.h"

#include <algorithm>
#include <cstdio>

namespace {

constexpr uint32_t kHeader = 4;  // page header, and each descriptor's header
constexpr uint8_t kDeviceIdPage = 0x83;

std::string format(const char *fmt, unsigned a, unsigned b = 0, unsigned c = 0) {
    char buf[160];
    std::snprintf(buf, sizeof buf, fmt, a, b, c);
    return buf;
}

std::string hexOf(const std::vector<uint8_t> &bytes) {
    std::string out;
    for (uint8_t b : bytes) out += format("%02x", b);
    return out;
}

// ASCII as sg_vpd shows it: trailing zero padding dropped, anything that
// does not print as a dot.
std::string printable(std::vector<uint8_t>::const_iterator from, std::vector<uint8_t>::const_iterator to) {
    while (to != from && *(to - 1) == 0) --to;
    std::string out;
    for (; from != to; ++from) out += (*from >= 0x20 && *from < 0x7F) ? static_cast<char>(*from) : '.';
    return out;
}

// The 16-bit value in bytes 2-3 of a 4-byte designator (relative port,
// port group, logical unit group); the raw bytes when the length is off.
std::string shortValue(const char *label, const std::vector<uint8_t> &id) {
    if (id.size() != 4)
        return std::string(label) + ": " + hexOf(id) + format(" (%u bytes, 4 expected)", unsigned(id.size()));
    return std::string(label) + format(": 0x%x", LoadBe16(id.data() + 2));
}

// The value lines of one designator, without indentation.
std::vector<std::string> valueLines(const ScsiDesignator &d) {
    const std::vector<uint8_t> &id = d.id;
    bool text = d.codeSet == 2 || d.codeSet == 3;
    switch (d.type) {
    case 1: {
        auto vendorEnd = id.begin() + std::min<size_t>(8, id.size());
        std::vector<std::string> lines{"vendor id: " + printable(id.begin(), vendorEnd)};
        if (id.size() > 8) lines.push_back("vendor specific: " + printable(id.begin() + 8, id.end()));
        return lines;
    }
    case 4: return {shortValue("Relative target port", id)};
    case 5: return {shortValue("Target port group", id)};
    case 6: return {shortValue("Logical unit group", id)};
    case 8: return {"SCSI name string:", printable(id.begin(), id.end())};
    default:
        if (text) return {(d.type == 0 ? "vendor specific: " : "") + printable(id.begin(), id.end())};
        return {"0x" + hexOf(id)};
    }
}

} // namespace

std::string ScsiDesignatorTypeName(uint8_t type) {
    static const char *const kNames[] = {"vendor specific [0x0]", "T10 vendor identification", "EUI-64 based",
                                         "NAA", "Relative target port", "Target port group", "Logical unit group",
                                         "MD5 logical unit identifier", "SCSI name string",
                                         "Protocol specific port identifier", "UUID identifier"};
    return type < sizeof kNames / sizeof kNames[0] ? kNames[type] : format("Reserved [0x%x]", type);
}

std::string ScsiCodeSetName(uint8_t codeSet) {
    static const char *const kNames[] = {"Reserved [0x0]", "Binary", "ASCII", "UTF-8"};
    return codeSet < 4 ? kNames[codeSet] : format("Reserved [0x%x]", codeSet);
}

std::string ScsiAssociationName(uint8_t association) {
    static const char *const kNames[] = {"Addressed logical unit", "Target port",
                                         "Target device that contains addressed lu", "Reserved [0x3]"};
    return kNames[association & 3];
}

std::string ScsiProtocolName(uint8_t protocol) {
    static const char *const kNames[] = {"Fibre Channel (FCP-4)", "Parallel SCSI (SPI-5)", "SSA (SSA-S3P)",
                                         "IEEE 1394 (SBP-3)", "Remote Direct Memory Access (SRP)",
                                         "Internet SCSI (iSCSI)", "Serial Attached SCSI (SPL-4)",
                                         "Automation/Drive Interface (ADT-2)", "AT Attachment Interface (ACS-2)",
                                         "USB Attached SCSI (UAS-2)", "SCSI over PCI Express (SOP)", "PCIe"};
    if (protocol == 0xF) return "No specific protocol";
    return protocol < sizeof kNames / sizeof kNames[0] ? kNames[protocol] : format("Reserved [0x%x]", protocol);
}

ScsiDesignatorList WalkDeviceIdPage(const uint8_t *page, uint32_t length) {
    ScsiDesignatorList out;
    if (page == nullptr || length < kHeader) {
        out.problems.push_back(format("page of %u byte(s) is shorter than its 4-byte header", page ? length : 0));
        return out;
    }
    if (page[1] != kDeviceIdPage) out.problems.push_back(format("page code 0x%02x, not 0x83", page[1]));
    uint32_t declared = uint32_t(LoadBe16(page + 2)) + kHeader;
    if (declared > length)
        out.problems.push_back(format("page length says %u bytes, only %u stored", declared, length));
    uint32_t end = std::min(declared, length);
    for (uint32_t off = kHeader; off < end;) {
        if (end - off < kHeader) {
            out.problems.push_back(format("designator header at byte %u cut short: %u byte(s) left", off, end - off));
            break;
        }
        uint32_t idLength = page[off + 3];
        if (idLength > end - off - kHeader) {
            out.problems.push_back(format("designator at byte %u: length %u runs past the end (%u byte(s) left)", off,
                                          idLength, end - off - kHeader));
            break;
        }
        ScsiDesignator d;
        d.offset = off;
        d.protocol = page[off] >> 4;
        d.codeSet = page[off] & 0x0F;
        d.piv = (page[off + 1] & 0x80) != 0;
        d.association = (page[off + 1] >> 4) & 3;
        d.type = page[off + 1] & 0x0F;
        d.id.assign(page + off + kHeader, page + off + kHeader + idLength);
        out.designators.push_back(std::move(d));
        off += kHeader + idLength;
    }
    return out;
}

std::vector<std::string> FormatDeviceIdPage(const uint8_t *page, uint32_t length, unsigned indent, bool withOffsets) {
    ScsiDesignatorList list = WalkDeviceIdPage(page, length);
    const std::string pad(indent, ' ');
    std::vector<std::string> lines{pad + "Device Identification VPD page:"};
    int association = -1;
    for (const ScsiDesignator &d : list.designators) {
        if (d.association != association) {
            association = d.association;
            lines.push_back(pad + "  " + ScsiAssociationName(d.association) + ":");
        }
        lines.push_back(pad + "    designator type: " + ScsiDesignatorTypeName(d.type) +
                        ",  code set: " + ScsiCodeSetName(d.codeSet));
        // The protocol field means something only for port and device designators.
        if (d.piv && (d.association == 1 || d.association == 2))
            lines.push_back(pad + "      transport: " + ScsiProtocolName(d.protocol));
        for (const std::string &v : valueLines(d)) lines.push_back(pad + "      " + v);
        if (withOffsets) {
            unsigned first = d.offset + kHeader, count = unsigned(d.id.size());
            lines.push_back(pad + (count ? format("      (page bytes %u..%u)", first, first + count - 1)
                                         : format("      (no designator bytes, header at %u)", d.offset)));
        }
    }
    if (list.designators.empty() && list.problems.empty()) lines.push_back(pad + "  (no designators)");
    for (const std::string &p : list.problems) lines.push_back(pad + "  malformed: " + p);
    return lines;
}
