// What explain shows must be the truth about the UDID: for a disk of every
// rule family the recorded pieces, joined as the rule joins them, give the
// UDID byte for byte, and each piece's bytes are the disk's bytes at the
// offset shown and turn into the piece's text.
#include "scsitool/scsi_designators.h"
#include "udid/device_udid_factory.h"

#include "platform/simhost.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <set>

namespace {

std::string hexOf(const uint8_t *p, size_t n) {
    static const char *d = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) s += {d[p[i] >> 4], d[p[i] & 15]};
    return s;
}

void checkPart(const CScsiDeviceData &d, const UdidFieldPart &p) {
    SCOPED_TRACE(d.m_deviceName + " " + p.field + " \"" + p.text + "\"");
    std::string bytes;
    if (p.source == UdidSource::Inquiry || p.source == UdidSource::VpdPage) {
        uint32_t stored = 0;
        const uint8_t *page = d.getModePage(p.source == UdidSource::Inquiry ? 0 : p.page, stored);
        ASSERT_TRUE(page != nullptr && p.offset + p.length <= stored);
        EXPECT_EQ(p.hex, hexOf(page + p.offset, p.length));
        bytes.assign(page + p.offset, page + p.offset + p.length);
    } else if (p.source == UdidSource::VendorCommand) {
        for (size_t i = 0; i + 1 < p.hex.size(); i += 2) bytes += char(std::stoi(p.hex.substr(i, 2), nullptr, 16));
    } else {
        EXPECT_EQ(p.conversion, UdidConversion::Literal);
        EXPECT_TRUE(p.source != UdidSource::DevicePath || p.text == d.m_deviceName);
        return;
    }
    std::string digits, underscored = bytes;
    for (char c : p.text) if (c != '-' && c != ':') digits += char(std::tolower(c));
    for (char &c : underscored) if (c == ' ') c = '_';
    switch (p.conversion) {
    case UdidConversion::Text: EXPECT_EQ(p.text, bytes); EXPECT_EQ(bytes.find('\0'), std::string::npos); break;
    case UdidConversion::TextBlanksAsUnderscores: EXPECT_EQ(p.text, underscored); break;
    case UdidConversion::Hex: EXPECT_EQ(digits, p.hex); break;
    case UdidConversion::HexTrimmed: EXPECT_EQ(p.hex.find_first_not_of('0', digits.size()), std::string::npos);
                                     EXPECT_EQ(p.hex.compare(0, digits.size(), digits), 0); break;
    case UdidConversion::HexNumber: EXPECT_EQ(p.text, std::to_string(std::strtol(bytes.c_str(), nullptr, 16))); break;
    case UdidConversion::DecimalNumber: EXPECT_EQ(p.text, std::to_string(std::strtol(bytes.c_str(), nullptr, 10)));
                                        break;
    case UdidConversion::Literal: ADD_FAILURE() << "bytes without a conversion";
    }
}

