// The device record's bounded page access and the inquiry text fields.
#include "scsitool/device_scsi_data.h"
#include "scsitool/scsitool_win32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Standard inquiry data of n bytes: a disk, with the given text fields.
Bytes inquiry(size_t n, const char *vendor8, const char *product16, const char *revision4) {
    Bytes b(std::max<size_t>(n, 36), 0);
    b[4] = static_cast<uint8_t>(b.size() - 5);
    std::memcpy(&b[8], vendor8, 8);
    std::memcpy(&b[16], product16, 16);
    std::memcpy(&b[32], revision4, 4);
    b.resize(n);
    return b;
}

TEST(ScsiPageView, EveryReadStaysInsideTheStoredLength) {
    const uint8_t bytes[] = {0x00, 0x83, 0x00, 0x08, 'A', 'B', 0x00, 'C', 0xFE};
    CScsiPageView v(bytes, sizeof bytes);
    EXPECT_TRUE(v.has(0, 9) && v.has(9, 0));
    // Offsets and counts near the top of the range must not wrap around.
    EXPECT_FALSE(v.has(8, 2) || v.has(10, 0) || v.has(UINT64_MAX, 2) || v.has(2, UINT64_MAX));
    EXPECT_EQ(v.byte(8) + v.byte(9) + v.byte(UINT64_MAX), 0xFE);
    EXPECT_EQ(v.be16(8), 0);  // half stored
    EXPECT_EQ(v.be32(0), 0x00830008u);
    EXPECT_EQ(v.text(4, 10) + "|" + v.text(7, 10) + "|" + v.text(UINT64_MAX, UINT64_MAX), "AB|C\xFE|");
    EXPECT_EQ(v.hex(6, 10, true) + "|" + v.hex(UINT64_MAX - 1, 4), "0043FE|");
    EXPECT_FALSE(CScsiPageView(nullptr, 20).has(0, 1));
}

TEST(ScsiToolParsing, InquiryTextFields) {
    CScsiTool tool;
    CScsiDeviceData d(L"\\\\.\\PHYSICALDRIVE3", L"\\\\.\\PHYSICALDRIVE3", L"HOSTA", 0, 0, 0, 0xFFFFFFFFu, L"", L"", L"",
                      0);
    EXPECT_THROW(tool.UpdateVendorId(&d), int);  // no standard inquiry stored
    auto update = [&](const Bytes &data) {
        d.setModePage(SCSI_STD_INQUIRY_KEY, data.data(), static_cast<uint32_t>(data.size()));
        tool.UpdateVendorId(&d);
        tool.UpdateProductId(&d);
        tool.UpdateFirmwareLevel(&d);
    };
    // A zero byte ends a field; a field that runs past the data is cut there.
    update(inquiry(20, "AB\0CDEFG", "PRODUCT-NAME-16C", "REV1"));
    EXPECT_EQ(d.m_vendorId + "/" + d.m_productId + "/" + d.m_firmwareLevel, "AB/PROD/");
    update(inquiry(36, "        ", "                ", "    "));
    EXPECT_EQ(d.m_vendorId + "/" + d.m_firmwareLevel, "/    ");
}

} // namespace
