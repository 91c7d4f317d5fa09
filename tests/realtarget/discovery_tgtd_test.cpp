// The SCSI tool, discovery and the UDID factory over simulated disks backed
// by a private tgtd. tgtd lists pages 0x00, 0x80, 0x83 and 0xB0-0xB2 only,
// right-justifies the serial number in a 36-byte blank-filled field, and puts
// the scsi_id first in page 0x83 as a NUL-padded T10 vendor ID designator.
// Expected identifiers are worked out here from bytes read through a second
// session of our own, never by asking the code under test.
#include "realtarget_fixture.h"
#include "realtarget_scsi.h"

#include "scsitool/scsitool_win32.h"
#include "udid/device_udid_factory.h"

#include "platform/simhost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <set>

using namespace rendo_realtarget;
using rendo_sim::DataDirection;

namespace {

// Bytes [at, at + length) of an answer as text, clipped to what arrived.
std::string asText(const std::vector<uint8_t> &d, size_t at, size_t length)
{
    if (at >= d.size())
        return {};
    return std::string(d.begin() + static_cast<long>(at), d.begin() + static_cast<long>(std::min(d.size(), at + length)));
}

struct Unit {
    LogicalUnitSpec desc;
    uint32_t lun = 0;
    std::string url;
    // As read through hostB(), not through the simulated host.
    std::vector<uint8_t> inquiry, page00, page80, page83;
    rendo_sim::Lun *disk = nullptr;
};

std::wstring wide(const std::string &s) { return std::wstring(s.begin(), s.end()); }

std::string trimRight(std::string s)
{
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

std::string upper(std::string s)
{
    for (char &c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// The default rule: vendor and product from inquiry bytes 8-15 and 16-31
// (trailing blanks off, inner blanks as '_'), then page 0x83 in hex with
// trailing '0's off, at most 80 digits.
std::string defaultRuleUdid(const Unit &u)
{
    std::string vendor = trimRight(asText(u.inquiry, 8, 8));
    std::string product = trimRight(asText(u.inquiry, 16, 16));
    std::replace(product.begin(), product.end(), ' ', '_');
    std::string hex;
    for (uint8_t b : u.page83) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", b);
        hex += two;
    }
    auto stripZeros = [&hex] {
        while (!hex.empty() && hex.back() == '0')
            hex.pop_back();
    };
    stripZeros();
    if (hex.size() > 80) {
        hex.resize(80);
        stripZeros();
    }
    return upper("UDID##" + vendor + "##" + product + "##" + hex);
}

class TgtdDiscovery : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(tgtd_.start(&error)) << error;
        std::string iqn = tgtd_.addTarget("udid", &error);
        ASSERT_FALSE(iqn.empty()) << error;

        // Only the default rule claims this one.
        acme_.desc.vendor = "ACME";
        acme_.desc.product = "STORAGE ARRAY";
        acme_.desc.scsiId = "acme-lu-0001";
        acme_.desc.serial = "ACME000001";
        // IBM TotalStorage (product contains 2145): enclosure from page 0x80,
        // LUN from page 0x83 bytes 22-23; tgtd's pages have both.
        ibm_.desc.vendor = "IBM";
        ibm_.desc.product = "2145";
        ibm_.desc.scsiId = "ibm-svc-lu-0002";
        ibm_.desc.serial = "SVC0000002";
        // "DISK" in the product: the CLARiiON rule claims it, finds no page
        // 0xC0 and hands it on to the default rule.
        vdisk_.desc.vendor = "RENDO";
        vdisk_.desc.product = "VDISK";
        vdisk_.desc.scsiId = "rendo-vd-0003";
        vdisk_.desc.serial = "RVD0000003";

        uint32_t lun = 1;
        for (Unit *u : units()) {
            u->lun = lun++;
            // The fixture passes no blanks through --params; tgtadm takes a
            // lone product_id with one.
            LogicalUnitSpec plain = u->desc;
            std::replace(plain.product.begin(), plain.product.end(), ' ', '_');
            ASSERT_TRUE(tgtd_.addLogicalUnit(iqn, u->lun, plain, &error)) << error;
            if (plain.product != u->desc.product) {
                std::string out;
                ASSERT_TRUE(tgtd_.tgtadm({"--lld", "iscsi", "--mode", "logicalunit", "--op", "update", "--tid",
                                          targetId(iqn), "--lun", std::to_string(u->lun), "--params",
                                          "product_id=" + u->desc.product},
                                         &out, &error))
                    << error << out;
            }
            u->url = tgtd_.url(iqn, u->lun);
            auto raw = rendo_sim::openIscsiBackend(u->url, hostB(), &error);
            ASSERT_TRUE(raw) << error;
            u->inquiry = readIn(*raw, inquiryCdb(96), 96);
            u->page00 = readIn(*raw, vpdCdb(0x00, 255), 255);
            u->page80 = readIn(*raw, vpdCdb(0x80, 255), 255);
            u->page83 = readIn(*raw, vpdCdb(0x83, 255), 255);
            ASSERT_GE(u->inquiry.size(), 36u);
            ASSERT_GE(u->page83.size(), 24u);
            ASSERT_GE(u->page80.size(), 11u);
        }

        host_ = rendo_sim::Host::create("TGTDHOST");
        for (Unit *u : units())
            u->disk = &host_->addDisk(
                rendo_sim::DiskSpec::make(u->desc.vendor, u->desc.product, u->desc.revision, u->desc.serial).iscsi(u->url));
    }

    // tgtd's number for the target: "Target <tid>: <iqn>" in its listing.
    std::string targetId(const std::string &iqn)
    {
        std::string out, error;
        EXPECT_TRUE(tgtd_.tgtadm({"--lld", "iscsi", "--mode", "target", "--op", "show"}, &out, &error)) << error;
        size_t at = out.find(": " + iqn + "\n");
        size_t start = out.rfind("Target ", at);
        if (at == std::string::npos || start == std::string::npos)
            return "0";
        return out.substr(start + 7, at - start - 7);
    }

    // A new session starts with a unit attention: ask again after it.
    static std::vector<uint8_t> readIn(rendo_sim::DiskBackend &disk, const std::vector<uint8_t> &cdb, size_t size)
    {
        std::vector<uint8_t> data;
        for (int attempt = 0; attempt < 3; ++attempt) {
            data.assign(size, 0);
            rendo_sim::ScsiResult r = runCdb(disk, cdb, DataDirection::In, data);
            if (!r.transportError && r.status == 0)
                return data;
        }
        ADD_FAILURE() << "INQUIRY page " << int(cdb[2]) << " failed";
        return {};
    }

    std::vector<Unit *> units() { return {&acme_, &ibm_, &vdisk_}; }

    TgtdTarget tgtd_;
    Unit acme_, ibm_, vdisk_;
    std::shared_ptr<rendo_sim::Host> host_;
};

std::vector<uint8_t> stored(const CScsiDeviceData &device, uint32_t code)
{
    uint32_t length = 0;
    const uint8_t *p = device.getModePage(code, length);
    return p ? std::vector<uint8_t>(p, p + length) : std::vector<uint8_t>();
}

// A stored page is the answer followed by the zeros of the request buffer.
::testing::AssertionResult holds(const std::vector<uint8_t> &stored, const std::vector<uint8_t> &answer)
{
    if (stored.size() < answer.size() || !std::equal(answer.begin(), answer.end(), stored.begin()))
        return ::testing::AssertionFailure() << "stored " << stored.size() << " bytes do not start with the "
                                             << answer.size() << " answered";
    if (std::any_of(stored.begin() + static_cast<long>(answer.size()), stored.end(), [](uint8_t b) { return b != 0; }))
        return ::testing::AssertionFailure() << "non-zero bytes after the answer";
    return ::testing::AssertionSuccess();
}

TEST_F(TgtdDiscovery, UpdateDeviceStoresTgtdsPagesAndAsksOnlyForListedOnes)
{
    rendo_sim::ScopedHost use(host_);
    CScsiTool tool;
    CUDIDFactory factory;
    for (Unit *u : units()) {
        SCOPED_TRACE(u->desc.product);
        const std::string path = u->disk->devicePath();
        u->disk->disk()->clearCommands();
        CScsiDeviceData device(wide(path), wide(path), L"TGTDHOST", 0, 0, 0, 0xFFFFFFFFu, L"", L"", L"", 0);
        ASSERT_EQ(0, tool.UpdateDevice(&device));

        EXPECT_EQ(u->desc.vendor, device.m_vendorId);
        EXPECT_EQ(u->desc.product, device.m_productId);
        EXPECT_EQ(u->desc.revision, device.m_firmwareLevel);
        // From the drive geometry: whole cylinders of 255 x 63 blocks.
        EXPECT_LE(device.m_capacity, u->desc.sizeBytes);
        EXPECT_GT(device.m_capacity + 255 * 63 * 512, u->desc.sizeBytes);

        // The list is page 0x00 as tgtd sends it.
        ASSERT_GE(u->page00.size(), 4u);
        std::vector<uint32_t> listed(u->page00.begin() + 4, u->page00.end());
        EXPECT_EQ(listed, device.m_supportedModePageList);
        EXPECT_TRUE(holds(stored(device, 0x83), u->page83));
        EXPECT_TRUE(holds(stored(device, 0x80), u->page80));
        EXPECT_TRUE(holds(stored(device, 0), u->inquiry));
        for (uint32_t code : {0xC0u, 0xC8u, 0x10u, 0x11u, 0xD0u})
            EXPECT_TRUE(stored(device, code).empty()) << std::hex << code;

        // Unlisted pages were never asked for.
        std::set<uint8_t> asked;
        for (const rendo_sim::CommandRecord &c : u->disk->disk()->commands())
            if (c.opcode() == 0x12 && c.cdb.size() > 2 && (c.cdb[1] & 1))
                asked.insert(c.cdb[2]);
        EXPECT_EQ((std::set<uint8_t>{0x00, 0x80, 0x83}), asked);

        // The generator each record ends at, and the refusals on the way.
        std::string generator;
        std::vector<std::string> refusals;
        factory.getUniqueDeviceID(&device, generator, &refusals);
        if (u == &ibm_) {
            EXPECT_EQ("IBM:TOTALSTORAGE", generator);
            EXPECT_TRUE(refusals.empty());
        } else if (u == &vdisk_) {
            EXPECT_EQ(":", generator);
            ASSERT_EQ(1u, refusals.size());
            EXPECT_EQ(0u, refusals[0].find("DGC:")) << refusals[0];
        } else {
            EXPECT_EQ(":", generator);
            EXPECT_TRUE(refusals.empty());
        }
    }
}

TEST_F(TgtdDiscovery, FactoryGivesEachTgtdDiskItsUdid)
{
    // The IBM rule over tgtd's bytes: enclosure "IBM." + "2145" + "-" + page
    // 0x80 bytes 4-10, which are seven of the blanks in front of the serial;
    // LUN: page 0x83 bytes 22-23 in hex, i.e. the scsi_id's 15th character
    // ('2', 0x32) and the first NUL of its padding.
    ASSERT_EQ(std::string(7, ' '), asText(ibm_.page80, 4, 7));
    ASSERT_EQ(0x32, ibm_.page83[22]);
    ASSERT_EQ(0x00, ibm_.page83[23]);
    const std::string ibmUdid = "UDID##IBM##TOTALSTORAGE##IBM.2145-       ##3200";

    rendo_sim::ScopedHost use(host_);
    CUDIDFactory factory;
    DeviceMap map = factory.enumerateDeviceMap(false, false, false);
    EXPECT_EQ(3u, map.size());
    for (Unit *u : units()) {
        SCOPED_TRACE(u->desc.product);
        const std::string path = u->disk->devicePath();
        ASSERT_TRUE(map.count(path));
        EXPECT_EQ(path, map[path].deviceName);
        EXPECT_EQ(u == &ibm_ ? ibmUdid : defaultRuleUdid(*u), map[path].udid);
    }
    // The default rule keeps 80 digits of a 76-byte page; they end in the
    // scsi_id, whose NUL padding the trailing-zero rule drops.
    EXPECT_EQ("UDID##ACME##STORAGE_ARRAY##008300480201002461636D652D6C752D30303031", map[acme_.disk->devicePath()].udid);
    // A cached lookup re-reads that one disk to confirm it, and agrees.
    EXPECT_EQ(ibmUdid, factory.getCachedUniqueDeviceID(ibm_.disk->devicePath().c_str(), false));
}

} // namespace