// The built-in host has a disk of every family and short ones that their
// rules refuse; the rows add the branches it lacks.
TEST(UdidExplain, RecordedPiecesRebuildEveryFamilysUdidFromTheBytesShown) {
    using rendo_sim::DiskSpec;
    std::string error;
    auto host = rendo_sim::parseHostDescription(rendo_sim::defaultHostDescription(), &error);
    ASSERT_TRUE(host) << error;
    const std::pair<DiskSpec, const char *> rows[] = {
        {DiskSpec::make("IBM", "2105800", "XP01", "12345AB").naa("6005076300c0000000000000000012ab"),
         "IBM:TOTALSTORAGE"},
        {DiskSpec::make("IBM", "3552", "XP02").pageAt(0xC8, 90, std::vector<uint8_t>(16, 0xA5))
             .naa("600a0b800011223300004a5b6c7d0002"), "IBM:TOTALSTORAGE"},
        {DiskSpec::make("HITACHI", "USP", "XP03").inquiryTextAt(36, "7123456 0A1F"), "HITACHI:HDS"},
        {DiskSpec::make("HITACHI", "9960", "XP04").inquiryTextAt(36, "D6001234BEEF"), "HITACHI:HDS"},
        {DiskSpec::make("EMC", "SYMMETRIX", "XP05").inquiryTextAt(38, "9AB")
             .inquiryAt(124, {0, 1, 2, 3, 4, 0, 0, 0, '7', '9', 'A', 'B'}), "EMC:SYMMETRIX"},
    };
    for (const auto &row : rows) host->addDisk(row.first);
    rendo_sim::ScopedHost use(host);

    CUDIDFactory factory;
    std::vector<CScsiDeviceData *> records = factory.pnpManager().rescan(false, false, false);
    std::vector<std::unique_ptr<CScsiDeviceData>> owned(records.begin(), records.end());
    std::set<std::string> named;
    int refusals = 0;
    for (const std::unique_ptr<CScsiDeviceData> &d : owned) {
        CUdidExplanation e;
        std::string generator, udid = factory.explainUniqueDeviceID(d.get(), e, generator);
        EXPECT_EQ(udid, factory.getUniqueDeviceID(d.get())) << "recording changed the UDID";
        EXPECT_EQ(e.rebuild(), udid) << d->m_deviceName;
        ASSERT_FALSE(e.verdicts().empty());
        EXPECT_TRUE(e.verdicts().back().named && e.verdicts().back().rule == generator);
        for (const UdidRuleVerdict &v : e.verdicts()) {
            refusals += v.claimed && !v.named;
            EXPECT_TRUE(!v.claimed || v.named || v.reason.rfind("MSG_UDID_ERROR_", 0) == 0) << v.reason;
        }
        for (const UdidFieldPart &p : e.parts()) checkPart(*d, p);
        for (const auto &row : rows)
            EXPECT_TRUE(d->m_firmwareLevel != row.first.revision || generator == row.second) << row.first.revision;
        named.insert(generator);
    }
    EXPECT_GE(refusals, 7);  // the built-in host's short disks
    EXPECT_EQ(named, (std::set<std::string>{"HP:MSA", "HP:HSV", "IBM:TOTALSTORAGE", "IBM:DISKSYSTEM", "DGC:",
                                            "EMC:SYMMETRIX", "HITACHI:HDS", "ENGENIO:UNIVERSAL", "NETAPP:LUN", ":"}));
}

// Malformed pages are reported, and what is well formed before the fault
// is still decoded.
TEST(UdidExplain, DesignatorWalkReportsMalformedPages) {
    const struct {
        std::vector<uint8_t> page;
        size_t designators;
        const char *problem;
    } rows[] = {
        {{0, 0x83, 0, 12, 1, 3, 0, 8, 1, 2, 3, 4, 5, 6, 7, 8}, 1, ""},
        {{0, 0x83, 0, 40, 1, 3, 0, 8, 1, 2, 3, 4, 5, 6, 7, 8}, 1, "page length says 44 bytes, only 16 stored"},
        {{0, 0x83, 0, 12, 1, 3, 0, 9, 1, 2, 3, 4, 5, 6, 7, 8}, 0, "designator at byte 4: length 9 runs past"},
        {{0, 0x83, 0, 14, 2, 1, 0, 4, 'A', 'C', 'M', 'E', 1, 3, 0, 8, 1, 2}, 1, "designator at byte 12: length 8"},
        {{0, 0x83, 0, 6, 2, 1, 0, 0, 1, 3}, 1, "designator header at byte 8 cut short: 2 byte(s) left"},
        {{0, 0x83}, 0, "shorter than its 4-byte header"},
    };
    for (const auto &r : rows) {
        ScsiDesignatorList l = WalkDeviceIdPage(r.page.data(), uint32_t(r.page.size()));
        EXPECT_EQ(l.designators.size(), r.designators);
        std::string problems;
        for (const std::string &p : l.problems) problems += p + ";";
        EXPECT_TRUE(*r.problem ? problems.find(r.problem) != std::string::npos : problems.empty()) << problems;
    }
}

} // namespace
